#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/linux/glib/process_activity.h"

using namespace corvid;
using namespace corvid::linux_platform;
using namespace std::chrono_literals;

namespace {

// Iterates the main loop until `done` or `limit` passes.
template <class F>
void runUntil(F done, std::chrono::milliseconds limit = 10s) {
  auto until = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() < until) {
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
  }
}

void iterateFor(std::chrono::milliseconds d) {
  runUntil([] { return false; }, d);
}

// A private message bus (dbus-daemon started and stopped by GLib's GTestDBus).
class PrivateBus : public ::testing::Test {
 protected:
  void SetUp() override {
    gchar* daemon = g_find_program_in_path("dbus-daemon");
    if (!daemon) GTEST_SKIP() << "dbus-daemon is not installed";
    g_free(daemon);
    bus_ = g_test_dbus_new(G_TEST_DBUS_NONE);
    g_test_dbus_up(bus_);
    address_ = g_test_dbus_get_bus_address(bus_);
  }
  void TearDown() override {
    if (service_) {
      if (object_) g_dbus_connection_unregister_object(service_, object_);
      g_dbus_connection_close_sync(service_, nullptr, nullptr);
      g_object_unref(service_);
    }
    if (bus_) {
      g_test_dbus_down(bus_);
      g_object_unref(bus_);
    }
    for (int fd : pipe_)
      if (fd >= 0) close(fd);
  }

  // Plays logind on the private bus: Inhibit answers the write end of a
  // pipe, or refuses when `refuse` is set.
  void startLogind(bool refuse) {
    refuse_ = refuse;
    GError* error = nullptr;
    service_ = g_dbus_connection_new_for_address_sync(
        address_.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    ASSERT_NE(service_, nullptr) << error->message;
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(
        "<node><interface name='org.freedesktop.login1.Manager'><method name='Inhibit'>"
        "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='s' direction='in'/>"
        "<arg type='s' direction='in'/><arg type='h' direction='out'/></method></interface></node>",
        nullptr);
    static const GDBusInterfaceVTable vtable = {
        [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* args,
           GDBusMethodInvocation* call, gpointer data) {
          auto* self = static_cast<PrivateBus*>(data);
          const char *what, *who, *why, *mode;
          g_variant_get(args, "(&s&s&s&s)", &what, &who, &why, &mode);
          self->calls_.push_back(std::string(what) + "|" + who + "|" + why + "|" + mode);
          if (self->refuse_) {
            g_dbus_method_invocation_return_dbus_error(call, "org.freedesktop.DBus.Error.AccessDenied",
                                                       "Permission denied");
            return;
          }
          ASSERT_EQ(pipe(self->pipe_), 0);
          GUnixFDList* fds = g_unix_fd_list_new_from_array(&self->pipe_[1], 1);  // takes the write end
          self->pipe_[1] = -1;
          g_dbus_method_invocation_return_value_with_unix_fd_list(call, g_variant_new("(h)", 0), fds);
          g_object_unref(fds);
        },
        nullptr,
        nullptr,
        {}};
    object_ = g_dbus_connection_register_object(service_, "/org/freedesktop/login1", node->interfaces[0],
                                                &vtable, this, nullptr, &error);
    g_dbus_node_info_unref(node);
    ASSERT_NE(object_, 0u) << error->message;
    GVariant* reply = g_dbus_connection_call_sync(
        service_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", "org.freedesktop.login1", 4u), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE,
        -1, nullptr, &error);
    ASSERT_NE(reply, nullptr) << error->message;
    g_variant_unref(reply);
  }

  // The read end sees a hang-up once every copy of the write end is closed.
  bool writeEndOpen() {
    pollfd p{pipe_[0], POLLIN, 0};
    return poll(&p, 1, 0) == 0;
  }

  GTestDBus* bus_ = nullptr;
  std::string address_;
  GDBusConnection* service_ = nullptr;
  guint object_ = 0;
  bool refuse_ = false;
  std::vector<std::string> calls_;
  int pipe_[2] = {-1, -1};
  MemoryLog log_;
};

TEST_F(PrivateBus, HoldsTheInhibitorDescriptorForItsWholeLife) {
  startLogind(false);
  {
    LogindIdleInhibitor inhibitor(log_, address_);
    inhibitor.begin("Instagram DM watcher");
    inhibitor.begin("again");  // only the first call asks
    runUntil([&] { return inhibitor.settled(); });
    ASSERT_TRUE(inhibitor.settled());
    EXPECT_EQ(calls_, std::vector<std::string>{"idle:sleep|Corvid|Instagram DM watcher|block"});
    EXPECT_GE(inhibitor.fd(), 0);
    EXPECT_TRUE(log_.lines.empty());
    iterateFor(100ms);  // the connection is dropped; the descriptor stays
    EXPECT_TRUE(writeEndOpen());
  }
  EXPECT_FALSE(writeEndOpen());
}

TEST_F(PrivateBus, SkipsWithOneLineWhenLogindRefusesOrIsMissing) {
  {
    LogindIdleInhibitor noLogind(log_, address_);
    noLogind.begin("Instagram DM watcher");
    runUntil([&] { return noLogind.settled(); });
    iterateFor(50ms);
    ASSERT_EQ(log_.lines.size(), 1u);
    EXPECT_EQ(log_.lines[0].rfind("app: no idle inhibitor (", 0), 0u) << log_.lines[0];
    EXPECT_NE(log_.lines[0].find("org.freedesktop.login1"), std::string::npos) << log_.lines[0];
    EXPECT_EQ(noLogind.fd(), -1);
  }
  startLogind(true);
  LogindIdleInhibitor refused(log_, address_);
  refused.begin("Instagram DM watcher");
  runUntil([&] { return refused.settled(); });
  iterateFor(50ms);
  ASSERT_EQ(log_.lines.size(), 2u);
  EXPECT_EQ(log_.lines[1], "app: no idle inhibitor (Permission denied)");
  EXPECT_EQ(calls_.size(), 1u);
}

TEST_F(PrivateBus, GoingAwayDuringTheCallIsHarmless) {
  startLogind(false);
  {
    LogindIdleInhibitor inhibitor(log_, address_);
    inhibitor.begin("Instagram DM watcher");
    iterateFor(1ms);
  }
  iterateFor(200ms);  // the late answers find nobody
  EXPECT_TRUE(log_.lines.empty());
}

TEST(LogindIdleInhibitor, SkipsWithOneLineWithoutABus) {
  MemoryLog log;
  LogindIdleInhibitor inhibitor(log, "unix:path=/nonexistent/corvid-test-bus");
  inhibitor.begin("Instagram DM watcher");
  runUntil([&] { return inhibitor.settled(); });
  iterateFor(20ms);
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].rfind("app: no idle inhibitor (", 0), 0u);
  EXPECT_EQ(inhibitor.fd(), -1);
}

}  // namespace
