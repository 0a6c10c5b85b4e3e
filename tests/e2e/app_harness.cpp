#include "app_harness.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

namespace corvid::testing {

namespace fs = std::filesystem;

namespace {

// Windows of other processes come and go while we look at them: a request
// on a window that just went away must not end the test.
int ignoreErrors(Display*, XErrorEvent*) { return 0; }

// A property of an X window as bytes; empty when it has none.
std::string property(Display* d, Window w, const char* name, Atom type) {
  Atom actual;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  std::string out;
  if (XGetWindowProperty(d, w, XInternAtom(d, name, False), 0, 1024, False, type, &actual, &format, &count,
                         &after, &data) == Success &&
      data) {
    out.assign(reinterpret_cast<char*>(data), format == 32 ? count * sizeof(long) : count);
  }
  if (data) XFree(data);
  return out;
}

// Calls `each` with every viewable top-level window of `pid` titled `title`.
void forWindows(pid_t pid, const std::string& title, const std::function<void(Display*, Window)>& each) {
  XSetErrorHandler(&ignoreErrors);
  Display* d = XOpenDisplay(nullptr);
  if (!d) return;
  const long wanted = pid;
  Window root, parent, *children = nullptr;
  unsigned int n = 0;
  XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &n);
  for (unsigned int i = 0; i < n; ++i) {
    XWindowAttributes attributes;
    if (property(d, children[i], "_NET_WM_PID", XA_CARDINAL) ==
            std::string(reinterpret_cast<const char*>(&wanted), sizeof wanted) &&
        property(d, children[i], "_NET_WM_NAME", XInternAtom(d, "UTF8_STRING", False)) == title &&
        XGetWindowAttributes(d, children[i], &attributes) && attributes.map_state == IsViewable) {
      each(d, children[i]);
    }
  }
  if (children) XFree(children);
  XCloseDisplay(d);
}

// Reaping happens on GLib's worker thread; the identifier goes with it.
std::optional<int> exitStatus(GSubprocess* process, Millis timeout) {
  if (!spinUntil([&] { return g_subprocess_get_identifier(process) == nullptr; }, timeout))
    return std::nullopt;
  g_subprocess_wait(process, nullptr, nullptr);
  return g_subprocess_get_status(process);
}

}  // namespace

GDBusConnection* connectTo(const std::string& address) {
  auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
  return g_dbus_connection_new_for_address_sync(address.c_str(), flags, nullptr, nullptr, nullptr);
}

RecordingRelay::RecordingRelay() {
  server_.handler = [this](const TestServer::Received& r) -> std::optional<TestServer::Reply> {
    if (silent_) return std::nullopt;
    answered_.push_back({std::chrono::steady_clock::now(), r.path, r.body, status_});
    if (status_ == 200) return TestServer::Reply{};
    return TestServer::Reply{status_, R"({"error":"unavailable"})"};
  };
}

std::size_t RecordingRelay::count(std::string_view path, std::string_view bodyPart) const {
  std::size_t n = 0;
  for (const auto& r : requests()) n += r.path == path && r.body.find(bodyPart) != std::string::npos;
  return n;
}

AppHarness::AppHarness(AppOptions options)
    : page_(options.pageOptions),
      executable_(options.executable.empty() ? std::string(CORVID_EXECUTABLE) : options.executable),
      environment_(options.environment) {
  for (const char* d : {"home", "config/corvid", "data", "cache", "state", "runtime"})
    fs::create_directories(root_ / d);
  fs::permissions(root_ / "runtime", fs::perms::owner_all);
  std::ofstream settings(root_ / "config/corvid/settings.ini");
  settings << "[Corvid]\n";
  if (!options.pairingSecrets.empty()) {
    nlohmann::json pairings = nlohmann::json::array();
    for (const auto& secret : options.pairingSecrets) {
      pairings.push_back({{"secret", secret},
                          {"deviceModel", "iPhone15,2"},
                          {"environment", "production"},
                          {"pairedAt", 750000000.0}});
    }
    settings << "pushServerURL=" << relay_.origin() << "\npushPairings=" << pairings.dump() << "\n";
  }
  if (options.everWatched) settings << "everWatched=" << (*options.everWatched ? "true" : "false") << "\n";
  for (const auto& line : options.settingsLines) settings << line << "\n";
}

AppHarness::~AppHarness() {
  if (corvid_) {
    sendSignal(SIGTERM);  // the quit may wait 1.5 s for the relay
    if (!waitForExit(10s)) g_subprocess_force_exit(corvid_);
    g_subprocess_wait(corvid_, nullptr, nullptr);
    g_object_unref(corvid_);
  }
  if (display_) XCloseDisplay(static_cast<Display*>(display_));
}

GSubprocess* AppHarness::spawn() {
  GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDERR_MERGE);
  g_subprocess_launcher_take_stdout_fd(
      launcher, ::open((root_ / "corvid.out").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600));
  const std::vector<std::pair<const char*, std::string>> environment = {
      {"HOME", root_ / "home"},
      {"XDG_CONFIG_HOME", root_ / "config"},
      {"XDG_DATA_HOME", root_ / "data"},
      {"XDG_CACHE_HOME", root_ / "cache"},
      {"XDG_STATE_HOME", root_ / "state"},
      {"XDG_RUNTIME_DIR", root_ / "runtime"},
      {"DBUS_SESSION_BUS_ADDRESS", bus_.address()},
      {"CORVID_SERVICE_ORIGIN", "http://127.0.0.1:" + std::to_string(page_.port())},
      {"NO_AT_BRIDGE", "1"},
      {"GSETTINGS_BACKEND", "memory"}};
  for (const auto& [name, value] : environment)
    g_subprocess_launcher_setenv(launcher, name, value.c_str(), TRUE);
  // Never the session manager of the desktop the tests run in.
  g_subprocess_launcher_unsetenv(launcher, "SESSION_MANAGER");
  for (const auto& [name, value] : environment_)
    g_subprocess_launcher_setenv(launcher, name.c_str(), value.c_str(), TRUE);
  g_subprocess_launcher_set_child_setup(  // dies with a test that crashed
      launcher, [](gpointer) { prctl(PR_SET_PDEATHSIG, SIGTERM); }, nullptr, nullptr);
  GSubprocess* process = g_subprocess_launcher_spawn(launcher, nullptr, executable_.c_str(), nullptr);
  g_object_unref(launcher);
  if (!process) throw std::runtime_error("cannot start " + executable_);
  return process;
}

