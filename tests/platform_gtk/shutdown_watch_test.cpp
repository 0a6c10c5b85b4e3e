// The logind shutdown watch on a private bus with a stand-in logind: the
// delay lock, and PrepareForShutdown(true) accepted from logind only.
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/linux/gtk/system_quit.h"
#include "platform_glib/test_support.h"

using namespace corvid::testing;

TEST(ShutdownWatch, TakesADelayLockAndHearsOnlyLogind) {
  PrivateBus bus;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  BusStub logind(bus.address(), "org.freedesktop.login1", "/org/freedesktop/login1", kLogindManagerXml,
                 [&](const std::string&, GVariant*) { return BusStub::Reply::descriptor(dup(fds[1])); });
  BusStub stranger(bus.address(), "org.example.Stranger", "/org/freedesktop/login1", kLogindManagerXml);
  int heard = 0;
  corvid::linux_platform::ShutdownWatch watch([&] { ++heard; }, bus.address());
  ASSERT_TRUE(spinUntil([&] { return watch.lockFd() >= 0; }));
  ASSERT_EQ(logind.calls().size(), 1u);
  EXPECT_EQ(logind.calls()[0].args.substr(0, 22), "('shutdown', 'Corvid',");
  EXPECT_TRUE(logind.calls()[0].args.ends_with("'delay')"));
  stranger.emit("PrepareForShutdown", g_variant_new("(b)", TRUE));  // anyone may send it; only logind counts
  logind.emit("PrepareForShutdown", g_variant_new("(b)", FALSE));
  logind.emit("PrepareForShutdown", g_variant_new("(b)", TRUE));
  EXPECT_TRUE(spinUntil([&] { return heard == 1; }, 5s));
  spinFor(200ms);
  EXPECT_EQ(heard, 1);
  close(fds[0]);
  close(fds[1]);
}
