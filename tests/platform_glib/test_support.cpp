#include "platform_glib/test_support.h"

#include <gio/gunixfdlist.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>

#include <fstream>
#include <future>
#include <map>
#include <sstream>
#include <stdexcept>

namespace corvid::testing {

namespace fs = std::filesystem;

bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
  }
  return true;
}

void spinFor(std::chrono::milliseconds d) { spinUntil([] { return false; }, d); }

std::string readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TempDir::TempDir(const char* prefix) {
  std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_directory(ec)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

std::set<pid_t> descendantsNamed(const std::string& name) {
  std::map<pid_t, std::pair<pid_t, std::string>> all;  // pid → (parent, command name)
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const auto pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = readFile(entry.path() / "stat");
    auto open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 2));
    char state;
    pid_t parent = 0;
    rest >> state >> parent;
    all[std::stoi(pid)] = {parent, stat.substr(open + 1, close - open - 1)};
  }
  std::set<pid_t> found;
  for (const auto& [pid, info] : all) {
    if (info.second != name) continue;
    for (pid_t p = info.first; p > 1 && all.count(p); p = all[p].first) {
      if (p == getpid()) found.insert(pid);
    }
  }
  return found;
}

PrivateBus::PrivateBus() {
  GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDOUT_PIPE);
  // The bus goes with a test process that dies.
  g_subprocess_launcher_set_child_setup(
      launcher, [](gpointer) { prctl(PR_SET_PDEATHSIG, SIGTERM); }, nullptr, nullptr);
  GError* error = nullptr;
  daemon_ = g_subprocess_launcher_spawn(launcher, &error, "dbus-daemon", "--session", "--nofork", "--nopidfile",
                                        "--print-address=1", nullptr);
  g_object_unref(launcher);
  if (!daemon_) {
    std::string why = error->message;
    g_error_free(error);
    throw std::runtime_error("dbus-daemon: " + why);
  }
  GDataInputStream* out = g_data_input_stream_new(g_subprocess_get_stdout_pipe(daemon_));
  char* line = g_data_input_stream_read_line(out, nullptr, nullptr, nullptr);
  g_object_unref(out);
  address_ = line ? line : "";
  g_free(line);
  if (address_.empty()) {
    g_subprocess_force_exit(daemon_);
    g_object_unref(daemon_);
    throw std::runtime_error("dbus-daemon gave no address");
  }
}

PrivateBus::~PrivateBus() {
  g_subprocess_send_signal(daemon_, SIGTERM);  // our child, until it is reaped
  g_subprocess_wait(daemon_, nullptr, nullptr);
  g_object_unref(daemon_);
}

GDBusConnection* connectTo(const std::string& address) {
  return g_dbus_connection_new_for_address_sync(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
}

const char* const kLogindManagerXml =
    "<node><interface name='org.freedesktop.login1.Manager'><method name='Inhibit'>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='s' direction='in'/><arg type='h' direction='out'/></method>"
    "<signal name='PrepareForShutdown'><arg type='b'/></signal></interface></node>";

BusStub::BusStub(std::string address, std::string name, std::string path, std::string xml, Method method,
                 Property property)
    : address_(std::move(address)),
      name_(std::move(name)),
      path_(std::move(path)),
      xml_(std::move(xml)),
      method_(std::move(method)),
      property_(std::move(property)) {
  std::promise<void> started;
  thread_ = std::thread([this, &started] {
    context_ = g_main_context_new();
    g_main_context_push_thread_default(context_);
    // Registered here, the object's calls are served on this thread.
    connection_ = connectTo(address_);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml_.c_str(), nullptr);
    static const GDBusInterfaceVTable vtable = {&BusStub::onCall, &BusStub::onGet, nullptr, {}};
    guint object = 0;
    if (connection_ && node) {
      interface_ = node->interfaces[0]->name;
      object = g_dbus_connection_register_object(connection_, path_.c_str(), node->interfaces[0], &vtable, this,
                                                 nullptr, nullptr);
      loop_ = g_main_loop_new(context_, FALSE);
    }
    if (node) g_dbus_node_info_unref(node);
    started.set_value();
    if (loop_) g_main_loop_run(loop_);
    if (object) g_dbus_connection_unregister_object(connection_, object);
    if (connection_) {
      g_dbus_connection_close_sync(connection_, nullptr, nullptr);
      g_object_unref(connection_);
    }
    g_main_context_pop_thread_default(context_);
  });
  started.get_future().wait();
  if (!loop_ || !own()) {
    stop();
    throw std::runtime_error("cannot serve " + name_ + " on " + address_);
  }
}

