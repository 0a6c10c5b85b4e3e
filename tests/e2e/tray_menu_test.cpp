// "시험 알림 보내기" clicked in the tray menu, as a panel clicks it (the
// menu's dbusmenu export), with a real notification server on the session
// bus (dunst): the test notification reaches the relay, and the outcome
// shows on the desktop, since the menu has closed by then.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "app_harness.h"
#include "tray_panel.h"

using namespace corvid::testing;
using namespace std::chrono_literals;

namespace {

// dunst on the harness's bus and display, with a rule that records every
// notification it shows (summary and body, one line each) in `shown`.
struct NotificationServer {
  TempDir dir{"corvid-dunst"};
  std::filesystem::path shown = dir / "shown.txt";
  GSubprocess* process = nullptr;

  explicit NotificationServer(const std::string& busAddress) {
    const auto script = dir / "record.sh";
    std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n%s\\n' \"$2\" \"$3\" >> '" << shown.string() << "'\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    std::ofstream(dir / "dunstrc") << "[global]\n    font = Noto Sans CJK KR 10\n"
                                   << "[record]\n    appname = \"Corvid\"\n    script = " << script.string()
                                   << "\n";
    GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDERR_SILENCE);
    g_subprocess_launcher_setenv(launcher, "DBUS_SESSION_BUS_ADDRESS", busAddress.c_str(), TRUE);
    g_subprocess_launcher_set_child_setup(  // dies with a test that crashed
        launcher, [](gpointer) { prctl(PR_SET_PDEATHSIG, SIGTERM); }, nullptr, nullptr);
    const std::string config = (dir / "dunstrc").string();
    process = g_subprocess_launcher_spawn(launcher, nullptr, "dunst", "-config", config.c_str(), nullptr);
    g_object_unref(launcher);
  }
  ~NotificationServer() {
    if (!process) return;
    g_subprocess_force_exit(process);  // the child this object started, by its own handle
    g_subprocess_wait(process, nullptr, nullptr);
    g_object_unref(process);
  }
  std::string lines() const { return std::filesystem::exists(shown) ? readFile(shown) : std::string(); }
};

// The object under `path` of `dest` that implements `interface`, found as a
// host finds nothing else: by introspection.
std::string findObject(GDBusConnection* bus, const std::string& dest, const std::string& path,
                       const char* interface) {
  GVariant* reply = g_dbus_connection_call_sync(bus, dest.c_str(), path.c_str(),
                                                "org.freedesktop.DBus.Introspectable", "Introspect", nullptr,
                                                nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  if (!reply) return {};
  const char* xml = nullptr;
  g_variant_get(reply, "(&s)", &xml);
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml, nullptr);
  g_variant_unref(reply);
  std::string found;
  if (node && g_dbus_node_info_lookup_interface(node, interface)) found = path;
  for (int i = 0; node && found.empty() && node->nodes && node->nodes[i]; ++i) {
    found = findObject(bus, dest, (path == "/" ? "" : path) + "/" + node->nodes[i]->path, interface);
  }
  if (node) g_dbus_node_info_unref(node);
  return found;
}

}  // namespace

TEST(TrayMenu, TheTestNotificationsOutcomeShowsOnTheDesktop) {
  AppHarness app({.pairingSecrets = {"secret-1"}, .everWatched = true});
  NotificationServer server(app.busAddress());
  ASSERT_TRUE(server.process);
  std::unique_ptr<GDBusConnection, void (*)(gpointer)> connection(connectTo(app.busAddress()),
                                                                  g_object_unref);
  GDBusConnection* bus = connection.get();
  ASSERT_TRUE(bus);
  ASSERT_TRUE(app.waitUntil([&] { return !nameOwner(bus, "org.freedesktop.Notifications").empty(); }));

  app.start();
  std::string corvid, item;
  ASSERT_TRUE(
      app.waitUntil([&] { return !(corvid = nameOwner(bus, "io.github.corvid.Corvid")).empty(); }, 30s))
      << app.output();
  ASSERT_TRUE(app.waitUntil([&] {
    const std::string path = findObject(bus, corvid, "/", "org.kde.StatusNotifierItem");
    item = corvid + path;
    return !path.empty() && !itemProperty(bus, item, "Menu").empty();
  })) << app.output();

  int id = -1;
  for (const MenuEntry& entry : trayMenu(bus, item)) {
    if (entry.label == "시험 알림 보내기") id = entry.id;
  }
  ASSERT_GE(id, 0);
  ASSERT_TRUE(sendMenuEvent(bus, item, id, "clicked"));

  ASSERT_TRUE(app.waitUntil([&] { return !server.lines().empty(); }, 10s)) << app.output();
  EXPECT_EQ(app.relay().count("/v1/push", "\"kind\":\"test\""), 1u);
  std::istringstream shown(server.lines());
  std::string summary, body;
  std::getline(shown, summary);
  std::getline(shown, body);
  EXPECT_EQ(summary, "시험 알림 보내기");
  EXPECT_TRUE(body.starts_with("보냈습니다 (")) << body;
}
