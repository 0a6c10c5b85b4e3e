#include "tray_panel.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "app_harness.h"

namespace corvid::testing {

namespace fs = std::filesystem;

namespace {

constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";

// Only the status tray plugin, on a 32-pixel panel at the top.
constexpr const char* kXfcePanelXml = R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="32"/>
      <property name="icon-size" type="uint" value="24"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray">
      <property name="square-icons" type="bool" value="true"/>
    </property>
  </property>
</channel>
)";

// Only the status notifier plugin, on a panel at the top.
constexpr const char* kLxqtPanelConf = R"(panels=panel1

[panel1]
plugins=statusnotifier
position=Top
desktop=0

[statusnotifier]
alignment=Left
type=statusnotifier
)";

const char* program(Panel::Kind kind) { return kind == Panel::Kind::xfce ? "xfce4-panel" : "lxqt-panel"; }

// xfconfd is started by the bus on demand, from the path its service file
// names; the panel test starts it itself, with the test's folders.
std::string xfconfdPath() {
  std::ifstream service("/usr/share/dbus-1/services/org.xfce.Xfconf.service");
  for (std::string line; std::getline(service, line);) {
    if (line.rfind("Exec=", 0) == 0) return line.substr(5);
  }
  return {};
}

std::string startTimeOf(pid_t pid) {
  const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  auto close = stat.rfind(") ");
  if (close == std::string::npos) return {};
  // Fields after the command name: state is field 3, start time field 22.
  std::size_t at = close + 2;
  for (int field = 3; field < 22 && at != std::string::npos; ++field) at = stat.find(' ', at) + 1;
  return stat.substr(at, stat.find(' ', at) - at);
}

GVariant* callBus(GDBusConnection* bus, const char* method, GVariant* args, const char* type) {
  return g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                     "org.freedesktop.DBus", method, args, G_VARIANT_TYPE(type),
                                     G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
}

}  // namespace

std::string nameOwner(GDBusConnection* bus, const std::string& name) {
  GVariant* reply = callBus(bus, "GetNameOwner", g_variant_new("(s)", name.c_str()), "(s)");
  if (!reply) return {};
  const char* owner = nullptr;
  g_variant_get(reply, "(&s)", &owner);
  std::string out = owner;
  g_variant_unref(reply);
  return out;
}

PrivateDisplay::PrivateDisplay() {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDERR_SILENCE);
  g_subprocess_launcher_take_fd(launcher, fds[1], 3);  // Xvfb writes its display number there
  g_subprocess_launcher_set_child_setup(
      launcher, [](gpointer) { prctl(PR_SET_PDEATHSIG, SIGKILL); }, nullptr, nullptr);
  server_ = g_subprocess_launcher_spawn(launcher, nullptr, "Xvfb", "-displayfd", "3", "-screen", "0",
                                        "1280x1024x24", "-nolisten", "tcp", nullptr);
  g_object_unref(launcher);
  std::string number;
  char c;
  while (server_ && ::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(fds[0]);
  if (!server_ || number.empty()) throw std::runtime_error("cannot start Xvfb");
  if (const char* display = std::getenv("DISPLAY")) previous_ = display;
  g_setenv("DISPLAY", (":" + number).c_str(), TRUE);
}

PrivateDisplay::~PrivateDisplay() {
  if (previous_.empty()) {
    g_unsetenv("DISPLAY");
  } else {
    g_setenv("DISPLAY", previous_.c_str(), TRUE);
  }
  g_subprocess_send_signal(server_, SIGTERM);  // our child until reaped
  g_subprocess_wait(server_, nullptr, nullptr);
  g_object_unref(server_);
}

Panel::Panel(Kind kind, std::string busAddress) : kind_(kind), bus_(std::move(busAddress)) {
  connection_ = connectTo(bus_);
  if (!connection_) throw std::runtime_error("cannot connect to the test bus");
  for (const char* d : {"home", "config/xfce4/xfconf/xfce-perchannel-xml", "config/lxqt", "cache", "data"})
    fs::create_directories(root_ / d);
  if (kind_ == Kind::xfce) {
    std::ofstream(root_ / "config/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml") << kXfcePanelXml;
  } else {
    std::ofstream(root_ / "config/lxqt/panel.conf") << kLxqtPanelConf;
  }
}