pid_t AppHarness::pid() const {
  const char* id = corvid_ ? g_subprocess_get_identifier(corvid_) : nullptr;
  return id ? static_cast<pid_t>(std::stoi(id)) : 0;
}

void AppHarness::start() {
  // An X server resets whenever its last client leaves, and a client that
  // connects during the reset is turned away: with the test's own short
  // connections (the window checks) corvid could then not open the display.
  if (!display_) display_ = XOpenDisplay(nullptr);
  if (corvid_) {
    if (g_subprocess_get_identifier(corvid_)) return;  // still running
    g_subprocess_wait(corvid_, nullptr, nullptr);
    g_object_unref(corvid_);
    corvid_ = nullptr;
  }
  corvid_ = spawn();
}

std::optional<int> AppHarness::waitForExit(Millis timeout) { return exitStatus(corvid_, timeout); }

std::optional<int> AppHarness::launchAgain(Millis timeout) {
  GSubprocess* second = spawn();
  auto status = exitStatus(second, timeout);
  if (!status) g_subprocess_force_exit(second);
  g_subprocess_wait(second, nullptr, nullptr);
  g_object_unref(second);
  return status;
}

bool AppHarness::activateAction(const std::string& name, const std::optional<std::string>& parameter) {
  GDBusConnection* bus = connectTo(bus_.address());
  if (!bus) return false;
  GVariantBuilder params;
  g_variant_builder_init(&params, G_VARIANT_TYPE("av"));
  if (parameter) g_variant_builder_add(&params, "v", g_variant_new_string(parameter->c_str()));
  GVariant* reply = g_dbus_connection_call_sync(bus, "io.github.corvid.Corvid", "/io/github/corvid/Corvid",
                                                "org.gtk.Actions", "Activate",
                                                g_variant_new("(sava{sv})", name.c_str(), &params, nullptr),
                                                nullptr, G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, nullptr);
  g_object_unref(bus);
  if (reply) g_variant_unref(reply);
  return reply != nullptr;
}

std::vector<std::string> AppHarness::logLines(std::string_view part) const {
  std::istringstream in(readFile(root_ / "state/corvid/watch.log"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (line.find(part) != std::string::npos) lines.push_back(line);
  }
  return lines;
}

std::optional<std::string> AppHarness::waitForLog(std::string_view part, Millis timeout) {
  if (!spinUntil([&] { return !logLines(part).empty(); }, timeout)) return std::nullopt;
  return logLines(part).front();
}

std::size_t AppHarness::windowsShown(const std::string& title) const {
  std::size_t n = 0;
  const char* pid = corvid_ ? g_subprocess_get_identifier(corvid_) : nullptr;
  if (pid) forWindows(std::stoi(pid), title, [&](Display*, Window) { ++n; });
  return n;
}

bool AppHarness::closeWindow(const std::string& title) const {
  bool found = false;
  const char* pid = corvid_ ? g_subprocess_get_identifier(corvid_) : nullptr;
  if (!pid) return false;
  forWindows(std::stoi(pid), title, [&](Display* d, Window w) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = w;
    event.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    XSendEvent(d, w, False, NoEventMask, &event);
    XFlush(d);
    found = true;
  });
  return found;
}

std::optional<WindowGeometry> AppHarness::windowGeometry(const std::string& title) const {
  std::optional<WindowGeometry> found;
  const char* pid = corvid_ ? g_subprocess_get_identifier(corvid_) : nullptr;
  if (!pid) return found;
  forWindows(std::stoi(pid), title, [&](Display* d, Window w) {
    XWindowAttributes a;
    Window child;
    WindowGeometry g;
    if (!XGetWindowAttributes(d, w, &a) ||
        !XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &g.x, &g.y, &child)) {
      return;
    }
    g.width = a.width;
    g.height = a.height;
    XClassHint hint{};
    if (XGetClassHint(d, w, &hint)) {
      g.wmClass = hint.res_class ? hint.res_class : "";
      if (hint.res_name) XFree(hint.res_name);
      if (hint.res_class) XFree(hint.res_class);
    }
    found = g;
  });
  return found;
}

WindowGeometry screenSize() {
  WindowGeometry g;
  if (Display* d = XOpenDisplay(nullptr)) {
    g.width = DisplayWidth(d, DefaultScreen(d));
    g.height = DisplayHeight(d, DefaultScreen(d));
    XCloseDisplay(d);
  }
  return g;
}

std::string threadKey(int i) { return "3402823669000000000" + std::to_string(i); }

std::string expectedCollapseId(const std::string& messageId) {
  gchar* hex = g_compute_checksum_for_string(G_CHECKSUM_SHA256, messageId.c_str(), -1);
  std::string id = "m-" + std::string(hex, 32);
  g_free(hex);
  return id;
}

}  // namespace corvid::testing
