// The real corvid binary watching the React and Relay test inbox: the first
// read is only a baseline, each new incoming message reaches the relay once
// with everything the phone shows, a burst gives one push per message, the
// viewer's own reply and a read elsewhere push no message. On the way, a
// second launch and the actions open the windows, the page is still read
// after the Instagram window has closed, and a system quit while the quit
// question shows takes the question away and tells the phones "stopped" once
// although the relay never answers.
#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include "app_harness.h"
#include "platform_net/ntfy_server.h"

namespace corvid::testing {
namespace {

using nlohmann::json;

// The key of thread `i` (0 to 9) of the test inbox.
std::string threadKey(int i) { return "3402823669000000000" + std::to_string(i); }

// The collapse id the phone gets for a message id, computed independently.
std::string expectedCollapseId(const std::string& messageId) {
  gchar* hex = g_compute_checksum_for_string(G_CHECKSUM_SHA256, messageId.c_str(), -1);
  std::string id = "m-" + std::string(hex, 32);
  g_free(hex);
  return id;
}

std::vector<json> bodies(const RecordingRelay& relay, const std::string& path) {
  std::vector<json> out;
  for (const auto& r : relay.requests()) {
    if (r.path == path) out.push_back(json::parse(r.body));
  }
  return out;
}

// A tray host: the watcher that tray items register with.
constexpr const char* kWatcherXml =
    "<node><interface name='org.kde.StatusNotifierWatcher'>"
    "<method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
    "<property name='RegisteredStatusNotifierItems' type='as' access='read'/>"
    "<property name='IsStatusNotifierHostRegistered' type='b' access='read'/>"
    "<property name='ProtocolVersion' type='i' access='read'/></interface></node>";

// A tray host on the test bus: owns the watcher's name, records every item
// that registers, and reads an item's icon back. Serves on the default main
// context.
struct TrayHost {
  explicit TrayHost(const std::string& address) : bus(connectTo(address)) {
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kWatcherXml, nullptr);
    static const GDBusInterfaceVTable vtable = {&TrayHost::call, &TrayHost::get, nullptr, {}};
    g_dbus_connection_register_object(bus, "/StatusNotifierWatcher", node->interfaces[0], &vtable, this,
                                      nullptr, nullptr);
    g_dbus_node_info_unref(node);
    own();
  }
  ~TrayHost() {
    g_bus_unown_name(name);
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
  }
  void own() {
    name = g_bus_own_name_on_connection(bus, "org.kde.StatusNotifierWatcher", G_BUS_NAME_OWNER_FLAGS_NONE,
                                        nullptr, nullptr, nullptr, nullptr);
  }
  static void call(GDBusConnection*, const char* sender, const char*, const char*, const char*,
                   GVariant* args, GDBusMethodInvocation* invocation, gpointer self) {
    const char* item = nullptr;
    g_variant_get(args, "(&s)", &item);  // the item's object path or its bus name
    static_cast<TrayHost*>(self)->items.emplace_back(sender, item[0] == '/' ? item : "/StatusNotifierItem");
    g_dbus_method_invocation_return_value(invocation, nullptr);
  }
  static GVariant* get(GDBusConnection*, const char*, const char*, const char*, const char* property,
                       GError**, gpointer) {
    if (g_str_equal(property, "IsStatusNotifierHostRegistered")) return g_variant_new_boolean(TRUE);
    if (g_str_equal(property, "ProtocolVersion")) return g_variant_new_int32(0);
    return g_variant_new_strv(nullptr, 0);
  }
  // The icon of the item that registered last.
  std::string iconName() const {
    if (items.empty()) return "";
    GVariant* reply = g_dbus_connection_call_sync(
        bus, items.back().first.c_str(), items.back().second.c_str(), "org.freedesktop.DBus.Properties",
        "Get", g_variant_new("(ss)", "org.kde.StatusNotifierItem", "IconName"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (!reply) return "";
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    std::string icon =
        g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) ? g_variant_get_string(value, nullptr) : "";
    g_variant_unref(value);
    g_variant_unref(reply);
    return icon;
  }

  GDBusConnection* bus;
  guint name = 0;
  std::vector<std::pair<std::string, std::string>> items;  // sender, object path
};

TEST(App, DeliversNewMessagesOnceAndTellsStoppedOnceAtASystemQuit) {
  AppHarness app({.pairingSecrets = {"secret-1"}, .everWatched = true});
  TrayHost tray(app.busAddress());
  app.start();
  ASSERT_TRUE(app.waitForLog("session: unknown → ok")) << app.output();
  // The tray item registers with the tray host, without the attention dot
  // while all is well, and registers again when the host comes back.
  ASSERT_TRUE(app.waitUntil([&] { return tray.iconName() == "corvid-tray-symbolic"; }, 15s));
  g_bus_unown_name(tray.name);
  app.waitUntil([] { return false; }, 500ms);
  const std::size_t registrations = tray.items.size();
  tray.own();
  ASSERT_TRUE(app.waitUntil([&] { return tray.items.size() > registrations; }, 15s));
  ASSERT_TRUE(app.waitForLog("baseline: threads 8 unread 2"));
  app.waitUntil([] { return false; }, 4s);  // a few more reads announce nothing
  EXPECT_TRUE(bodies(app.relay(), "/v1/push").empty());
  auto statuses = bodies(app.relay(), "/v1/status");
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.front()["status"], "ok");
  EXPECT_EQ(statuses.front()["threads"], 8);
  EXPECT_EQ(app.relay().requests().front().headers.at("Authorization"), "Bearer secret-1");