Panel::~Panel() {
  stopPanel();
  if (xfconfd_) {
    g_subprocess_send_signal(xfconfd_, SIGTERM);  // our child until reaped
    g_subprocess_wait(xfconfd_, nullptr, nullptr);
    g_object_unref(xfconfd_);
  }
  g_dbus_connection_close_sync(connection_, nullptr, nullptr);
  g_object_unref(connection_);
}

std::optional<std::string> Panel::missing(Kind kind) {
  gchar* path = g_find_program_in_path(program(kind));
  std::optional<std::string> out;
  if (!path) out = program(kind);
  if (kind == Kind::xfce && !fs::exists(xfconfdPath())) out = "xfconfd";
  g_free(path);
  return out;
}

bool Panel::start(std::chrono::milliseconds timeout) {
  if (panel_) return false;
  GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDERR_MERGE);
  g_subprocess_launcher_take_stdout_fd(
      launcher, ::open((root_ / "panel.out").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600));
  const std::vector<std::pair<const char*, std::string>> environment = {{"HOME", root_ / "home"},
                                                                        {"XDG_CONFIG_HOME", root_ / "config"},
                                                                        {"XDG_CACHE_HOME", root_ / "cache"},
                                                                        {"XDG_DATA_HOME", root_ / "data"},
                                                                        {"DBUS_SESSION_BUS_ADDRESS", bus_},
                                                                        {"NO_AT_BRIDGE", "1"},
                                                                        {"QT_QPA_PLATFORM", "xcb"},
                                                                        {"QT_ACCESSIBILITY", "0"}};
  for (const auto& [name, value] : environment)
    g_subprocess_launcher_setenv(launcher, name, value.c_str(), TRUE);
  g_subprocess_launcher_unsetenv(launcher, "SESSION_MANAGER");
  g_subprocess_launcher_set_child_setup(  // ends with a test that crashed
      launcher, [](gpointer) { prctl(PR_SET_PDEATHSIG, SIGKILL); }, nullptr, nullptr);
  if (kind_ == Kind::xfce && !xfconfd_) {
    xfconfd_ = g_subprocess_launcher_spawn(launcher, nullptr, xfconfdPath().c_str(), nullptr);
    if (!xfconfd_ || !spinUntil([&] { return !nameOwner(connection_, "org.xfce.Xfconf").empty(); }, 10s)) {
      g_object_unref(launcher);
      return false;
    }
  }
  // No window manager runs under the test display.
  panel_ = kind_ == Kind::xfce
               ? g_subprocess_launcher_spawn(launcher, nullptr, "xfce4-panel", "--disable-wm-check", nullptr)
               : g_subprocess_launcher_spawn(launcher, nullptr, "lxqt-panel", nullptr);
  g_object_unref(launcher);
  if (!panel_) return false;
  if (!spinUntil([&] { return hostPid() != 0 || !running(); }, timeout) || !running()) return false;
  trackPluginProcesses();
  return true;
}

void Panel::trackPluginProcesses() {
  for (pid_t pid : descendantsNamed("wrapper-2.0")) {
    if (std::none_of(plugins_.begin(), plugins_.end(), [&](const Tracked& t) { return t.pid == pid; }))
      plugins_.push_back({pid, startTimeOf(pid)});
  }
}

bool Panel::running() const { return panel_ && g_subprocess_get_identifier(panel_) != nullptr; }

pid_t Panel::hostPid() const {
  const std::string owner = nameOwner(connection_, kWatcherName);
  if (owner.empty()) return 0;
  GVariant* reply =
      callBus(connection_, "GetConnectionUnixProcessID", g_variant_new("(s)", owner.c_str()), "(u)");
  if (!reply) return 0;
  guint32 pid = 0;
  g_variant_get(reply, "(u)", &pid);
  g_variant_unref(reply);
  return static_cast<pid_t>(pid);
}

