// End-to-end harness: runs the real `corvid` binary in a sandbox of its own
// and watches what it does.
//
//   AppHarness app({.pairingSecrets = {"secret-1"}});
//   app.start();
//   ASSERT_TRUE(app.waitForLog("app: launched "));
//   app.activateAction("show-instagram", "inspect");
//   ASSERT_TRUE(app.waitUntil([&] { return app.windowsShown("Instagram 화면") == 1; }));
//   app.relay().setSilent(true);
//   app.sendSignal(SIGTERM);
//   auto status = app.waitForExit(10s);
//
// Each harness makes, under one temporary folder that it removes again, HOME
// and the XDG folders (with a settings.ini seeded with pairings that point
// at the relay, when asked for); a private session bus, so that harnesses
// running side by side each have their own single instance of Corvid; the
// test inbox page (tests/pages/server.mjs), which CORVID_SERVICE_ORIGIN
// points the Watcher at, so nothing reaches the real service; and a
// loopback relay that records every request and can be told never to
// answer. Corvid inherits DISPLAY (the tests run under Xvfb) unless the
// options name another; its output goes to `output()`.
//
// Corvid runs as a GSubprocess: signals reach only a child that GLib has not
// reaped yet, the destructor stops it (SIGTERM, then SIGKILL), and it gets
// SIGTERM should the test process die. The relay lives on the default main
// context: the waiting calls iterate it, and a test that waits on its own
// must do so too (waitUntil does).
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "page_server.h"
#include "platform_glib/test_support.h"
#include "platform_net/test_server.h"

namespace corvid::testing {

using Millis = std::chrono::milliseconds;

// An HTTP server on 127.0.0.1 standing in for the push relay: answers every
// request 200 "{}", or the status it was told to answer, or, once silent,
// records requests and never answers.
// A connection of its own to the message bus at `address`; nullptr on failure.
GDBusConnection* connectTo(const std::string& address);

class RecordingRelay {
 public:
  RecordingRelay();
  const std::string& origin() const { return server_.origin; }
  void setSilent(bool silent) { silent_ = silent; }
  // Answers every request with `status` and {"error":"..."}; 200 again with 200.
  void setStatus(int status) { status_ = status; }
  const std::vector<TestServer::Received>& requests() const { return server_.received; }
  // Requests to `path` whose body contains `bodyPart`.
  std::size_t count(std::string_view path, std::string_view bodyPart = {}) const;

  // Every answer given, with the moment it was given.
  struct Answered {
    std::chrono::steady_clock::time_point at;
    std::string path, body;
    int status = 0;
  };
  const std::vector<Answered>& answered() const { return answered_; }

 private:
  TestServer server_;
  bool silent_ = false;
  int status_ = 200;
  std::vector<Answered> answered_;
};

// A top-level window's place on the screen (root coordinates, without any
// window manager's frame) and its class (WM_CLASS, the class part).
struct WindowGeometry {
  int x = 0, y = 0, width = 0, height = 0;
  std::string wmClass;
};
// The size of the default screen of the display the tests run on.
WindowGeometry screenSize();

struct AppOptions {
  // Pairings stored in settings.ini ("pushPairings"), by secret; with any,
  // "pushServerURL" is the relay's origin.
  std::vector<std::string> pairingSecrets = {};
  // "everWatched", when given.
  std::optional<bool> everWatched = std::nullopt;
  // More "key=value" lines for settings.ini.
  std::vector<std::string> settingsLines = {};
  // Options of the test inbox server, e.g. {"--threads", "40"}.
  std::vector<std::string> pageOptions = {};
  // The corvid binary to run; empty: the one built with the harness.
  std::string executable = {};
  // Variables set for corvid on top of the sandbox's (DISPLAY of another
  // X server, SESSION_MANAGER, ...).
  std::vector<std::pair<std::string, std::string>> environment = {};
};

class AppHarness {
 public:
  // Makes the folders, the bus, the page server and the relay; throws when
  // one of them cannot be made. Does not start corvid.
  explicit AppHarness(AppOptions options = {});
  ~AppHarness();
  AppHarness(const AppHarness&) = delete;
  AppHarness& operator=(const AppHarness&) = delete;

  // Starts corvid; again once the earlier run has ended.
  void start();
  void sendSignal(int signal) { g_subprocess_send_signal(corvid_, signal); }
  // The running corvid's process id; 0 before start or after it ended.
  pid_t pid() const;
  // Waits for corvid to end: its wait status, nothing on time-out.
  std::optional<int> waitForExit(Millis timeout);
  // Starts corvid a second time (it hands over to the running one) and
  // waits for it: its wait status, nothing on time-out.
  std::optional<int> launchAgain(Millis timeout = 30s);
  // Activates an action of the running application over the bus
  // (org.gtk.Actions.Activate), with an optional string parameter.
  bool activateAction(const std::string& name, const std::optional<std::string>& parameter = std::nullopt);

  // The activity log's lines that contain `part`.
  std::vector<std::string> logLines(std::string_view part = {}) const;
  std::size_t countLog(std::string_view part) const { return logLines(part).size(); }
  // Waits for a log line containing `part` and answers it.
  std::optional<std::string> waitForLog(std::string_view part, Millis timeout = 30s);
  // Iterates the default main context until `done()` holds; false on time-out.
  bool waitUntil(const std::function<bool()>& done, Millis timeout = 10s) { return spinUntil(done, timeout); }

  // Viewable top-level X windows of corvid with this title (_NET_WM_NAME).
  std::size_t windowsShown(const std::string& title) const;
  // Where such a window is; nothing when there is none.
  std::optional<WindowGeometry> windowGeometry(const std::string& title) const;
  // Asks such a window to close as a window manager's close button does
  // (WM_DELETE_WINDOW); false when there is none.
  bool closeWindow(const std::string& title) const;

  // The private session bus corvid uses.
  const std::string& busAddress() const { return bus_.address(); }
  RecordingRelay& relay() { return relay_; }
  PageServer& page() { return page_; }
  std::string output() const { return readFile(root_ / "corvid.out"); }
  // Where the windows' frames are kept.
  std::filesystem::path stateFile() const { return root_ / "config/corvid/state.ini"; }
  // Where notifications wait to be sent again.
  std::filesystem::path outboxFile() const { return root_ / "state/corvid/outbox.json"; }

 private:
  GSubprocess* spawn();

  TempDir root_{"corvid-e2e"};
  PrivateBus bus_;
  PageServer page_;
  RecordingRelay relay_;
  GSubprocess* corvid_ = nullptr;
  std::string executable_;
  std::vector<std::pair<std::string, std::string>> environment_;
  void* display_ = nullptr;  // an X connection held while corvid runs
};

// The key of thread `i` (0 to 9) of the test inbox.
std::string threadKey(int i);
// The collapse id the phone gets for a message id, computed independently
// of the code under test: "m-" and the first 32 hex digits of its SHA-256.
std::string expectedCollapseId(const std::string& messageId);

}  // namespace corvid::testing
