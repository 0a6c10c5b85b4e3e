// The libnotify notifier against a notification server of our own on a
// private message bus (dbus-daemon started and stopped by GLib's GTestDBus).
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <libnotify/notify.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "platform/linux/glib/glib_loop.h"
#include "platform/linux/notify/desktop_notifier.h"

using namespace corvid;
using namespace corvid::linux_platform;
using namespace std::chrono_literals;

namespace {

GTestDBus* gBus = nullptr;

class PrivateBus : public ::testing::Environment {
 public:
  void SetUp() override {
    gchar* daemon = g_find_program_in_path("dbus-daemon");
    if (!daemon) return;
    g_free(daemon);
    gBus = g_test_dbus_new(G_TEST_DBUS_NONE);
    g_test_dbus_up(gBus);
  }
  void TearDown() override {
    notify_uninit();
    if (gBus) {
      // Stop without waiting for every user of the shared connection.
      g_test_dbus_stop(gBus);
      g_object_unref(gBus);
      gBus = nullptr;
    }
  }
};
const auto* const kBus = ::testing::AddGlobalTestEnvironment(new PrivateBus);

constexpr const char* kIntrospection = R"(
<node>
  <interface name="org.freedesktop.Notifications">
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
  </interface>
</node>)";

// A notification server on its own thread and connection: it records every
// Notify call and emits ActionInvoked and NotificationClosed on request.
class FakeNotificationServer {
 public:
  struct Notified {
    std::uint32_t id;
    std::string appName, summary, body;
    std::vector<std::string> actions;
    std::map<std::string, std::string> stringHints;
  };

  explicit FakeNotificationServer(std::vector<std::string> capabilities)
      : capabilities_(std::move(capabilities)) {
    thread_ = std::thread([this] { run(); });
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return started_; });
  }

  ~FakeNotificationServer() {
    if (loop_) g_main_loop_quit(loop_);
    thread_.join();
  }

  bool owned() const { return owned_; }

  std::vector<Notified> notified() const {
    std::lock_guard lock(mutex_);
    return notified_;
  }

  // The user clicks the notification: the "default" action, then the
  // server closes it (reason 2, dismissed).
  void click(std::uint32_t id) {
    g_dbus_connection_emit_signal(connection_, nullptr, "/org/freedesktop/Notifications",
                                  "org.freedesktop.Notifications", "ActionInvoked",
                                  g_variant_new("(us)", id, "default"), nullptr);
    g_dbus_connection_emit_signal(connection_, nullptr, "/org/freedesktop/Notifications",
                                  "org.freedesktop.Notifications", "NotificationClosed",
                                  g_variant_new("(uu)", id, 2u), nullptr);
  }

 private:
  void run() {
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (address) {
      connection_ = g_dbus_connection_new_for_address_sync(
          address,
          static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                            G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
          nullptr, nullptr, nullptr);
      g_free(address);
    }
    guint object = 0;
    if (connection_) {
      GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
      static const GDBusInterfaceVTable vtable = {&FakeNotificationServer::method, nullptr, nullptr, {}};
      object = g_dbus_connection_register_object(connection_, "/org/freedesktop/Notifications",
                                                 node->interfaces[0], &vtable, this, nullptr, nullptr);
      g_dbus_node_info_unref(node);
      GVariant* reply = g_dbus_connection_call_sync(
          connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
          g_variant_new("(su)", "org.freedesktop.Notifications", 4u /* do not queue */),
          G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
      if (reply) {
        guint32 answer = 0;
        g_variant_get(reply, "(u)", &answer);
        owned_ = answer == 1;
        g_variant_unref(reply);
      }
      loop_ = g_main_loop_new(context, FALSE);
    }
    {
      std::lock_guard lock(mutex_);
      started_ = true;
    }
    ready_.notify_all();
    if (loop_) {
      g_main_loop_run(loop_);
      g_main_loop_unref(loop_);
    }
    if (connection_) {
      g_dbus_connection_unregister_object(connection_, object);
      g_dbus_connection_close_sync(connection_, nullptr, nullptr);
      g_object_unref(connection_);
    }
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
  }

  static void method(GDBusConnection*, const char*, const char*, const char*, const char* name,
                     GVariant* args, GDBusMethodInvocation* call, gpointer data) {
    auto* self = static_cast<FakeNotificationServer*>(data);
    std::string method = name;
    if (method == "GetCapabilities") {
      GVariantBuilder b;
      g_variant_builder_init(&b, G_VARIANT_TYPE("as"));
      for (const auto& c : self->capabilities_) g_variant_builder_add(&b, "s", c.c_str());
      g_dbus_method_invocation_return_value(call, g_variant_new("(as)", &b));
    } else if (method == "GetServerInformation") {
      g_dbus_method_invocation_return_value(call,
                                            g_variant_new("(ssss)", "fake", "corvid tests", "1", "1.2"));
    } else if (method == "Notify") {
      Notified n;
      const char *app, *icon, *summary, *body;
      guint32 replaces;
      GVariantIter *actions, *hints;
      gint32 timeout;
      g_variant_get(args, "(&su&s&s&sasa{sv}i)", &app, &replaces, &icon, &summary, &body, &actions, &hints,
                    &timeout);
      n.appName = app;
      n.summary = summary;
      n.body = body;
      const char* action;
      while (g_variant_iter_loop(actions, "&s", &action)) n.actions.emplace_back(action);
      const char* key;
      GVariant* value;
      while (g_variant_iter_loop(hints, "{&sv}", &key, &value)) {
        if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING))
          n.stringHints[key] = g_variant_get_string(value, nullptr);
      }
      g_variant_iter_free(actions);
      g_variant_iter_free(hints);
      {
        std::lock_guard lock(self->mutex_);
        n.id = ++self->lastId_;
        self->notified_.push_back(n);
      }
      g_dbus_method_invocation_return_value(call, g_variant_new("(u)", n.id));
    } else {
      g_dbus_method_invocation_return_value(call, nullptr);
    }
  }

  std::vector<std::string> capabilities_;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  bool started_ = false;
  bool owned_ = false;
  GDBusConnection* connection_ = nullptr;
  GMainLoop* loop_ = nullptr;
  std::uint32_t lastId_ = 0;
  std::vector<Notified> notified_;
};

