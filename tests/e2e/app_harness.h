// End-to-end harness: runs the real `corvid` binary in a sandbox of its own
// and watches what it does.
//
//   AppHarness app({.pairingSecrets = {"secret-1"}});
//   app.start();
//   ASSERT_TRUE(app.waitForLog("app: launched "));
//   app.activateAction("show-instagram", "inspect");
//   ASSERT_TRUE(app.waitUntil([&] { return app.windowShown("Instagram 화면"); }));
//   app.relay().setSilent(true);
//   app.sendSignal(SIGTERM);
//   auto status = app.waitForExit(std::chrono::seconds(5));
//
// Each harness makes, under one temporary folder that it removes again:
//   - HOME and the XDG folders (config, data, cache, state, runtime), with an
//     optional settings.ini seeded with pairings that point at the relay;
//   - a private D-Bus session bus (dbus-daemon), so that several harnesses
//     (tests running side by side) each have their own single instance of
//     io.github.corvid.Corvid and no test meets a running desktop session;
//   - the test inbox page (tests/pages/server.mjs), which CORVID_SERVICE_ORIGIN
//     points the Watcher at, so nothing ever reaches the real service;
//   - a loopback relay (RecordingRelay) that records every request and can
//     be told never to answer.
// The corvid process inherits DISPLAY (tests are labelled DISPLAY and run
// under Xvfb). Its standard output and error go to `output()`.
//
// Every process the harness starts (corvid, second launches, dbus-daemon,
// the page server) is stopped by the PID it got from fork and still owns
// (checked with waitpid), in the destructor too, so a failing test leaves
// nothing behind; corvid and the bus also get SIGTERM should the test
// process itself die (PR_SET_PDEATHSIG). The relay lives on the test's default main context: the
// harness's waiting calls iterate that context, and a test that waits on
// its own must do so too (waitUntil does).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "page_server.h"

namespace corvid::testing {

using namespace std::chrono_literals;
using Millis = std::chrono::milliseconds;

// An HTTP server on 127.0.0.1 that stands in for the push relay.
class RecordingRelay {
 public:
  struct Request {
    std::string method;
    std::string path;
    std::string authorization;
    std::string body;
  };

  RecordingRelay();
  ~RecordingRelay();
  RecordingRelay(const RecordingRelay&) = delete;
  RecordingRelay& operator=(const RecordingRelay&) = delete;

  // "http://127.0.0.1:PORT".
  const std::string& origin() const { return origin_; }
  // Silent: every request from now on is recorded and never answered (the
  // connection stays open until the client gives up or the relay goes).
  // Otherwise each request is answered 200 with the body "{}".
  void setSilent(bool silent) { silent_ = silent; }
  const std::vector<Request>& requests() const { return requests_; }
  // Requests to `path` whose body contains `bodyPart`.
  std::size_t count(std::string_view path, std::string_view bodyPart = {}) const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
  std::string origin_;
  bool silent_ = false;
  std::vector<Request> requests_;
};

struct AppOptions {
  // Pairings stored in settings.ini ("pushPairings"), by secret; with any,
  // "pushServerURL" is the relay's origin.
  std::vector<std::string> pairingSecrets = {};
  // "everWatched", when given.
  std::optional<bool> everWatched = std::nullopt;
  // Extra options for the page server (e.g. {"--threads", "20"}).
  std::vector<std::string> pageServerOptions = {};
  // Extra environment for corvid (name, value).
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

  // Starts corvid (once).
  void start();
  pid_t pid() const { return pid_; }
  // True while the corvid process has not exited.
  bool running();
  // Sends `signal` to the running corvid process.
  void sendSignal(int signal);
  // Waits for corvid to exit; its wait status (as from waitpid), nothing on
  // time-out.
  std::optional<int> waitForExit(Millis timeout);
  // Starts corvid a second time with the same environment (it hands over
  // to the running one) and waits for it; its wait status, nothing on
  // time-out (then it is killed).
  std::optional<int> launchAgain(Millis timeout = 30s);

  // Activates an action of the running application over its bus
  // (org.gtk.Actions.Activate), with an optional string parameter. Answers
  // false (and why, in `error`) when the call fails.
  bool activateAction(const std::string& name, const std::optional<std::string>& parameter = std::nullopt,
                      std::string* error = nullptr);

  // The activity log's lines so far.
  std::vector<std::string> logLines() const;
  std::size_t countLog(std::string_view part) const;
  // Waits until the activity log has at least `occurrence` lines containing
  // `part` and answers the last of them; nothing on time-out.
  std::optional<std::string> waitForLog(std::string_view part, Millis timeout = 30s,
                                        std::size_t occurrence = 1);
  // Iterates the default main context until `done()` holds; false on time-out.
  bool waitUntil(const std::function<bool()>& done, Millis timeout = 10s);

  // Top-level X windows of the corvid process, by title (_NET_WM_NAME).
  // Shown means mapped and viewable.
  bool windowShown(const std::string& title) const;
  // Asks the window to close as the window manager's close button does
  // (WM_DELETE_WINDOW). False when no such window of corvid is shown.
  bool closeWindow(const std::string& title) const;

  // The private session bus corvid uses (e.g. for a FakeTrayHost).
  const std::string& busAddress() const { return busAddress_; }
  RecordingRelay& relay() { return relay_; }
  PageServer& page() { return *page_; }
  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path configDir() const { return root_ / "config" / "corvid"; }
  std::filesystem::path logFile() const { return root_ / "state" / "corvid" / "watch.log"; }
  std::filesystem::path stateFile() const { return configDir() / "state.ini"; }
  std::filesystem::path runtimeDir() const { return root_ / "runtime"; }
  // What corvid wrote to standard output and error so far (all launches).
  std::string output() const;

 private:
  pid_t spawnCorvid();
  void stopCorvid();
  void startBus();
  std::vector<std::string> environment() const;

  AppOptions options_;
  std::filesystem::path root_;
  std::string busAddress_;
  pid_t busPid_ = -1;
  std::unique_ptr<PageServer> page_;
  RecordingRelay relay_;
  pid_t pid_ = -1;
  bool exited_ = false;
  std::optional<int> exitStatus_;
};

}  // namespace corvid::testing
