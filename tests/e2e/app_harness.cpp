#include "app_harness.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <libsoup/soup.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <nlohmann/json.hpp>

extern char** environ;

namespace corvid::testing {

namespace {

// Waits for a child we started; true once it has been reaped.
bool reap(pid_t pid, Millis timeout, int* status = nullptr) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (true) {
    int s = 0;
    pid_t r = ::waitpid(pid, &s, WNOHANG);
    if (r == pid) {
      if (status) *status = s;
      return true;
    }
    if (r < 0) return true;  // not our child (any more)
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(10ms);
  }
}

// Stops a child we started and have not reaped: SIGTERM, then SIGKILL.
void stopChild(pid_t& pid, Millis grace) {
  if (pid <= 0) return;
  if (::waitpid(pid, nullptr, WNOHANG) == 0) {
    ::kill(pid, SIGTERM);
    if (!reap(pid, grace)) {
      ::kill(pid, SIGKILL);
      reap(pid, 5s);
    }
  }
  pid = -1;
}

std::string readFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// X11: the corvid windows by title.
struct Display11 {
  // Windows of other processes come and go while we look at them: a
  // request on a window that just went away must not end the test (Xlib's
  // default handler exits).
  static int ignoreErrors(Display*, XErrorEvent*) { return 0; }
  Display11() { XSetErrorHandler(&ignoreErrors); }
  Display* display = XOpenDisplay(nullptr);
  ~Display11() {
    if (display) XCloseDisplay(display);
  }
};

std::optional<long> windowPid(Display* d, Window w) {
  Atom pidAtom = XInternAtom(d, "_NET_WM_PID", True);
  if (pidAtom == None) return std::nullopt;
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  std::optional<long> pid;
  if (XGetWindowProperty(d, w, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after, &data) ==
          Success &&
      data && count == 1 && format == 32) {
    pid = *reinterpret_cast<long*>(data);
  }
  if (data) XFree(data);
  return pid;
}

std::string windowTitle(Display* d, Window w) {
  Atom name = XInternAtom(d, "_NET_WM_NAME", False);
  Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(d, w, name, 0, 1024, False, utf8, &type, &format, &count, &after, &data) ==
          Success &&
      data) {
    title.assign(reinterpret_cast<char*>(data), count);
  }
  if (data) XFree(data);
  return title;
}

// A viewable top-level window of `pid` titled `title` (children of the root
// and, under a reparenting window manager, their children).
std::optional<Window> findWindow(Display* d, pid_t pid, const std::string& title) {
  std::vector<Window> candidates;
  Window root = DefaultRootWindow(d), parent, *children = nullptr;
  unsigned int n = 0;
  if (!XQueryTree(d, root, &root, &parent, &children, &n)) return std::nullopt;
  for (unsigned int i = 0; i < n; ++i) {
    candidates.push_back(children[i]);
    Window r, p, *grand = nullptr;
    unsigned int m = 0;
    if (XQueryTree(d, children[i], &r, &p, &grand, &m)) {
      for (unsigned int j = 0; j < m; ++j) candidates.push_back(grand[j]);
      if (grand) XFree(grand);
    }
  }
  if (children) XFree(children);
  for (Window w : candidates) {
    if (windowPid(d, w) != pid || windowTitle(d, w) != title) continue;
    XWindowAttributes attributes;
    if (XGetWindowAttributes(d, w, &attributes) && attributes.map_state == IsViewable) return w;
  }
  return std::nullopt;
}

}  // namespace

// --- relay ------------------------------------------------------------------

struct RecordingRelay::Impl {
  SoupServer* server = nullptr;
  std::vector<SoupServerMessage*> held;  // unanswered requests, kept open
};

RecordingRelay::RecordingRelay() : impl_(std::make_unique<Impl>()) {
  impl_->server = soup_server_new("server-header", "corvid-test-relay", nullptr);
  soup_server_add_handler(
      impl_->server, nullptr,
      [](SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data) {
        auto* self = static_cast<RecordingRelay*>(data);
        SoupMessageBody* body = soup_server_message_get_request_body(message);
        GBytes* bytes = soup_message_body_flatten(body);
        gsize size = 0;
        const char* text = static_cast<const char*>(g_bytes_get_data(bytes, &size));
        const char* auth =
            soup_message_headers_get_one(soup_server_message_get_request_headers(message), "Authorization");
        self->requests_.push_back({soup_server_message_get_method(message), path, auth ? auth : "",
                                   std::string(text ? text : "", size)});
        g_bytes_unref(bytes);
        if (self->silent_) {
          soup_server_message_pause(message);
          self->impl_->held.push_back(static_cast<SoupServerMessage*>(g_object_ref(message)));
          return;
        }
        soup_server_message_set_status(message, 200, nullptr);
        soup_server_message_set_response(message, "application/json", SOUP_MEMORY_COPY, "{}", 2);
      },
      this, nullptr);
  GError* error = nullptr;
  GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
  GSocketAddress* address = g_inet_socket_address_new(loopback, 0);
  g_object_unref(loopback);
  bool ok = soup_server_listen(impl_->server, address, SoupServerListenOptions{}, &error);
  g_object_unref(address);
  if (!ok) {
    std::string why = error->message;
    g_error_free(error);
    g_object_unref(impl_->server);
    throw std::runtime_error("relay cannot listen: " + why);
  }
  GSList* uris = soup_server_get_uris(impl_->server);
  origin_ = "http://127.0.0.1:" + std::to_string(g_uri_get_port(static_cast<GUri*>(uris->data)));
  g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
}

