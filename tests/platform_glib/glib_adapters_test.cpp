// The GLib adapters against real files, a real main loop, a network
// monitor of the test's own and a stand-in logind on a private bus.
#include <gio/gdesktopappinfo.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <vector>

#include "platform/linux/glib/durable_files.h"
#include "platform/linux/glib/key_file_settings.h"
#include "platform/linux/glib/login_item.h"
#include "platform/linux/glib/network_monitor.h"
#include "platform/linux/glib/process_activity.h"
#include "platform_glib/test_support.h"

using namespace corvid;
using namespace corvid::linux_platform;
using namespace corvid::testing;
namespace fs = std::filesystem;

namespace {

unsigned modeOf(const fs::path& p) { return static_cast<unsigned>(fs::status(p).permissions()); }

std::size_t filesIn(const fs::path& dir) { return std::distance(fs::directory_iterator(dir), {}); }

// A network monitor whose availability the test sets, on GIO's public interface.
using TestMonitor = GObject;
using TestMonitorClass = GObjectClass;
gboolean available = FALSE;
void noInterfaceSetUp(void*) {}
G_DEFINE_TYPE_WITH_CODE(TestMonitor, test_monitor, G_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(G_TYPE_INITABLE, noInterfaceSetUp)
                            G_IMPLEMENT_INTERFACE(G_TYPE_NETWORK_MONITOR, noInterfaceSetUp))
void test_monitor_init(TestMonitor*) {}
void test_monitor_class_init(TestMonitorClass* klass) {
  klass->get_property = [](GObject*, guint id, GValue* value, GParamSpec*) {
    if (id == 1) g_value_set_boolean(value, available);
  };
  int id = 0;
  for (const char* name : {"network-available", "network-metered", "connectivity"})
    g_object_class_override_property(klass, ++id, name);
}

}  // namespace

