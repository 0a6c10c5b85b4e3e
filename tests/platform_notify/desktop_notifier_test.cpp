// The desktop notifier against notification servers of our own on a
// private session bus.
#include <gtest/gtest.h>

#include "platform/linux/glib/glib_loop.h"
#include "platform/linux/notify/desktop_notifier.h"
#include "platform_glib/test_support.h"

using namespace corvid::linux_platform;
using namespace corvid::testing;

namespace {

// A private session bus for the whole process (GDBus keeps its shared
// connection to it); the bus daemon ends with the process.
class SessionBus : public ::testing::Environment {
  void SetUp() override { setenv("DBUS_SESSION_BUS_ADDRESS", (bus = new PrivateBus)->address().c_str(), 1); }
  static inline PrivateBus* bus = nullptr;
};
const auto* const kBus = ::testing::AddGlobalTestEnvironment(new SessionBus);

std::unique_ptr<BusStub> server(const char* capability, bool hung = false) {
  return notificationServer(getenv("DBUS_SESSION_BUS_ADDRESS"), capability, hung);
}

// The Notify calls the server received.
std::vector<std::string> notifyCalls(const BusStub& server) {
  std::vector<std::string> out;
  for (const auto& c : server.calls()) {
    if (c.args.rfind("('Corvid', ", 0) == 0) out.push_back(c.args);
  }
  return out;
}

}  // namespace

TEST(Notifier, TheClickActionFollowsTheCapabilitiesAndAClickNamesItsNotification) {
  FreedesktopNotifier alone({"Corvid", "corvid", ""}, nullptr);  // no server: refused, posts dropped
  EXPECT_FALSE(runOnMainLoop(alone.requestAuthorization(), 10s));
  alone.post("login-0", "Instagram 로그인이 풀렸습니다", "다시 로그인하세요");
  spinFor(100ms);
  EXPECT_EQ(alone.openNotifications(), 0u);
  std::vector<std::string> clicks;
  for (bool actions : {false, true}) {
    SCOPED_TRACE(actions ? "actions, posted before asking" : "no actions, asked first");
    FreedesktopNotifier notifier({"Corvid", "corvid", ""},
                                 [&](const std::string& id) { clicks.push_back(id); });
    auto notifications = server(actions ? "actions" : "body");
    // Either the notifier learns the capabilities when it first posts, or it was asked first.
    if (!actions) {
      EXPECT_TRUE(runOnMainLoop(notifier.requestAuthorization(), 10s));
    }
    notifier.post("login-1", "Instagram 로그인이 풀렸습니다", "다시 로그인하세요");
    notifier.post("resumed-2", "다시 지켜보는 중", "");
    ASSERT_TRUE(spinUntil([&] { return notifier.openNotifications() == 2; }));
    const std::string first = notifyCalls(*notifications).at(0);
    EXPECT_EQ(first.find("('Corvid', "), 0u) << first;
    const std::string texts = std::string("'Instagram 로그인이 풀렸습니다', '다시 로그인하세요', ") +
                              (actions ? "['default', '열기']" : "[]");
    EXPECT_NE(first.find(texts), std::string::npos) << first;
    EXPECT_NE(first.find("'desktop-entry': <'corvid'>"), std::string::npos) << first;
    EXPECT_NE(first.find("'sound-name': <'message-new-instant'>"), std::string::npos) << first;
    for (std::uint32_t id : {2u, 1u}) {  // the "default" action, then the server closes it (dismissed)
      notifications->emit("ActionInvoked", g_variant_new("(us)", id, "default"));
      notifications->emit("NotificationClosed", g_variant_new("(uu)", id, 2u));
    }
    ASSERT_TRUE(spinUntil([&] { return notifier.openNotifications() == 0; }, 5s));
  }
  EXPECT_EQ(clicks, (std::vector<std::string>{"resumed-2", "login-1"}));
}

TEST(Notifier, AServerThatNeverAnswersHoldsUpNothing) {
  auto hung = server("actions", /*hung=*/true);
  {
    FreedesktopNotifier notifier({"Corvid", "corvid", ""}, nullptr);
    // A 2-second loop in small: every tick posts, as a flapping session would.
    struct Loop {
      FreedesktopNotifier& notifier;
      int ticks = 0;
    } loop{notifier};
    guint timer = g_timeout_add(
        5,
        [](gpointer data) -> gboolean {
          auto* l = static_cast<Loop*>(data);
          l->notifier.post("login-" + std::to_string(++l->ticks), "Instagram 로그인이 풀렸습니다", "");
          return G_SOURCE_CONTINUE;
        },
        &loop);
    const bool went = spinUntil([&] { return loop.ticks >= 30 && notifyCalls(*hung).size() >= 20; }, 8s);
    g_source_remove(timer);
    EXPECT_TRUE(went) << loop.ticks << " ticks, " << notifyCalls(*hung).size() << " notifications sent";
    EXPECT_EQ(notifier.openNotifications(), 0u);
  }  // gone with its calls still unanswered
  spinFor(50ms);
}