RecordingRelay::~RecordingRelay() {
  soup_server_disconnect(impl_->server);
  for (auto* m : impl_->held) g_object_unref(m);
  g_object_unref(impl_->server);
}

std::size_t RecordingRelay::count(std::string_view path, std::string_view bodyPart) const {
  std::size_t n = 0;
  for (const auto& r : requests_) {
    if (r.path == path && r.body.find(bodyPart) != std::string::npos) ++n;
  }
  return n;
}

// --- harness ----------------------------------------------------------------

AppHarness::AppHarness(AppOptions options) : options_(std::move(options)) {
  ::signal(SIGPIPE, SIG_IGN);
  char pattern[] = "/tmp/corvid-e2e.XXXXXX";
  if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  for (const char* d : {"home", "config", "data", "cache", "state"})
    std::filesystem::create_directories(root_ / d);
  std::filesystem::create_directory(runtimeDir());
  std::filesystem::permissions(runtimeDir(), std::filesystem::perms::owner_all);

  if (!options_.pairingSecrets.empty() || options_.everWatched) {
    nlohmann::json pairings = nlohmann::json::array();
    for (const auto& secret : options_.pairingSecrets) {
      pairings.push_back({{"secret", secret},
                          {"deviceModel", "iPhone15,2"},
                          {"environment", "production"},
                          {"pairedAt", 750000000.0}});
    }
    GKeyFile* file = g_key_file_new();
    if (!options_.pairingSecrets.empty()) {
      g_key_file_set_string(file, "Corvid", "pushServerURL", relay_.origin().c_str());
      g_key_file_set_string(file, "Corvid", "pushPairings", pairings.dump().c_str());
    }
    if (options_.everWatched) g_key_file_set_boolean(file, "Corvid", "everWatched", *options_.everWatched);
    std::filesystem::create_directories(configDir());
    bool ok = g_key_file_save_to_file(file, (configDir() / "settings.ini").c_str(), nullptr);
    g_key_file_free(file);
    if (!ok) throw std::runtime_error("cannot write settings.ini");
  }
  startBus();
  page_ = std::make_unique<PageServer>(options_.pageServerOptions);
}

AppHarness::~AppHarness() {
  stopCorvid();
  page_.reset();
  stopChild(busPid_, 5s);
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

void AppHarness::startBus() {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  busPid_ = ::fork();
  if (busPid_ < 0) throw std::runtime_error("fork failed");
  if (busPid_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // dies with a test that crashed
    ::dup2(out[1], STDOUT_FILENO);
    ::execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1",
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  std::string line;
  auto end = std::chrono::steady_clock::now() + 10s;
  while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buf[512];
    ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  ::close(out[0]);
  if (auto nl = line.find('\n'); nl != std::string::npos) line.resize(nl);
  if (line.empty()) {
    stopChild(busPid_, 1s);
    throw std::runtime_error("dbus-daemon did not start");
  }
  busAddress_ = line;
}

std::vector<std::string> AppHarness::environment() const {
  std::vector<std::pair<std::string, std::string>> set = {
      {"HOME", (root_ / "home").string()},
      {"XDG_CONFIG_HOME", (root_ / "config").string()},
      {"XDG_DATA_HOME", (root_ / "data").string()},
      {"XDG_CACHE_HOME", (root_ / "cache").string()},
      {"XDG_STATE_HOME", (root_ / "state").string()},
      {"XDG_RUNTIME_DIR", runtimeDir().string()},
      {"DBUS_SESSION_BUS_ADDRESS", busAddress_},
      {"CORVID_SERVICE_ORIGIN", "http://127.0.0.1:" + std::to_string(page_->port())},
      {"NO_AT_BRIDGE", "1"},
      {"GSETTINGS_BACKEND", "memory"},
  };
  for (const auto& e : options_.environment) set.push_back(e);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& s : set) replaced = replaced || s.first == name;
    if (!replaced) env.push_back(entry);
  }
  for (const auto& s : set) env.push_back(s.first + "=" + s.second);
  return env;
}