BusStub::~BusStub() { stop(); }

void BusStub::stop() {
  if (!thread_.joinable()) return;
  if (loop_) {  // from inside the loop: a quit before it runs would be lost
    GSource* quit = g_idle_source_new();
    g_source_set_callback(
        quit, [](gpointer loop) { return g_main_loop_quit(static_cast<GMainLoop*>(loop)), G_SOURCE_REMOVE; },
        loop_, nullptr);
    g_source_attach(quit, context_);
    g_source_unref(quit);
  }
  thread_.join();
  if (loop_) g_main_loop_unref(loop_);
  g_main_context_unref(context_);
}

bool BusStub::own() {
  GVariant* reply = g_dbus_connection_call_sync(
      connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
      g_variant_new("(su)", name_.c_str(), 4u /* do not queue */), G_VARIANT_TYPE("(u)"),
      G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  guint32 result = 0;
  if (reply) {
    g_variant_get(reply, "(u)", &result);
    g_variant_unref(reply);
  }
  owned_ = result == 1 || result == 4;  // primary owner, or already
  return owned_;
}

void BusStub::release() {
  GVariant* reply = g_dbus_connection_call_sync(connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "ReleaseName",
                                                g_variant_new("(s)", name_.c_str()), G_VARIANT_TYPE("(u)"),
                                                G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  if (reply) g_variant_unref(reply);
  owned_ = false;
}

std::vector<BusStub::Call> BusStub::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

void BusStub::emit(const char* signal, GVariant* args) {
  g_dbus_connection_emit_signal(connection_, nullptr, path_.c_str(), interface_.c_str(), signal, args, nullptr);
  g_dbus_connection_flush_sync(connection_, nullptr, nullptr);
}

void BusStub::onCall(GDBusConnection*, const char* sender, const char*, const char*, const char* method,
                     GVariant* args, GDBusMethodInvocation* invocation, gpointer data) {
  auto* self = static_cast<BusStub*>(data);
  gchar* printed = g_variant_print(args, FALSE);
  {
    std::lock_guard lock(self->mutex_);
    self->calls_.push_back({sender ? sender : "", method, printed});
  }
  g_free(printed);
  Reply reply = self->method_ ? self->method_(method, args) : Reply{};
  if (!reply.error.empty()) {
    if (reply.value) g_variant_unref(g_variant_ref_sink(reply.value));
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.AccessDenied",
                                               reply.error.c_str());
  } else if (reply.fd >= 0) {
    GUnixFDList* fds = g_unix_fd_list_new();
    g_unix_fd_list_append(fds, reply.fd, nullptr);  // a copy; ours is closed below
    close(reply.fd);
    g_dbus_method_invocation_return_value_with_unix_fd_list(
        invocation, reply.value ? reply.value : g_variant_new("(h)", 0), fds);
    g_object_unref(fds);
  } else {
    g_dbus_method_invocation_return_value(invocation, reply.value);
  }
}

GVariant* BusStub::onGet(GDBusConnection*, const char*, const char*, const char*, const char* property,
                         GError** error, gpointer data) {
  auto* self = static_cast<BusStub*>(data);
  GVariant* value = self->property_ ? self->property_(property) : nullptr;
  if (!value) g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "no %s", property);
  return value;
}

}  // namespace corvid::testing