  // Launching again reaches the running instance and opens the main window;
  // the Instagram window opens and closes, its web view going back home.
  auto second = app.launchAgain();
  ASSERT_TRUE(second && WIFEXITED(*second) && WEXITSTATUS(*second) == 0);
  ASSERT_TRUE(app.waitUntil([&] { return app.windowsShown("Corvid") == 1; }));
  ASSERT_TRUE(app.activateAction("show-instagram", "inspect"));
  ASSERT_TRUE(app.waitUntil([&] { return app.windowsShown("Instagram 화면") == 1; }));
  ASSERT_TRUE(app.closeWindow("Instagram 화면"));
  ASSERT_TRUE(app.waitUntil([&] { return app.windowsShown("Instagram 화면") == 0; }));

  // A friend writes in a read one-to-one thread.
  app.page().sendEvent(
      {{"type", "message"}, {"thread", threadKey(6)}, {"text", " 안녕, 잘 지내? "}, {"id", "e2e.1"}});
  ASSERT_TRUE(app.waitForLog("events: 1 pushed 1")) << app.output();
  auto pushes = bodies(app.relay(), "/v1/push");
  ASSERT_EQ(pushes.size(), 1u);
  EXPECT_EQ(pushes[0], (json{{"kind", "message"},
                             {"title", "Friend 60"},
                             {"body", "안녕, 잘 지내?"},
                             {"threadKey", threadKey(6)},
                             {"username", "friend_60"},
                             {"badge", 3},
                             {"collapseId", expectedCollapseId("mid.$e2e.1")}}));

  // Three messages at once: three pushes.
  app.page().sendEvent({{"type", "burst"}, {"thread", threadKey(2)}, {"count", 3}, {"text", "burst"}});
  ASSERT_TRUE(app.waitForLog("events: 3 pushed 3")) << app.output();
  EXPECT_EQ(app.relay().count("/v1/push", threadKey(2)), 3u);

  // The viewer's own reply, then a read elsewhere: the badge goes out alone.
  app.page().sendEvent({{"type", "reply"}, {"thread", threadKey(6)}, {"text", "응 잘 지내"}});
  ASSERT_TRUE(app.waitForLog("skipped mine", 10s)) << app.output();
  app.waitUntil([] { return false; }, 3s);
  const std::size_t badges = app.relay().count("/v1/push", "\"kind\":\"badge\"");
  app.page().sendEvent({{"type", "read"}, {"thread", threadKey(0)}});
  ASSERT_TRUE(app.waitUntil([&] { return app.relay().count("/v1/push", "\"kind\":\"badge\"") > badges; }));
  EXPECT_EQ(app.relay().count("/v1/push", "\"kind\":\"message\""), 4u);

  // The system quits while the quit question shows (over the main window,
  // with the same title); the relay never answers.
  app.relay().setSilent(true);
  ASSERT_TRUE(app.activateAction("quit"));
  ASSERT_TRUE(app.waitUntil([&] { return app.windowsShown("Corvid") == 2; }));
  app.sendSignal(SIGTERM);
  auto status = app.waitForExit(10s);
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << app.output();
  EXPECT_EQ(app.relay().count("/v1/status", "\"stopped\""), 1u);
  EXPECT_EQ(app.countLog("quit: status stopped"), 1u);
  // Both windows saved their frames.
  const std::string state = readFile(app.stateFile());
  EXPECT_NE(state.find("[HalvyMain]"), std::string::npos) << state;
  EXPECT_NE(state.find("[HalvyInstagram]"), std::string::npos) << state;
}

TEST(App, WithAnNtfyTopicAMessageIsPublishedOnceAndShownOnTheDesktop) {
  NtfyServer ntfy;
  AppHarness app({.everWatched = true,
                  .settingsLines = {"ntfyTopicURL=" + ntfy.topicURL("corvid-e2e"),
                                    "desktopMessageNotifications=true"}});
  auto notifications = notificationServer(app.busAddress(), "actions");
  auto shown = [&](const std::string& part) {
    std::size_t n = 0;
    for (const auto& call : notifications->calls()) n += call.args.find(part) != std::string::npos;
    return n;
  };
  app.start();
  ASSERT_TRUE(app.waitForLog("baseline: threads 8")) << app.output();
  app.waitUntil([] { return false; }, 3s);
  EXPECT_TRUE(ntfy.requests().empty());

  app.page().sendEvent(
      {{"type", "message"}, {"thread", threadKey(6)}, {"text", "ntfy로 가는 메시지"}, {"id", "e2e.n1"}});
  ASSERT_TRUE(app.waitForLog("events: 1 pushed 1")) << app.output();
  ASSERT_EQ(ntfy.messages().size(), 1u);
  const NtfyServer::Message& m = ntfy.messages()[0];
  EXPECT_EQ(m.topic, "corvid-e2e");
  EXPECT_EQ(m.title, "Friend 60");
  EXPECT_EQ(m.message, "ntfy로 가는 메시지");
  EXPECT_EQ(m.click, app.page().url("/direct/t/" + threadKey(6) + "/"));
  ASSERT_TRUE(app.waitUntil([&] { return shown("'Friend 60', 'ntfy로 가는 메시지'") == 1; }));
  app.waitUntil([] { return false; }, 3s);  // later reads repeat nothing
  EXPECT_EQ(ntfy.requests().size(), 1u);
  EXPECT_EQ(shown("'Friend 60'"), 1u);
  EXPECT_TRUE(app.relay().requests().empty());  // no pairing: the relay hears nothing
}

}  // namespace
}  // namespace corvid::testing
