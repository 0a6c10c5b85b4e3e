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
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() < end)
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
  return done();
}

std::string readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TempDir::TempDir(const char* prefix) {
  std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  assign(pattern);
}

namespace {

// The parent in /proc/PID/stat: "PID (command name) STATE PARENT ...".
pid_t parentOf(pid_t pid) {
  const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  auto close = stat.rfind(") ");
  return close == std::string::npos ? 0 : std::atoi(stat.c_str() + close + 4);
}

}  // namespace

std::set<pid_t> descendantsNamed(const std::string& name) {
  std::set<pid_t> found;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const pid_t pid = std::atoi(entry.path().filename().c_str());
    if (pid <= 0 || readFile(entry.path() / "comm") != name + "\n") continue;
    for (pid_t p = parentOf(pid); p > 1; p = parentOf(p))
      if (p == getpid()) found.insert(pid);
  }
  return found;
}

// A session bus without service activation: only what a test starts is on
// it, whatever the machine has installed (a notification server, for one,
// would otherwise be started by the first notification).
constexpr const char* kPrivateBusConfig =
    "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
    "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>\n"
    "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
    "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";

PrivateBus::PrivateBus() {
  // The daemon reads its configuration once, at start.
  char config[] = "/tmp/corvid-bus-XXXXXX.conf";
  int fd = mkstemps(config, 5);
  if (fd < 0) throw std::runtime_error("cannot write the bus configuration");
  const std::string text = kPrivateBusConfig;
  const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  const std::string configArgument = std::string("--config-file=") + config;
  GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDOUT_PIPE);
  // The bus goes with a test process that dies.
  g_subprocess_launcher_set_child_setup(
      launcher, [](gpointer) { prctl(PR_SET_PDEATHSIG, SIGTERM); }, nullptr, nullptr);
  if (written) {
    daemon_ = g_subprocess_launcher_spawn(launcher, nullptr, "dbus-daemon", configArgument.c_str(), "--nofork",
                                          "--nopidfile", "--print-address=1", nullptr);
  }
  g_object_unref(launcher);
  if (!daemon_) {
    unlink(config);
    throw std::runtime_error("cannot start dbus-daemon");
  }
  GDataInputStream* out = g_data_input_stream_new(g_subprocess_get_stdout_pipe(daemon_));
  char* line = g_data_input_stream_read_line(out, nullptr, nullptr, nullptr);
  g_object_unref(out);
  address_ = line ? line : "";
  g_free(line);
  unlink(config);
  if (address_.empty()) throw std::runtime_error("dbus-daemon gave no address");  // it ends with us
}

PrivateBus::~PrivateBus() {
  g_subprocess_send_signal(daemon_, SIGTERM);  // our child, until it is reaped
  g_subprocess_wait(daemon_, nullptr, nullptr);
  g_object_unref(daemon_);
}

const char* const kLogindManagerXml =
    "<node><interface name='org.freedesktop.login1.Manager'><method name='Inhibit'><arg type='s'/>"
    "<arg type='s'/><arg type='s'/><arg type='s'/><arg type='h' direction='out'/></method>"
    "<signal name='PrepareForShutdown'><arg type='b'/></signal></interface></node>";

BusStub::BusStub(const std::string& address, const std::string& name, std::string path,
                 const std::string& xml, Method method)
    : path_(std::move(path)), method_(std::move(method)) {
  connection_ = g_dbus_connection_new_for_address_sync(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  GVariant* reply = g_dbus_connection_call_sync(
      connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
      g_variant_new("(su)", name.c_str(), 4u /* do not queue */), G_VARIANT_TYPE("(u)"),
      G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  guint32 result = 0;  // 1: the primary owner
  if (reply) g_variant_get(reply, "(u)", &result);
  if (reply) g_variant_unref(reply);
  if (result != 1) throw std::runtime_error("cannot own " + name + " on " + address);
  const auto at = xml.find("interface name=") + 16;  // past the opening quote
  interface_ = xml.substr(at, xml.find_first_of("'\"", at) - at);
  g_dbus_connection_add_filter(connection_, &BusStub::filter, this, nullptr);
}

BusStub::~BusStub() {
  g_dbus_connection_close_sync(connection_, nullptr, nullptr);
  g_object_unref(connection_);
}

std::vector<BusStub::Call> BusStub::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

void BusStub::emit(const char* signal, GVariant* args) {
  g_dbus_connection_emit_signal(connection_, nullptr, path_.c_str(), interface_.c_str(), signal, args,
                                nullptr);
}

// Runs on GDBus's worker thread for every message the stub's connection
// receives; answers the calls to the stub's object and drops them.
GDBusMessage* BusStub::filter(GDBusConnection* connection, GDBusMessage* message, gboolean incoming,
                              gpointer data) {
  auto* self = static_cast<BusStub*>(data);
  if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL ||
      self->path_ != g_dbus_message_get_path(message))
    return message;
  const char* member = g_dbus_message_get_member(message);
  GVariant* args = g_dbus_message_get_body(message);
  gchar* printed = args ? g_variant_print(args, FALSE) : g_strdup("()");
  std::unique_lock lock(self->mutex_);
  self->calls_.push_back({printed});
  lock.unlock();
  g_free(printed);
  Reply reply = self->method_ ? self->method_(member, args) : Reply{};
  GDBusMessage* answer = g_dbus_message_new_method_reply(message);
  if (reply.fd >= 0) {
    GUnixFDList* fds = g_unix_fd_list_new_from_array(&reply.fd, 1);  // takes the descriptor
    g_dbus_message_set_unix_fd_list(answer, fds);
    g_object_unref(fds);
    reply.value = reply.value ? reply.value : g_variant_new("(h)", 0);
  }
  if (reply.value) g_dbus_message_set_body(answer, reply.value);  // takes a floating reference
  g_dbus_connection_send_message(connection, answer, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr, nullptr);
  g_object_unref(answer);
  g_object_unref(message);
  return nullptr;
}

std::unique_ptr<BusStub> notificationServer(const std::string& address, const char* capability) {
  return std::make_unique<BusStub>(
      address, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
      R"(<node><interface name="org.freedesktop.Notifications">
<method name="GetCapabilities"><arg type="as" direction="out"/></method><method name="GetServerInformation">
<arg type="s" direction="out"/><arg type="s" direction="out"/><arg type="s" direction="out"/>
<arg type="s" direction="out"/></method><method name="Notify"><arg type="s"/><arg type="u"/><arg type="s"/>
<arg type="s"/><arg type="s"/><arg type="as"/><arg type="a{sv}"/><arg type="i"/><arg type="u" direction="out"/>
</method></interface></node>)",
      [capability, last = 0u](const std::string& method, GVariant*) mutable -> BusStub::Reply {
        const char* capabilities[] = {capability, nullptr};
        if (method == "GetCapabilities") return g_variant_new("(^as)", capabilities);
        if (method == "GetServerInformation") return g_variant_new("(ssss)", "fake", "corvid", "1", "1.2");
        return g_variant_new("(u)", ++last);
      });
}

}  // namespace corvid::testing
