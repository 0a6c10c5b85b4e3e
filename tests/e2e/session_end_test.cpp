// The end of the session and the loss of the display reach the phones: the
// real corvid binary on an X server of the test's own, in a session of the
// real XSMP session manager of Xfce (xfce4-session, on a bus of its own),
// reporting to a loopback relay that never answers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>

#include "app_harness.h"

namespace corvid::testing {
namespace {

// Ends a child of ours that is still running, by its own handle, and reaps it.
void stop(GSubprocess* process) {
  if (!process) return;
  if (g_subprocess_get_identifier(process)) g_subprocess_send_signal(process, SIGTERM);
  if (!spinUntil([&] { return g_subprocess_get_identifier(process) == nullptr; }, 5s))
    g_subprocess_force_exit(process);
  g_subprocess_wait(process, nullptr, nullptr);
  g_object_unref(process);
}

GSubprocessLauncher* launcher(GSubprocessFlags flags = G_SUBPROCESS_FLAGS_NONE) {
  GSubprocessLauncher* l = g_subprocess_launcher_new(flags);
  g_subprocess_launcher_set_child_setup(  // goes with a test that crashed
      l, [](gpointer) { prctl(PR_SET_PDEATHSIG, SIGTERM); }, nullptr, nullptr);
  return l;
}

// An Xvfb of our own, on a display number it picks itself.
class XServer {
 public:
  XServer() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    GSubprocessLauncher* l = launcher(G_SUBPROCESS_FLAGS_STDERR_SILENCE);
    g_subprocess_launcher_take_fd(l, fds[1], 3);
    process_ = g_subprocess_launcher_spawn(l, nullptr, "Xvfb", "-displayfd", "3", "-screen", "0",
                                           "1280x800x24", "-nolisten", "tcp", nullptr);
    g_object_unref(l);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c;
    while (process_ && poll(&p, 1, 10000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (!process_ || number.empty()) {
      stop(process_);
      throw std::runtime_error("Xvfb did not start");
    }
    display_ = ":" + number;
  }
  ~XServer() { stop(process_); }
  XServer(const XServer&) = delete;

  const std::string& display() const { return display_; }
  // The X server goes away under its clients.
  void kill() {
    stop(process_);
    process_ = nullptr;
  }

 private:
  GSubprocess* process_ = nullptr;
  std::string display_;
};

std::filesystem::path makeRoot() {
  char pattern[] = "/tmp/corvid-xfce-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
  return pattern;
}

// The settings daemon of Xfce, as its bus activation file names it.
std::string xfconfd() {
  GKeyFile* file = g_key_file_new();
  gchar* exec = nullptr;
  if (g_key_file_load_from_file(file, "/usr/share/dbus-1/services/org.xfce.Xfconf.service", G_KEY_FILE_NONE,
                                nullptr))
    exec = g_key_file_get_string(file, "D-BUS Service", "Exec", nullptr);
  std::string path = exec ? exec : "xfconfd";
  g_free(exec);
  g_key_file_free(file);
  return path;
}

// xfce4-session with a minimal session of one real member (xfsettingsd),
// its settings written by the test, on its own bus and the test's X server.
class XfceSession {
 public:
  explicit XfceSession(const XServer& x) {
    for (const char* d :
         {"home", "config", "cache", "data", "runtime", "xdg/xfce4/xfconf/xfce-perchannel-xml"})
      std::filesystem::create_directories(root_ / d);
    std::filesystem::permissions(root_ / "runtime", std::filesystem::perms::owner_all);
    std::ofstream(root_ / "xdg/xfce4/xfconf/xfce-perchannel-xml/xfce4-session.xml")
        << R"(<?xml version="1.0"?>
<channel name="xfce4-session" version="1.0">
  <property name="general" type="empty">
    <property name="FailsafeSessionName" type="string" value="Failsafe"/>
    <property name="SaveOnExit" type="bool" value="false"/>
  </property>
  <property name="sessions" type="empty">
    <property name="Failsafe" type="empty">
      <property name="IsFailsafe" type="bool" value="true"/>
      <property name="Count" type="int" value="1"/>
      <property name="Client0_Command" type="array"><value type="string" value="xfsettingsd"/></property>
      <property name="Client0_Priority" type="int" value="15"/>
      <property name="Client0_PerScreen" type="bool" value="false"/>
    </property>
  </property>
  <property name="startup" type="empty">
    <property name="ssh-agent" type="empty"><property name="enabled" type="bool" value="false"/></property>
    <property name="gpg-agent" type="empty"><property name="enabled" type="bool" value="false"/></property>
  </property>
</channel>
)";
    const std::vector<std::pair<std::string, std::string>> environment = {
        {"HOME", root_ / "home"},
        {"XDG_CONFIG_HOME", root_ / "config"},
        {"XDG_CONFIG_DIRS", root_ / "xdg"},
        {"XDG_CACHE_HOME", root_ / "cache"},
        {"XDG_DATA_HOME", root_ / "data"},
        {"XDG_RUNTIME_DIR", root_ / "runtime"},
        {"ICEAUTHORITY", iceAuthority()},
        {"DISPLAY", x.display()},
        {"DBUS_SESSION_BUS_ADDRESS", bus_->address()},
        {"NO_AT_BRIDGE", "1"}};
    // The session's settings come from xfconfd, which the test bus does not
    // start by itself: started here with the same folders.
    GSubprocessLauncher* l = launcher(
        static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_SILENCE | G_SUBPROCESS_FLAGS_STDERR_SILENCE));
    for (const auto& [name, value] : environment)
      g_subprocess_launcher_setenv(l, name.c_str(), value.c_str(), TRUE);
    g_subprocess_launcher_unsetenv(l, "SESSION_MANAGER");
    settings_ = g_subprocess_launcher_spawn(l, nullptr, xfconfd().c_str(), nullptr);
    if (!settings_) {
      g_object_unref(l);
      throw std::runtime_error("cannot start xfconfd");
    }
    bus_connection_ = connectTo(bus_->address());
    if (!spinUntil([&] { return hasOwner("org.xfce.Xfconf"); }, 10s)) throw std::runtime_error("no xfconfd");
    // No TCP: the manager listens on its local socket only.
    process_ = g_subprocess_launcher_spawn(l, nullptr, "xfce4-session", "--disable-tcp", nullptr);
    g_object_unref(l);
    if (!process_) throw std::runtime_error("cannot start xfce4-session");
    const std::string socket = "/tmp/.ICE-unix/" + std::string(g_subprocess_get_identifier(process_));
    if (!spinUntil([&] { return std::filesystem::exists(socket); }, 10s))
      throw std::runtime_error("xfce4-session does not listen");
    address_ = "unix/" + std::string(g_get_host_name()) + ":" + socket;
  }
  ~XfceSession() {
    if (bus_connection_) g_object_unref(bus_connection_);
    stop(process_);
    stop(settings_);
    bus_.reset();
    // The settings daemon of the session may still be writing as it leaves.
    std::error_code error;
    for (int i = 0; i < 50 && std::filesystem::remove_all(root_, error) == static_cast<std::uintmax_t>(-1);
         ++i)
      spinFor(100ms);
  }
  XfceSession(const XfceSession&) = delete;