std::vector<std::string> Panel::registeredItems() const {
  std::vector<std::string> items;
  GVariant* reply =
      g_dbus_connection_call_sync(connection_, kWatcherName, kWatcherPath, "org.freedesktop.DBus.Properties",
                                  "Get", g_variant_new("(ss)", kWatcherName, "RegisteredStatusNotifierItems"),
                                  G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  if (!reply) return items;
  GVariant* value = nullptr;
  g_variant_get(reply, "(v)", &value);
  if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING_ARRAY)) {
    const gchar** strings = g_variant_get_strv(value, nullptr);
    for (const gchar** s = strings; *s; ++s) items.emplace_back(*s);
    g_free(strings);
  }
  g_variant_unref(value);
  g_variant_unref(reply);
  return items;
}

bool Panel::kill(std::chrono::milliseconds timeout) {
  if (!running()) return false;
  trackPluginProcesses();
  g_subprocess_force_exit(panel_);  // SIGKILL to our child, which GLib has not reaped
  g_subprocess_wait(panel_, nullptr, nullptr);
  g_object_unref(panel_);
  panel_ = nullptr;
  return spinUntil([&] { return hostPid() == 0; }, timeout);
}

void Panel::stopPanel() {
  if (panel_) {
    if (running()) trackPluginProcesses();
    g_subprocess_send_signal(panel_, SIGTERM);
    if (!spinUntil([&] { return !running(); }, 10s)) g_subprocess_force_exit(panel_);
    g_subprocess_wait(panel_, nullptr, nullptr);
    g_object_unref(panel_);
    panel_ = nullptr;
  }
  // Plugin processes leave with their panel; one that stays behind is
  // stopped, as long as its PID still names the process the panel started.
  for (const Tracked& plugin : plugins_) {
    auto same = [&] { return !plugin.startTime.empty() && startTimeOf(plugin.pid) == plugin.startTime; };
    if (same() && !spinUntil([&] { return !same(); }, 5s)) {
      ::kill(plugin.pid, SIGKILL);
    }
  }
  plugins_.clear();
}

std::string Panel::output() const { return readFile(root_ / "panel.out"); }