pid_t AppHarness::spawnCorvid() {
  std::vector<std::string> env = environment();
  std::string out = (root_ / "corvid.out").string();
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // dies with a test that crashed
    int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd >= 0) {
      ::dup2(fd, STDOUT_FILENO);
      ::dup2(fd, STDERR_FILENO);
    }
    int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0) ::dup2(null, STDIN_FILENO);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(CORVID_EXECUTABLE), nullptr};
    ::execve(CORVID_EXECUTABLE, argv, envp.data());
    ::_exit(127);
  }
  return pid;
}

void AppHarness::start() {
  if (pid_ > 0) return;
  pid_ = spawnCorvid();
}

bool AppHarness::running() {
  if (pid_ <= 0 || exited_) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    exited_ = true;
    exitStatus_ = status;
  }
  return !exited_;
}

void AppHarness::sendSignal(int signal) {
  if (running()) ::kill(pid_, signal);
}

std::optional<int> AppHarness::waitForExit(Millis timeout) {
  if (pid_ <= 0) return std::nullopt;
  if (exited_) return exitStatus_;
  auto end = std::chrono::steady_clock::now() + timeout;
  while (true) {
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      exited_ = true;
      exitStatus_ = status;
      return status;
    }
    if (std::chrono::steady_clock::now() >= end) return std::nullopt;
    g_main_context_iteration(nullptr, FALSE);
    std::this_thread::sleep_for(5ms);
  }
}

void AppHarness::stopCorvid() {
  if (pid_ > 0 && !exited_) {
    // The quit sequence may wait up to 1.5 s for the relay.
    ::kill(pid_, SIGTERM);
    if (!waitForExit(10s)) {
      ::kill(pid_, SIGKILL);
      reap(pid_, 5s);
    }
  }
  exited_ = true;
}

std::optional<int> AppHarness::launchAgain(Millis timeout) {
  pid_t second = spawnCorvid();
  auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    int status = 0;
    if (::waitpid(second, &status, WNOHANG) == second) return status;
    g_main_context_iteration(nullptr, FALSE);
    std::this_thread::sleep_for(5ms);
  }
  stopChild(second, 1s);
  return std::nullopt;
}

bool AppHarness::activateAction(const std::string& name, const std::optional<std::string>& parameter,
                                std::string* error) {
  GError* e = nullptr;
  GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
      busAddress_.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &e);
  if (!bus) {
    if (error) *error = e->message;
    g_error_free(e);
    return false;
  }
  GVariantBuilder params;
  g_variant_builder_init(&params, G_VARIANT_TYPE("av"));
  if (parameter) g_variant_builder_add(&params, "v", g_variant_new_string(parameter->c_str()));
  GVariant* reply = g_dbus_connection_call_sync(bus, "io.github.corvid.Corvid", "/io/github/corvid/Corvid",
                                                "org.gtk.Actions", "Activate",
                                                g_variant_new("(sava{sv})", name.c_str(), &params, nullptr),
                                                nullptr, G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &e);
  g_object_unref(bus);
  if (!reply) {
    if (error) *error = e->message;
    g_error_free(e);
    return false;
  }
  g_variant_unref(reply);
  return true;
}

std::vector<std::string> AppHarness::logLines() const {
  std::vector<std::string> lines;
  std::istringstream in(readFile(logFile()));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::size_t AppHarness::countLog(std::string_view part) const {
  std::size_t n = 0;
  for (const auto& line : logLines()) n += line.find(part) != std::string::npos;
  return n;
}

std::optional<std::string> AppHarness::waitForLog(std::string_view part, Millis timeout,
                                                  std::size_t occurrence) {
  std::optional<std::string> found;
  waitUntil(
      [&] {
        std::size_t n = 0;
        for (const auto& line : logLines()) {
          if (line.find(part) == std::string::npos) continue;
          if (++n == occurrence) {
            found = line;
            return true;
          }
        }
        return false;
      },
      timeout);
  return found;
}

bool AppHarness::waitUntil(const std::function<bool()>& done, Millis timeout) {
  auto end = std::chrono::steady_clock::now() + timeout;
  auto nextCheck = std::chrono::steady_clock::now();
  while (true) {
    if (std::chrono::steady_clock::now() >= nextCheck) {
      if (done()) return true;
      nextCheck = std::chrono::steady_clock::now() + 20ms;
    }
    if (std::chrono::steady_clock::now() >= end) return false;
    if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(5ms);
  }
}

bool AppHarness::windowShown(const std::string& title) const {
  Display11 x;
  return x.display && pid_ > 0 && findWindow(x.display, pid_, title).has_value();
}

bool AppHarness::closeWindow(const std::string& title) const {
  Display11 x;
  if (!x.display || pid_ <= 0) return false;
  auto w = findWindow(x.display, pid_, title);
  if (!w) return false;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = *w;
  event.xclient.message_type = XInternAtom(x.display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(x.display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(x.display, *w, False, NoEventMask, &event);
  XFlush(x.display);
  return true;
}

std::string AppHarness::output() const { return readFile(root_ / "corvid.out"); }

}  // namespace corvid::testing