  // SESSION_MANAGER for the session's members.
  const std::string& address() const { return address_; }
  std::string iceAuthority() const { return root_ / "ICEauthority"; }
  bool running() const { return g_subprocess_get_identifier(process_) != nullptr; }

  // A method of the manager (org.xfce.Session.Manager); nothing on error.
  GVariant* call(const char* method, GVariant* args, const char* path = "/org/xfce/SessionManager",
                 const char* interface = "org.xfce.Session.Manager", std::string* error = nullptr) {
    GError* e = nullptr;
    GVariant* reply =
        g_dbus_connection_call_sync(bus_connection_, "org.xfce.SessionManager", path, interface, method, args,
                                    nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &e);
    if (e) {
      if (error) *error = e->message;
      g_error_free(e);
    }
    return reply;
  }
  bool hasOwner(const char* name) {
    GVariant* reply =
        g_dbus_connection_call_sync(bus_connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                    "org.freedesktop.DBus", "NameHasOwner", g_variant_new("(s)", name),
                                    G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    gboolean owned = FALSE;
    if (reply) g_variant_get(reply, "(b)", &owned), g_variant_unref(reply);
    return owned;
  }
  // The manager's state: 1 while idle (neither starting, saving nor ending).
  int state() {
    GVariant* reply = call("GetState", nullptr);
    if (!reply) return -1;
    guint32 value = 0;
    g_variant_get(reply, "(u)", &value);
    g_variant_unref(reply);
    return static_cast<int>(value);
  }
  // The XSMP properties of every member, by property name, as printed.
  std::vector<std::map<std::string, std::string>> members() {
    std::vector<std::map<std::string, std::string>> out;
    GVariant* reply = call("ListClients", nullptr);
    if (!reply) return out;
    GVariantIter* paths = nullptr;
    g_variant_get(reply, "(ao)", &paths);
    const char* path = nullptr;
    while (g_variant_iter_next(paths, "&o", &path)) {
      GVariant* props = call("GetAllSmProperties", nullptr, path, "org.xfce.Session.Client");
      if (!props) continue;
      GVariantIter* entries = nullptr;
      g_variant_get(props, "(a{sv})", &entries);
      std::map<std::string, std::string> member;
      const char* name = nullptr;
      GVariant* value = nullptr;
      while (g_variant_iter_next(entries, "{&sv}", &name, &value)) {
        gchar* text = g_variant_print(value, FALSE);
        member[name] = text;
        g_free(text);
        g_variant_unref(value);
      }
      g_variant_iter_free(entries);
      g_variant_unref(props);
      out.push_back(member);
    }
    g_variant_iter_free(paths);
    g_variant_unref(reply);
    return out;
  }

 private:
  std::filesystem::path root_ = makeRoot();
  std::unique_ptr<PrivateBus> bus_ = std::make_unique<PrivateBus>();
  GSubprocess* settings_ = nullptr;
  GSubprocess* process_ = nullptr;
  GDBusConnection* bus_connection_ = nullptr;
  std::string address_;
};

bool exitedCleanly(const std::optional<int>& status) {
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

TEST(SessionEnd, AnXfceLogoutTellsThePhonesStoppedAndACheckpointDoesNot) {
  XServer x;
  XfceSession session(x);
  AppHarness app({.pairingSecrets = {"secret-1"},
                  .everWatched = true,
                  .environment = {{"DISPLAY", x.display()},
                                  {"SESSION_MANAGER", session.address()},
                                  {"ICEAUTHORITY", session.iceAuthority()}}});
  app.relay().setSilent(true);
  app.start();
  ASSERT_TRUE(app.waitForLog("app: launched ")) << app.output();
  // Corvid is a member of the session that the manager never restarts.
  auto isCorvid = [](const std::map<std::string, std::string>& m) {
    auto program = m.find("Program");
    return program != m.end() && program->second.find("/corvid'") != std::string::npos &&
           m.count("RestartStyleHint") && m.at("RestartStyleHint") == "0x03";
  };
  ASSERT_TRUE(app.waitUntil(
      [&] {
        auto members = session.members();
        return std::any_of(members.begin(), members.end(), isCorvid);
      },
      15s))
      << app.output() << ::testing::PrintToString(session.members());

  // A checkpoint: the manager is idle again only once every member has
  // answered its save; Corvid goes on and tells nobody anything.
  ASSERT_TRUE(app.waitUntil([&] { return session.state() == 1; }, 30s));
  GVariant* reply = session.call("Checkpoint", g_variant_new("(s)", ""));
  ASSERT_TRUE(reply);
  g_variant_unref(reply);
  ASSERT_TRUE(app.waitUntil([&] { return session.state() == 1; }, 10s));
  EXPECT_FALSE(app.waitForExit(1s));
  EXPECT_EQ(app.relay().count("/v1/status", "\"stopped\""), 0u);

  // The logout, without a dialog: no question, "stopped" although the relay
  // never answers, Corvid ends and the session with it.
  reply = session.call("Logout", g_variant_new("(bb)", FALSE, TRUE));
  ASSERT_TRUE(reply);
  g_variant_unref(reply);
  auto status = app.waitForExit(10s);
  EXPECT_TRUE(exitedCleanly(status)) << app.output();
  EXPECT_EQ(app.relay().count("/v1/status", "\"stopped\""), 1u);
  EXPECT_EQ(app.countLog("quit: status stopped"), 1u);
  EXPECT_TRUE(app.waitUntil([&] { return !session.running(); }, 15s));
}

TEST(SessionEnd, TheLossOfTheDisplayStillTellsThePhonesStopped) {
  XServer x;
  // Setup incomplete: the main window shows when the X server goes.
  AppHarness app(
      {.pairingSecrets = {"secret-1"}, .everWatched = false, .environment = {{"DISPLAY", x.display()}}});
  app.relay().setSilent(true);
  app.start();
  ASSERT_TRUE(app.waitForLog("ui: settings window")) << app.output();
  app.waitUntil([] { return false; }, 1s);
  x.kill();
  auto status = app.waitForExit(10s);
  ASSERT_TRUE(status) << app.output();
  EXPECT_EQ(app.relay().count("/v1/status", "\"stopped\""), 1u) << app.output();
  EXPECT_EQ(app.countLog("quit: status stopped"), 1u);
  EXPECT_TRUE(exitedCleanly(status)) << app.output() << "wait status " << *status;
}

}  // namespace
}  // namespace corvid::testing
