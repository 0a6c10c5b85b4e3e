// Revealing a file: the file manager on the session bus is asked to show
// it selected. A stand-in for the file manager owns its bus name on a
// private session bus.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/linux/glib/glib_loop.h"
#include "platform/linux/gtk/file_reveal.h"

using namespace corvid::linux_platform;

namespace {

constexpr const char* kInterface = R"(
<node>
  <interface name="org.freedesktop.FileManager1">
    <method name="ShowItems">
      <arg type="as" name="URIs" direction="in"/>
      <arg type="s" name="StartupId" direction="in"/>
    </method>
  </interface>
</node>)";

struct ShownItems {
  std::vector<std::string> uris;
};

void onCall(GDBusConnection*, const char*, const char*, const char*, const char* method, GVariant* parameters,
            GDBusMethodInvocation* invocation, gpointer data) {
  auto* shown = static_cast<ShownItems*>(data);
  if (g_strcmp0(method, "ShowItems") == 0) {
    GVariantIter* iter = nullptr;
    const char* startup = nullptr;
    g_variant_get(parameters, "(as&s)", &iter, &startup);
    const char* uri = nullptr;
    while (g_variant_iter_next(iter, "&s", &uri)) shown->uris.emplace_back(uri);
    g_variant_iter_free(iter);
  }
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

}  // namespace

TEST(FileReveal, AsksTheFileManagerToShowTheFileSelected) {
  // A private session bus, so that nothing else answers for the file manager.
  GTestDBus* session = g_test_dbus_new(G_TEST_DBUS_NONE);
  g_test_dbus_up(session);
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  ASSERT_NE(bus, nullptr);
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kInterface, nullptr);
  ShownItems shown;
  GDBusInterfaceVTable vtable{onCall, nullptr, nullptr, {}};
  guint object = g_dbus_connection_register_object(bus, "/org/freedesktop/FileManager1", node->interfaces[0],
                                                   &vtable, &shown, nullptr, nullptr);
  guint name = g_bus_own_name_on_connection(bus, "org.freedesktop.FileManager1", G_BUS_NAME_OWNER_FLAGS_NONE,
                                            nullptr, nullptr, nullptr, nullptr);

  auto dir = std::filesystem::temp_directory_path() / ("corvid-reveal-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir / "a folder");
  auto file = dir / "a folder" / "watch.log";
  std::ofstream(file) << "app: launched\n";

  // Wait until the name is ours, then reveal.
  auto waitFor = [](auto condition) {
    for (int i = 0; i < 500 && !condition(); ++i) {
      g_main_context_iteration(nullptr, FALSE);
      g_usleep(2000);
    }
  };
  waitFor([&] {
    GVariant* owner = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
        g_variant_new("(s)", "org.freedesktop.FileManager1"), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE,
        -1, nullptr, nullptr);
    gboolean has = FALSE;
    if (owner) {
      g_variant_get(owner, "(b)", &has);
      g_variant_unref(owner);
    }
    return has == TRUE;
  });
  revealInFileManager(file);
  waitFor([&] { return !shown.uris.empty(); });

  ASSERT_EQ(shown.uris.size(), 1u);
  gchar* expected = g_filename_to_uri(file.c_str(), nullptr, nullptr);
  EXPECT_EQ(shown.uris[0], expected);  // the space is escaped: %20
  EXPECT_NE(shown.uris[0].find("a%20folder"), std::string::npos);
  g_free(expected);

  g_bus_unown_name(name);
  g_dbus_connection_unregister_object(bus, object);
  g_dbus_node_info_unref(node);
  g_object_unref(bus);
  g_test_dbus_down(session);
  g_object_unref(session);
  std::filesystem::remove_all(dir);
}