TEST(KeyFileSettings, ValuesSurviveInAFileOnlyTheUserReadsWrittenWholeOrNotAtAllAndABadOneIsMovedAside) {
  TempDir dir("corvid-settings");
  const fs::path file = dir / "corvid" / "settings.ini";
  MemoryLog log;
  // Pairings as the push client writes them, with what key files must escape.
  const std::string pairings = "  [{\"s\": \"a=b\\\\c\\\"d [#\", \"m\": \"김민지의 iPhone\"}\t\n]\r\n# x ";
  KeyFileSettings(file, log, log).setString("pushPairings", pairings);
  EXPECT_EQ(modeOf(file.parent_path()), 0700u);
  chmod(file.c_str(), 0644);
  KeyFileSettings s(file, log, log);
  EXPECT_EQ(modeOf(file), 0600u);  // tightened at start too: the file holds secrets
  EXPECT_EQ(s.stringValue("pushPairings"), pairings);

  // A file-size limit makes the temporary file's write fail, for root too.
  const std::string before = readFile(file);
  const auto handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit was{}, small{};
  getrlimit(RLIMIT_FSIZE, &was);
  small = {4096, was.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  s.setString("pushPairings", std::string(100'000, 'p'));
  setrlimit(RLIMIT_FSIZE, &was);
  std::signal(SIGXFSZ, handler);
  EXPECT_EQ(readFile(file), before);
  EXPECT_EQ(filesIn(file.parent_path()), 1u);  // no temporaries left
  ASSERT_EQ(log.systemLines.size(), 1u);
  EXPECT_EQ(log.systemLines[0].rfind("settings: cannot write", 0), 0u) << log.systemLines[0];
  s.setBool("everWatched", true);  // the next write that succeeds carries the earlier change along
  EXPECT_EQ(KeyFileSettings(file, log, log).stringValue("pushPairings"), std::string(100'000, 'p'));

  // An unreadable file is moved aside and the store starts empty.
  log = {};
  const std::string broken = "[Corvid]\neverWatched=true\nthis line is no key\n";
  std::ofstream(file, std::ios::trunc) << broken;
  KeyFileSettings fresh(file, log, log);
  EXPECT_FALSE(fresh.contains("everWatched"));
  const std::string aside = fresh.movedAside().filename();
  EXPECT_EQ(aside.rfind("settings.ini.bad-", 0), 0u) << aside;
  EXPECT_EQ(readFile(file.parent_path() / aside), broken);
  EXPECT_EQ(log.lines, std::vector<std::string>{"app: settings file unreadable, moved to " + aside});
}

TEST(StateFile, WritesAFileOnlyTheUserReadsAndMovesAnUnusableOneAside) {
  TempDir dir("corvid-state");
  const fs::path file = dir / "corvid" / "outbox.json";
  MemoryLog log;
  StateFile state(file, "outbox", log, log);
  EXPECT_FALSE(state.read());  // none yet
  state.write(R"({"entries":[]})");
  EXPECT_EQ(modeOf(file), 0600u);
  EXPECT_EQ(modeOf(file.parent_path()), 0700u);
  EXPECT_EQ(StateFile(file, "outbox", log, log).read(), R"({"entries":[]})");

  std::ofstream(file, std::ios::trunc) << "{\"entries\": [";
  ASSERT_TRUE(state.read());
  state.keepAside("not an outbox");
  const std::string aside = state.movedAside().filename();
  EXPECT_EQ(aside.rfind("outbox.json.bad-", 0), 0u) << aside;
  EXPECT_EQ(readFile(file.parent_path() / aside), "{\"entries\": [");
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(log.lines, std::vector<std::string>{"app: outbox file unreadable, moved to " + aside});
  state.write("{}");  // a new file starts
  EXPECT_EQ(readFile(file), "{}");
}

TEST(GLibNetworkMonitor, ReportsTheStateAtStartAndOnEveryChangeSignal) {
  auto* fake = G_NETWORK_MONITOR(g_object_new(test_monitor_get_type(), nullptr));
  auto change = [&](gboolean now, gboolean argument) {
    available = now;
    g_signal_emit_by_name(fake, "network-changed", argument);
  };
  std::vector<bool> seen;
  auto monitor = std::make_unique<GLibNetworkMonitor>(fake);
  monitor->start([&](bool online) { seen.push_back(online); });  // at once, with the current state
  change(TRUE, TRUE);
  change(TRUE, TRUE);   // a signal without a change counts too
  change(TRUE, FALSE);  // the state is read from the monitor, not from the signal's argument
  change(FALSE, FALSE);
  monitor.reset();
  change(TRUE, TRUE);  // the adapter is gone: no call
  EXPECT_EQ(seen, (std::vector<bool>{false, true, true, true, false}));
  g_object_unref(fake);
}

TEST(IdleInhibitor, HoldsLogindsDescriptorForItsWholeLifeAndWithoutABusSkipsWithOneLine) {
  MemoryLog log;
  LogindIdleInhibitor alone(log, "unix:path=/nonexistent/corvid-test-bus");
  alone.begin("Instagram DM watcher");
  ASSERT_TRUE(spinUntil([&] { return alone.settled(); }));
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].rfind("app: no idle inhibitor (", 0), 0u) << log.lines[0];

  PrivateBus bus;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  BusStub logind(bus.address(), "org.freedesktop.login1", "/org/freedesktop/login1", kLogindManagerXml,
                 [&](const std::string&, GVariant*) { return BusStub::Reply::descriptor(dup(fds[1])); });
  pollfd hungUp{fds[0], POLLIN, 0};  // the read end sees a hang-up once every write end is closed
  {
    LogindIdleInhibitor inhibitor(log, bus.address());
    inhibitor.begin("Instagram DM watcher");
    inhibitor.begin("again");  // only the first call asks
    ASSERT_TRUE(spinUntil([&] { return inhibitor.settled(); }));
    close(fds[1]);  // the inhibitor's copy is left
    EXPECT_EQ(poll(&hungUp, 1, 0), 0);
  }
  EXPECT_EQ(poll(&hungUp, 1, 0), 1);
  close(fds[0]);
  ASSERT_EQ(logind.calls().size(), 1u);
  EXPECT_EQ(logind.calls()[0].args, "('idle:sleep', 'Corvid', 'Instagram DM watcher', 'block')");
}

TEST(XdgAutostartLoginItem, TheEntryStartsExactlyThisProgramUntilTheSessionSwitchesItOff) {
  TempDir root("corvid-login-item");
  // A path with what the desktop-entry rules need escaped or quoted.
  const auto exe = root / "my apps" / "cor\"vid $HOME `id` \\ 'q';#",
             entry = root / "autostart/corvid.desktop";
  std::filesystem::create_directories(exe.parent_path());
  std::ofstream(exe) << "#!/bin/sh\necho \"$0\" > '" << (root / "started").string() << "'\n";
  chmod(exe.c_str(), 0755);
  XdgAutostartLoginItem item(root / "autostart", exe);
  ASSERT_EQ(item.registerItem(), std::nullopt);
  EXPECT_EQ(item.status(), LoginItemStatus::enabled);
  GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(entry.c_str());  // as a session reads it
  ASSERT_NE(info, nullptr) << readFile(entry);
  EXPECT_TRUE(g_app_info_launch(G_APP_INFO(info), nullptr, nullptr, nullptr));
  g_object_unref(info);
  EXPECT_TRUE(spinUntil([&] { return readFile(root / "started") == exe.string() + "\n"; }, 5s));

  std::string text = readFile(entry);  // switched off by a session tool
  std::ofstream(entry, std::ios::trunc) << text.replace(text.find("enabled=true"), 12, "enabled=false");
  EXPECT_EQ(item.status(), LoginItemStatus::requiresApproval);
  ASSERT_EQ(item.unregisterItem(), std::nullopt);
  EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);
  EXPECT_TRUE(std::filesystem::is_empty(root / "autostart"));  // no temporaries either
}
