// The computer's name from a stand-in for systemd-hostnamed on a private
// bus posing as the system bus.
#include <gtest/gtest.h>

#include "platform/linux/net/computer_name.h"
#include "platform_glib/test_support.h"

using namespace corvid::linux_platform;
using namespace corvid::testing;

TEST(ComputerName, PrettyHostnameFirstThenTheHostName) {
  PrivateBus bus;
  setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1);
  const std::string host = g_get_host_name();
  EXPECT_EQ(systemComputerName(), host);  // nobody serves hostname1 yet

  // Answers one name per property read (on GDBus's thread).
  BusStub hostnamed(bus.address(), "org.freedesktop.hostname1", "/org/freedesktop/hostname1",
                    "<node><interface name='org.freedesktop.hostname1'/></node>",
                    [calls = 0](const std::string&, GVariant*) mutable {
                      const char* name = calls++ == 0 ? " 철수의 노트북\n" : "  ";
                      return BusStub::Reply(g_variant_new("(v)", g_variant_new_string(name)));
                    });
  EXPECT_EQ(systemComputerName(), "철수의 노트북");
  EXPECT_EQ(systemComputerName(), host);  // blank: no name
}
