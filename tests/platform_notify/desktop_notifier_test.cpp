// The libnotify notifier against a notification server of our own on a
// private session bus.
#include <gtest/gtest.h>
#include <libnotify/notify.h>

#include "platform/linux/glib/glib_loop.h"
#include "platform/linux/notify/desktop_notifier.h"
#include "platform_glib/test_support.h"

using namespace corvid::linux_platform;
using namespace corvid::testing;

namespace {

// A private session bus for the whole process (libnotify keeps its connection
// to it); the bus daemon ends with the process.
class SessionBus : public ::testing::Environment {
  void SetUp() override { setenv("DBUS_SESSION_BUS_ADDRESS", (bus = new PrivateBus)->address().c_str(), 1); }
  static inline PrivateBus* bus = nullptr;
};
const auto* const kBus = ::testing::AddGlobalTestEnvironment(new SessionBus);

}  // namespace

TEST(Notifier, TheClickActionFollowsTheCapabilitiesAndAClickNamesItsNotification) {
  LibnotifyNotifier alone({"Corvid", "corvid", ""}, nullptr);  // no server: refused, posts dropped
  EXPECT_FALSE(runOnMainLoop(alone.requestAuthorization(), 10s));
  alone.post("login-0", "Instagram 로그인이 풀렸습니다", "다시 로그인하세요");
  EXPECT_EQ(alone.openNotifications(), 0u);
  std::vector<std::string> clicks;
  for (bool actions : {false, true}) {
    SCOPED_TRACE(actions ? "actions, posted before asking" : "no actions, asked first");
    LibnotifyNotifier notifier({"Corvid", "corvid", ""},
                               [&](const std::string& id) { clicks.push_back(id); });
    auto server = notificationServer(getenv("DBUS_SESSION_BUS_ADDRESS"), actions ? "actions" : "body");
    if (actions) {  // the notifier learns the capabilities when it first posts
      ASSERT_TRUE(spinUntil([] { return notify_get_server_info(nullptr, nullptr, nullptr, nullptr); }));
    } else {
      EXPECT_TRUE(runOnMainLoop(notifier.requestAuthorization(), 10s));
    }
    notifier.post("login-1", "Instagram 로그인이 풀렸습니다", "다시 로그인하세요");
    notifier.post("resumed-2", "다시 지켜보는 중", "");
    const std::string first = server->calls()[server->calls().size() - 2].args;
    EXPECT_EQ(first.find("('Corvid', "), 0u) << first;
    const std::string texts = std::string("'Instagram 로그인이 풀렸습니다', '다시 로그인하세요', ") +
                              (actions ? "['default', '열기']" : "[]");
    EXPECT_NE(first.find(texts), std::string::npos) << first;
    EXPECT_NE(first.find("'desktop-entry': <'corvid'>"), std::string::npos) << first;
    EXPECT_EQ(notifier.openNotifications(), 2u);
    for (std::uint32_t id : {2u, 1u}) {  // the "default" action, then the server closes it (dismissed)
      server->emit("ActionInvoked", g_variant_new("(us)", id, "default"));
      server->emit("NotificationClosed", g_variant_new("(uu)", id, 2u));
    }
    ASSERT_TRUE(spinUntil([&] { return notifier.openNotifications() == 0; }, 5s));
  }
  EXPECT_EQ(clicks, (std::vector<std::string>{"resumed-2", "login-1"}));
}
