// The computer's name from a stand-in for systemd-hostnamed on a private
// bus posing as the system bus.
#include <gtest/gtest.h>

#include <mutex>

#include "platform/linux/net/computer_name.h"
#include "platform_glib/test_support.h"

using namespace corvid::linux_platform;
using namespace corvid::testing;

TEST(ComputerName, PrettyHostnameFirstThenTheHostName) {
  PrivateBus bus;
  setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1);
  const std::string host = g_get_host_name();
  EXPECT_EQ(systemComputerName(), host);  // nobody serves hostname1 yet

  std::mutex mutex;
  std::string pretty;
  BusStub hostnamed(bus.address(), "org.freedesktop.hostname1", "/org/freedesktop/hostname1",
                    "<node><interface name='org.freedesktop.hostname1'>"
                    "<property name='PrettyHostname' type='s' access='read'/></interface></node>",
                    {}, [&](const std::string&) {
                      std::lock_guard lock(mutex);
                      return g_variant_new_string(pretty.c_str());
                    });
  const std::pair<std::string, std::string> cases[] = {
      {"철수의 노트북", "철수의 노트북"}, {" 연구실 PC\n", "연구실 PC"}, {"", host}, {"  ", host}};
  for (const auto& [set, expected] : cases) {
    {
      std::lock_guard lock(mutex);
      pretty = set;
    }
    EXPECT_EQ(systemComputerName(), expected) << set;
  }
}
