// The computer's name from a stand-in for systemd-hostnamed on a private
// bus posing as the system bus.
#include <gtest/gtest.h>

#include "platform/linux/net/computer_name.h"
#include "platform_glib/test_support.h"

using namespace corvid::linux_platform;
using namespace corvid::testing;

namespace {

const char* const kHostnamedXml = "<node><interface name='org.freedesktop.hostname1'/></node>";

}  // namespace

TEST(ComputerName, PrettyHostnameFirstThenTheHostNameAndAHungServiceHoldsUpNothing) {
  PrivateBus bus;
  setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1);
  const std::string host = g_get_host_name();
  {
    ComputerName name;  // nobody serves hostname1
    EXPECT_EQ(name.current(), host);
    spinFor(200ms);
    EXPECT_EQ(name.current(), host);
  }

  // Answers one name per property read (on GDBus's thread).
  {
    BusStub hostnamed(bus.address(), "org.freedesktop.hostname1", "/org/freedesktop/hostname1", kHostnamedXml,
                      [calls = 0](const std::string&, GVariant*) mutable {
                        const char* name = calls++ == 0 ? " 철수의 노트북\n" : "  ";
                        return BusStub::Reply(g_variant_new("(v)", g_variant_new_string(name)));
                      });
    ComputerName name;
    EXPECT_EQ(name.current(), host);  // asked, not answered yet: never waits
    ASSERT_TRUE(spinUntil([&] { return hostnamed.calls().size() >= 1; }));
    ASSERT_TRUE(spinUntil([&] { return name.current() == "철수의 노트북"; }));
    ASSERT_TRUE(spinUntil([&] { return name.current() == host; }));  // blank: no name
  }

  // A hostnamed that never answers: every call returns at once while the
  // main loop keeps running.
  BusStub hung(bus.address(), "org.freedesktop.hostname1", "/org/freedesktop/hostname1", kHostnamedXml,
               [](const std::string&, GVariant*) { return BusStub::Reply::never(); });
  ComputerName name;
  int ticks = 0;
  guint timer = g_timeout_add(
      10, [](gpointer n) -> gboolean { return ++*static_cast<int*>(n), G_SOURCE_CONTINUE; }, &ticks);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(name.current(), host);
    spinUntil([&, before = ticks] { return ticks > before; });
  }
  g_source_remove(timer);
  EXPECT_GE(ticks, 20);
  EXPECT_GE(hung.calls().size(), 1u);
}