// Iterates the default main context until `done` holds or `limit` passes.
template <class F>
bool spinUntil(F done, std::chrono::milliseconds limit = 5000ms) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(1ms);
  }
  return true;
}

class NotifierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gBus) GTEST_SKIP() << "dbus-daemon is not installed";
  }
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
  FakeNotificationServer server({"actions", "body"});
  ASSERT_TRUE(server.owned());
  EXPECT_TRUE(runOnMainLoop(notifier.requestAuthorization(), 10s));

  notifier.post("login-1764947250", "Instagram 로그인이 풀렸습니다", "다시 로그인하세요");
  notifier.post("resumed-1764947260", "다시 지켜보는 중", "");
  auto notified = server.notified();
  ASSERT_EQ(notified.size(), 2u);
  EXPECT_EQ(notified[0].appName, "Corvid");
  EXPECT_EQ(notified[0].summary, "Instagram 로그인이 풀렸습니다");
  EXPECT_EQ(notified[0].body, "다시 로그인하세요");
  EXPECT_EQ(notified[0].actions,
            (std::vector<std::string>{"default", LibnotifyNotifier::kDefaultActionLabel}));
  EXPECT_EQ(notified[0].stringHints["desktop-entry"], "corvid");
  EXPECT_EQ(notifier.openNotifications(), 2u);

  server.click(notified[1].id);
  ASSERT_TRUE(spinUntil([&] { return notifier.openNotifications() == 1; }));
  server.click(notified[0].id);
  ASSERT_TRUE(spinUntil([&] { return notifier.openNotifications() == 0; }));
  EXPECT_EQ(clicks, (std::vector<std::string>{"resumed-1764947260", "login-1764947250"}));
}

TEST_F(NotifierTest, AServerWithoutActionsGetsNoClickAction) {
  FakeNotificationServer server({"body"});
  ASSERT_TRUE(server.owned());
  EXPECT_TRUE(runOnMainLoop(notifier.requestAuthorization(), 10s));
  notifier.post("login-1", "제목", "본문");
  auto notified = server.notified();
  ASSERT_EQ(notified.size(), 1u);
  EXPECT_TRUE(notified[0].actions.empty());
  server.click(notified[0].id);  // a server without actions never does this; nothing breaks
  ASSERT_TRUE(spinUntil([&] { return notifier.openNotifications() == 0; }));
  EXPECT_TRUE(clicks.empty());
}

TEST_F(NotifierTest, PostingBeforeAskingLearnsTheCapabilitiesFirst) {
  FakeNotificationServer server({"actions"});
  ASSERT_TRUE(server.owned());
  // The running application's main loop has seen the server arrive.
  ASSERT_TRUE(spinUntil([] { return notify_get_server_info(nullptr, nullptr, nullptr, nullptr); }));
  notifier.post("login-2", "제목", "본문");
  auto notified = server.notified();
  ASSERT_EQ(notified.size(), 1u);
  EXPECT_EQ(notified[0].actions.size(), 2u);
}
