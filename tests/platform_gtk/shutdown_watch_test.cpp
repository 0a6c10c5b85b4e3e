// The logind shutdown watch on a private bus with a stand-in logind: the
// delay lock, and PrepareForShutdown(true) accepted from logind only.
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/linux/gtk/system_quit.h"
#include "platform/linux/gtk/window_snapshot.h"

namespace corvid::linux_platform {
namespace {

GDBusConnection* connect(const std::string& address) {
  return g_dbus_connection_new_for_address_sync(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
}

void emitPrepareForShutdown(GDBusConnection* from, bool starting) {
  g_dbus_connection_emit_signal(from, nullptr, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                "PrepareForShutdown", g_variant_new("(b)", starting), nullptr);
  g_dbus_connection_flush_sync(from, nullptr, nullptr);
}

TEST(ShutdownWatch, TakesADelayLockAndHearsOnlyLogind) {
  gchar* daemon = g_find_program_in_path("dbus-daemon");
  if (!daemon) GTEST_SKIP() << "dbus-daemon is not installed";
  g_free(daemon);
  GTestDBus* bus = g_test_dbus_new(G_TEST_DBUS_NONE);
  g_test_dbus_up(bus);
  const std::string address = g_test_dbus_get_bus_address(bus);

  // logind: Inhibit answers the write end of a pipe.
  GDBusConnection* logind = connect(address);
  ASSERT_TRUE(logind);
  std::vector<std::string> calls;
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(
      "<node><interface name='org.freedesktop.login1.Manager'><method name='Inhibit'>"
      "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='s' direction='in'/>"
      "<arg type='s' direction='in'/><arg type='h' direction='out'/></method>"
      "<signal name='PrepareForShutdown'><arg type='b'/></signal></interface></node>",
      nullptr);
  static const GDBusInterfaceVTable vtable = {
      [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* args,
         GDBusMethodInvocation* call, gpointer data) {
        const char *what, *who, *why, *mode;
        g_variant_get(args, "(&s&s&s&s)", &what, &who, &why, &mode);
        static_cast<std::vector<std::string>*>(data)->push_back(std::string(what) + "|" + mode);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        close(fds[0]);
        GUnixFDList* list = g_unix_fd_list_new_from_array(&fds[1], 1);
        g_dbus_method_invocation_return_value_with_unix_fd_list(call, g_variant_new("(h)", 0), list);
        g_object_unref(list);
      },
      nullptr,
      nullptr,
      {}};
  guint object = g_dbus_connection_register_object(logind, "/org/freedesktop/login1", node->interfaces[0],
                                                   &vtable, &calls, nullptr, nullptr);
  g_dbus_node_info_unref(node);
  GVariant* owned = g_dbus_connection_call_sync(
      logind, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
      g_variant_new("(su)", "org.freedesktop.login1", 4u), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1,
      nullptr, nullptr);
  ASSERT_TRUE(owned);
  g_variant_unref(owned);
  GDBusConnection* stranger = connect(address);

  {
    int heard = 0;
    ShutdownWatch watch([&] { ++heard; }, address);
    ASSERT_TRUE(iterateUntil([&] { return watch.lockFd() >= 0; }, 10000));
    EXPECT_EQ(calls, std::vector<std::string>{"shutdown|delay"});

    // Anyone may send the signal; only logind's counts.
    emitPrepareForShutdown(stranger, true);
    iterateUntil([] { return false; }, 200);
    EXPECT_EQ(heard, 0);
    emitPrepareForShutdown(logind, false);
    emitPrepareForShutdown(logind, true);
    EXPECT_TRUE(iterateUntil([&] { return heard == 1; }, 5000));
  }

  g_object_unref(stranger);
  g_dbus_connection_unregister_object(logind, object);
  g_dbus_connection_close_sync(logind, nullptr, nullptr);
  g_object_unref(logind);
  g_test_dbus_down(bus);
  g_object_unref(bus);
}

}  // namespace
}  // namespace corvid::linux_platform