BusMonitor::BusMonitor(const std::string& address) {
  connection_ = connectTo(address);
  if (!connection_) throw std::runtime_error("cannot connect to the test bus");
  // The filter sees every message before GDBus does: a monitor must never
  // answer the calls it sees, so all but the replies to our own call stop
  // here.
  g_dbus_connection_add_filter(connection_, &BusMonitor::filter, this, nullptr);
  GVariantBuilder rules;
  g_variant_builder_init(&rules, G_VARIANT_TYPE("as"));
  g_variant_builder_add(&rules, "s", "type='method_call',interface='org.kde.StatusNotifierWatcher'");
  g_variant_builder_add(&rules, "s", "type='method_call',interface='com.canonical.dbusmenu'");
  GVariant* reply = g_dbus_connection_call_sync(connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus.Monitoring", "BecomeMonitor",
                                                g_variant_new("(asu)", &rules, 0u), nullptr,
                                                G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  if (!reply) throw std::runtime_error("cannot monitor the test bus");
  g_variant_unref(reply);
}

BusMonitor::~BusMonitor() {
  g_dbus_connection_close_sync(connection_, nullptr, nullptr);
  g_object_unref(connection_);
}

GDBusMessage* BusMonitor::filter(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer data) {
  if (!incoming) return message;
  const auto type = g_dbus_message_get_message_type(message);
  if (type == G_DBUS_MESSAGE_TYPE_METHOD_RETURN || type == G_DBUS_MESSAGE_TYPE_ERROR) {
    // Replies to our BecomeMonitor pass; replies between others do not.
    const char* destination = g_dbus_message_get_destination(message);
    GDBusConnection* own = static_cast<BusMonitor*>(data)->connection_;
    if (own && destination && g_strcmp0(destination, g_dbus_connection_get_unique_name(own)) == 0)
      return message;
  }
  if (type == G_DBUS_MESSAGE_TYPE_METHOD_CALL) {
    auto* self = static_cast<BusMonitor*>(data);
    auto text = [](const char* s) { return std::string(s ? s : ""); };
    std::lock_guard lock(self->mutex_);
    self->calls_.push_back({text(g_dbus_message_get_sender(message)),
                            text(g_dbus_message_get_destination(message)),
                            text(g_dbus_message_get_interface(message)),
                            text(g_dbus_message_get_member(message)), std::chrono::steady_clock::now()});
  }
  g_object_unref(message);
  return nullptr;
}

std::vector<BusMonitor::Call> BusMonitor::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::size_t BusMonitor::registrations(const std::string& sender,
                                      std::chrono::steady_clock::time_point since) const {
  std::size_t n = 0;
  for (const Call& c : calls())
    n += c.sender == sender && c.member == "RegisterStatusNotifierItem" && c.at >= since;
  return n;
}

std::size_t BusMonitor::menuCalls(const std::string& sender) const {
  std::size_t n = 0;
  for (const Call& c : calls()) {
    n += c.sender == sender && c.interface == "com.canonical.dbusmenu" &&
         (c.member.rfind("AboutToShow", 0) == 0 || c.member.rfind("Event", 0) == 0);
  }
  return n;
}

namespace {

// "bus name/object path" → the two parts.
std::pair<std::string, std::string> splitItem(const std::string& item) {
  auto slash = item.find('/');
  if (slash == std::string::npos) return {item, "/StatusNotifierItem"};
  return {item.substr(0, slash), item.substr(slash)};
}

}  // namespace

std::string itemProperty(GDBusConnection* bus, const std::string& item, const std::string& name) {
  auto [service, path] = splitItem(item);
  GVariant* reply =
      g_dbus_connection_call_sync(bus, service.c_str(), path.c_str(), "org.freedesktop.DBus.Properties",
                                  "Get", g_variant_new("(ss)", "org.kde.StatusNotifierItem", name.c_str()),
                                  G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  if (!reply) return {};
  GVariant* value = nullptr;
  g_variant_get(reply, "(v)", &value);
  std::string out = g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) ||
                            g_variant_is_of_type(value, G_VARIANT_TYPE_OBJECT_PATH)
                        ? g_variant_get_string(value, nullptr)
                        : "";
  g_variant_unref(value);
  g_variant_unref(reply);
  return out;
}

namespace {

std::string menuPath(GDBusConnection* bus, const std::string& item) {
  return itemProperty(bus, item, "Menu");
}

}  // namespace

std::vector<MenuEntry> trayMenu(GDBusConnection* bus, const std::string& item) {
  std::vector<MenuEntry> entries;
  auto [service, path] = splitItem(item);
  const std::string menu = menuPath(bus, item);
  if (menu.empty()) return entries;
  GVariant* reply = g_dbus_connection_call_sync(
      bus, service.c_str(), menu.c_str(), "com.canonical.dbusmenu", "GetLayout",
      g_variant_new("(ii@as)", 0, 1, g_variant_new_strv(nullptr, 0)), G_VARIANT_TYPE("(u(ia{sv}av))"),
      G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  if (!reply) return entries;
  GVariant* root = g_variant_get_child_value(reply, 1);
  GVariant* children = g_variant_get_child_value(root, 2);
  for (gsize i = 0; i < g_variant_n_children(children); ++i) {
    GVariant* boxed = g_variant_get_child_value(children, i);
    GVariant* child = g_variant_get_variant(boxed);
    MenuEntry entry;
    GVariant* properties = nullptr;
    g_variant_get(child, "(i@a{sv}@av)", &entry.id, &properties, nullptr);
    const char* text = nullptr;
    gboolean flag = TRUE;
    entry.type = g_variant_lookup(properties, "type", "&s", &text) ? text : "standard";
    if (g_variant_lookup(properties, "label", "&s", &text)) entry.label = text;
    if (g_variant_lookup(properties, "enabled", "b", &flag)) entry.enabled = flag;
    if (!g_variant_lookup(properties, "visible", "b", &flag) || flag) entries.push_back(entry);
    g_variant_unref(properties);
    g_variant_unref(child);
    g_variant_unref(boxed);
  }
  g_variant_unref(children);
  g_variant_unref(root);
  g_variant_unref(reply);
  return entries;
}

bool sendMenuEvent(GDBusConnection* bus, const std::string& item, int id, const std::string& event) {
  auto [service, path] = splitItem(item);
  const std::string menu = menuPath(bus, item);
  if (menu.empty()) return false;
  GVariant* reply =
      g_dbus_connection_call_sync(bus, service.c_str(), menu.c_str(), "com.canonical.dbusmenu", "Event",
                                  g_variant_new("(isvu)", id, event.c_str(), g_variant_new_int32(0), 0u),
                                  nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  if (reply) g_variant_unref(reply);
  return reply != nullptr;
}

Screen Screen::grab() {
  Screen screen;
  Display* d = XOpenDisplay(nullptr);
  if (!d) return screen;
  Window root = DefaultRootWindow(d);
  XWindowAttributes attributes;
  XGetWindowAttributes(d, root, &attributes);
  XImage* image = XGetImage(d, root, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
  if (image) {
    screen.width = attributes.width;
    screen.height = attributes.height;
    screen.rgb.reserve(static_cast<std::size_t>(screen.width) * screen.height * 3);
    for (int y = 0; y < screen.height; ++y) {
      for (int x = 0; x < screen.width; ++x) {
        const unsigned long pixel = XGetPixel(image, x, y);  // TrueColor, 8 bits a channel
        screen.rgb.push_back(static_cast<unsigned char>((pixel & image->red_mask) >> 16));
        screen.rgb.push_back(static_cast<unsigned char>((pixel & image->green_mask) >> 8));
        screen.rgb.push_back(static_cast<unsigned char>(pixel & image->blue_mask));
      }
    }
    XDestroyImage(image);
  }
  XCloseDisplay(d);
  return screen;
}

Screen Screen::grabSettled(int rows, std::chrono::milliseconds limit) {
  Screen last = grab();
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    spinFor(300ms);
    Screen next = grab();
    const bool same = !changedArea(last, next, rows);
    last = std::move(next);
    if (same) break;
  }
  return last;
}

bool Screen::savePng(const fs::path& file, std::optional<Area> part, int zoom) const {
  if (rgb.empty()) return false;
  GdkPixbuf* pixbuf = gdk_pixbuf_new_from_data(rgb.data(), GDK_COLORSPACE_RGB, FALSE, 8, width, height,
                                               width * 3, nullptr, nullptr);
  if (part) {
    const Area a = *part;
    GdkPixbuf* sub = gdk_pixbuf_new_subpixbuf(pixbuf, a.x, a.y, std::min(a.width, width - a.x),
                                              std::min(a.height, height - a.y));
    g_object_unref(pixbuf);
    pixbuf = gdk_pixbuf_scale_simple(sub, gdk_pixbuf_get_width(sub) * zoom, gdk_pixbuf_get_height(sub) * zoom,
                                     GDK_INTERP_NEAREST);
    g_object_unref(sub);
  }
  const bool saved = gdk_pixbuf_save(pixbuf, file.c_str(), "png", nullptr, nullptr);
  g_object_unref(pixbuf);
  return saved;
}

std::optional<Area> changedArea(const Screen& before, const Screen& after, int rows) {
  if (before.width != after.width || before.height != after.height || before.rgb.empty()) return std::nullopt;
  int left = before.width, top = rows, right = -1, bottom = -1;
  for (int y = 0; y < std::min(rows, before.height); ++y) {
    for (int x = 0; x < before.width; ++x) {
      const std::size_t at = (static_cast<std::size_t>(y) * before.width + x) * 3;
      if (std::equal(&before.rgb[at], &before.rgb[at] + 3, &after.rgb[at])) continue;
      left = std::min(left, x), right = std::max(right, x);
      top = std::min(top, y), bottom = std::max(bottom, y);
    }
  }
  if (right < 0) return std::nullopt;
  return Area{left, top, right - left + 1, bottom - top + 1};
}

bool clickAt(int x, int y, int button) {
  const std::string command =
      "xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " click " + std::to_string(button);
  gint status = 0;
  return g_spawn_command_line_sync(command.c_str(), nullptr, nullptr, &status, nullptr) &&
         g_spawn_check_wait_status(status, nullptr);
}

fs::path screenshotFolder() {
  const char* build = std::getenv("CORVID_BINARY_DIR");
  fs::path folder = fs::path(build && *build ? build : ".") / "screenshots";
  fs::create_directories(folder);
  return folder;
}

}  // namespace corvid::testing
