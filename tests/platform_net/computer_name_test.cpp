// The computer's name from a stand-in for systemd-hostnamed, served on the
// test session's bus posing as the system bus.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/linux/net/computer_name.h"

using namespace corvid::linux_platform;

namespace {

// Serves org.freedesktop.hostname1 with a PrettyHostname property from a
// thread of its own (the lookup under test blocks the main thread).
class FakeHostnamed {
 public:
  explicit FakeHostnamed(std::string address) : address_(std::move(address)) {
    thread_ = g_thread_new("hostnamed", &FakeHostnamed::run, this);
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return started_; });
  }
  ~FakeHostnamed() {
    if (loop_) {
      g_main_context_invoke(
          context_,
          [](gpointer loop) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
          },
          loop_);
    }
    g_thread_join(thread_);
  }
  bool ready() const { return ready_; }
  void setPrettyName(std::string name) {
    std::lock_guard lock(mutex_);
    pretty_ = std::move(name);
  }

 private:
  static gpointer run(gpointer data) {
    auto* self = static_cast<FakeHostnamed*>(data);
    self->context_ = g_main_context_new();
    g_main_context_push_thread_default(self->context_);
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        self->address_.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    guint registration = 0;
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(
        "<node><interface name='org.freedesktop.hostname1'>"
        "<property name='PrettyHostname' type='s' access='read'/></interface></node>",
        nullptr);
    if (bus) {
      static const GDBusInterfaceVTable vtable = {
          nullptr,
          [](GDBusConnection*, const char*, const char*, const char*, const char*, GError**, gpointer data) {
            auto* self = static_cast<FakeHostnamed*>(data);
            std::lock_guard lock(self->mutex_);
            return g_variant_new_string(self->pretty_.c_str());
          },
          nullptr,
          {}};
      registration = g_dbus_connection_register_object(bus, "/org/freedesktop/hostname1", node->interfaces[0],
                                                       &vtable, self, nullptr, nullptr);
      GVariant* reply = g_dbus_connection_call_sync(
          bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
          g_variant_new("(su)", "org.freedesktop.hostname1", 4u), G_VARIANT_TYPE("(u)"),
          G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
      if (reply) {
        guint32 result = 0;
        g_variant_get(reply, "(u)", &result);
        self->ready_ = registration != 0 && result == 1;  // primary owner
        g_variant_unref(reply);
      }
    }
    self->loop_ = self->ready_ ? g_main_loop_new(self->context_, FALSE) : nullptr;
    {
      std::lock_guard lock(self->mutex_);
      self->started_ = true;
    }
    self->cv_.notify_all();
    if (self->loop_) {
      g_main_loop_run(self->loop_);
      g_main_loop_unref(self->loop_);
    }
    if (registration) g_dbus_connection_unregister_object(bus, registration);
    g_dbus_node_info_unref(node);
    if (bus) {
      g_dbus_connection_close_sync(bus, nullptr, nullptr);
      g_object_unref(bus);
    }
    g_main_context_pop_thread_default(self->context_);
    g_main_context_unref(self->context_);
    return nullptr;
  }

  std::string address_;
  GThread* thread_ = nullptr;
  GMainContext* context_ = nullptr;
  GMainLoop* loop_ = nullptr;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool started_ = false;
  bool ready_ = false;
  std::string pretty_;
};

}  // namespace

TEST(ComputerName, PrettyHostnameFirstThenTheHostName) {
  const char* session = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (!session || !*session) GTEST_SKIP() << "needs a session bus (tools/test starts one)";
  // The lookup asks the system bus; here the test's own bus stands in.
  setenv("DBUS_SYSTEM_BUS_ADDRESS", session, 1);
  const std::string host = g_get_host_name();

  EXPECT_EQ(systemComputerName(), host);  // nobody serves hostname1 yet

  FakeHostnamed hostnamed(session);
  ASSERT_TRUE(hostnamed.ready());
  hostnamed.setPrettyName("철수의 노트북");
  EXPECT_EQ(systemComputerName(), "철수의 노트북");
  hostnamed.setPrettyName(" 연구실 PC\n");
  EXPECT_EQ(systemComputerName(), "연구실 PC");
  hostnamed.setPrettyName("");
  EXPECT_EQ(systemComputerName(), host);
  hostnamed.setPrettyName("  ");
  EXPECT_EQ(systemComputerName(), host);
}
