// The libnotify notifier against a notification server of our own on a
// private session bus.
#include <gtest/gtest.h>
#include <libnotify/notify.h>

#include "platform/linux/glib/glib_loop.h"
#include "platform/linux/notify/desktop_notifier.h"
#include "platform_glib/test_support.h"

using namespace corvid;
using namespace corvid::linux_platform;
using namespace corvid::testing;

namespace {

PrivateBus* gBus = nullptr;

class SessionBus : public ::testing::Environment {
 public:
  void SetUp() override {
    gBus = new PrivateBus;
    setenv("DBUS_SESSION_BUS_ADDRESS", gBus->address().c_str(), 1);
  }
  void TearDown() override {
    notify_uninit();
    if (GDBusConnection* shared = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
      g_dbus_connection_set_exit_on_close(shared, FALSE);  // the bus goes first
      g_object_unref(shared);
    }
    delete gBus;
  }
};
const auto* const kBus = ::testing::AddGlobalTestEnvironment(new SessionBus);

// A notification server: answers with `capabilities`, numbers the
// notifications from 1.
std::unique_ptr<BusStub> notificationServer(std::vector<std::string> capabilities) {
  return std::make_unique<BusStub>(
      gBus->address(), "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
      R"(<node><interface name="org.freedesktop.Notifications">
        <method name="GetCapabilities"><arg type="as" direction="out"/></method>
        <method name="Notify">
          <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
          <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
          <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
        </method>
        <method name="CloseNotification"><arg type="u" direction="in"/></method>
        <method name="GetServerInformation">
          <arg type="s" direction="out"/><arg type="s" direction="out"/><arg type="s" direction="out"/>
          <arg type="s" direction="out"/>
        </method>
        <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
        <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
      </interface></node>)",
      [capabilities, last = 0u](const std::string& method, GVariant*) mutable -> BusStub::Reply {
        if (method == "GetCapabilities") {
          std::vector<const char*> names;
          for (const auto& c : capabilities) names.push_back(c.c_str());
          names.push_back(nullptr);
          return g_variant_new("(^as)", names.data());
        }
        if (method == "GetServerInformation") return g_variant_new("(ssss)", "fake", "corvid", "1", "1.2");
        if (method == "Notify") return g_variant_new("(u)", ++last);
        return {};
      });
}

// The user clicks notification `id`: the "default" action, then the server
// closes it (reason 2, dismissed).
void click(BusStub& server, std::uint32_t id) {
  server.emit("ActionInvoked", g_variant_new("(us)", id, "default"));
  server.emit("NotificationClosed", g_variant_new("(uu)", id, 2u));
}

class NotifierTest : public ::testing::Test {
 protected:
  std::vector<std::string> clicks;
  LibnotifyNotifier notifier{{"Corvid", "corvid", ""},
                             [this](const std::string& id) { clicks.push_back(id); }};
};

}  // namespace

TEST_F(NotifierTest, WithoutAServerPermissionIsRefusedAndPostsAreDropped) {
  EXPECT_FALSE(runOnMainLoop(notifier.requestAuthorization(), 10s));
  notifier.post("login-1764947250", "Instagram 로그인이 풀렸습니다", "다시 로그인하세요");
  EXPECT_EQ(notifier.openNotifications(), 0u);
}

TEST_F(NotifierTest, PostsUnderTheIdentifierAndReportsTheClickedOne) {
  auto server = notificationServer({"actions", "body"});
  EXPECT_TRUE(runOnMainLoop(notifier.requestAuthorization(), 10s));
  notifier.post("login-1764947250", "Instagram 로그인이 풀렸습니다", "다시 로그인하세요");
  notifier.post("resumed-1764947260", "다시 지켜보는 중", "");
  auto calls = server->calls();
  ASSERT_EQ(calls.back().method, "Notify");
  const std::string& first = calls[calls.size() - 2].args;
  EXPECT_EQ(first.find("('Corvid', "), 0u) << first;
  EXPECT_NE(first.find("'Instagram 로그인이 풀렸습니다', '다시 로그인하세요', ['default', '열기']"), std::string::npos);
  EXPECT_NE(first.find("'desktop-entry': <'corvid'>"), std::string::npos) << first;
  EXPECT_EQ(notifier.openNotifications(), 2u);

  click(*server, 2);
  ASSERT_TRUE(spinUntil([&] { return notifier.openNotifications() == 1; }, 5s));
  click(*server, 1);
  ASSERT_TRUE(spinUntil([&] { return notifier.openNotifications() == 0; }, 5s));
  EXPECT_EQ(clicks, (std::vector<std::string>{"resumed-1764947260", "login-1764947250"}));
}

TEST(Notifier, TheClickActionFollowsTheServersCapabilities) {
  std::vector<std::string> clicks;
  for (bool actions : {false, true}) {
    LibnotifyNotifier notifier({"Corvid", "", ""}, [&](const std::string& id) { clicks.push_back(id); });
    auto server = notificationServer({actions ? "actions" : "body"});
    if (actions) {
      // Posting before asking: the notifier learns the capabilities first.
      ASSERT_TRUE(spinUntil([] { return notify_get_server_info(nullptr, nullptr, nullptr, nullptr); }));
    } else {
      EXPECT_TRUE(runOnMainLoop(notifier.requestAuthorization(), 10s));
    }
    notifier.post("login-1", "제목", "본문");
    const std::string args = server->calls().back().args;
    EXPECT_EQ(args.find("['default', '열기']") != std::string::npos, actions) << args;
    click(*server, 1);  // a server without actions never sends this; nothing breaks
    ASSERT_TRUE(spinUntil([&] { return notifier.openNotifications() == 0; }, 5s));
  }
  EXPECT_EQ(clicks, std::vector<std::string>{"login-1"});
}
