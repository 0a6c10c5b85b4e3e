// The Watcher: Corvid's core object.
//
// It owns the watched web view (the user's own Instagram web session, kept
// in the engine's persistent data store), the push client, and the read
// loop: a repeating 2-second timer whose every firing starts one `tick()`,
// and, once a read has found the page's record store, a wait inside the page
// that starts a read as soon as the store takes a write.
// It tracks the network path, keeps the process from idling, publishes the
// state the views show and derives the overall health from it.
//
// There is one Watcher per process, made by the app at launch and kept until
// the process ends. Main thread only. Ticks are not serialized: a tick that
// suspends (page script, cookie list, relay request, badge wait) may overlap
// the next one, so every rule that prevents double notifications updates its
// state before the tick's first suspension.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "base/durable_file.h"
#include "base/http.h"
#include "base/log.h"
#include "base/observable.h"
#include "base/scheduler.h"
#include "base/settings.h"
#include "base/task.h"
#include "base/time.h"
#include "push/push_client.h"
#include "watcher/change_detection.h"
#include "watcher/health.h"
#include "watcher/platform.h"
#include "watcher/web_engine.h"

namespace corvid {

struct WatcherDependencies {
  Scheduler& scheduler;
  Clock& clock;
  Settings& settings;
  ActivityLog& log;
  SystemLog& systemLog;
  WebEngine& engine;
  NetworkMonitor& network;
  ProcessActivity& activity;
  LoginItem& loginItem;
  HttpTransport& transport;
  DesktopNotifier& notifier;
  // The computer's user-visible name for pairing labels and texts.
  std::function<std::string()> computerName;
  // The relay server used while the user has set none.
  std::string defaultRelayOrigin;
  // The watched service's web origin, "https://www.instagram.com" unless
  // the CORVID_SERVICE_ORIGIN environment variable replaces it.
  std::string serviceOrigin;
  // Where notifications that could not be delivered yet are kept; none:
  // in memory only.
  DurableFile* outboxFile = nullptr;
};

class Watcher : public ObservableObject, private WebViewDelegate {
 public:
  explicit Watcher(WatcherDependencies deps);
  ~Watcher() override;

  // --- published state -------------------------------------------------
  const std::string& sessionState() const { return sessionState_; }
  const std::optional<Time>& lastReadAt() const { return lastReadAt_; }
  const std::optional<Time>& lastEventAt() const { return lastEventAt_; }
  int unread() const { return unread_; }
  int threads() const { return threads_; }
  int igBadge() const { return igBadge_; }
  const std::string& viewerUsername() const { return viewerUsername_; }
  bool offline() const { return offline_; }
  Time tickAt() const { return tickAt_; }
  LoginItemStatus launchAtLogin() const { return launchAtLogin_; }
  bool includeSnippet() const { return includeSnippet_; }
  // Each pushed message is also shown as a desktop notification.
  bool desktopMessageNotifications() const { return desktopMessageNotifications_; }

  // --- plain state -----------------------------------------------------
  // True while the Instagram window is open in inspect mode; suppresses
  // automatic page reloads. Set by the window router.
  bool inspecting() const { return inspecting_; }
  void setInspecting(bool on) { inspecting_ = on; }
  // Called each time the session becomes "ok"; installed by the app.
  std::function<void()> onSessionOK;
  bool everWatched() const { return everWatched_; }
  bool loggedOutByUser() const { return loggedOutByUser_; }
  Time startedAt() const { return startedAt_; }

  PushClient& push() { return *push_; }
  const PushClient& push() const { return *push_; }
  WebView& webView() { return *webView_; }

  // The inbox page: the service origin followed by "/direct/inbox/".
  const std::string& inboxURL() const { return inboxURL_; }
  // The service's own domain for the session-cookie check: the origin's
  // host without a leading "www.".
  const std::string& serviceDomain() const { return serviceDomain_; }

  // --- operations ------------------------------------------------------
  // Reloads the inbox page (a new navigation replaces any page shown).
  void reload(std::string_view reason);
  // Ends inspect mode; brings the page back to the inbox when it wandered.
  void endInspecting();
  // Stores the setting at once under "includeSnippet".
  void setIncludeSnippet(bool on);
  // Stores the setting at once under "desktopMessageNotifications".
  void setDesktopMessageNotifications(bool on);

  // Turns launch at login on or off; answers the error text on failure.
  // Re-reads the login-item status either way.
  std::optional<std::string> setLaunchAtLogin(bool on);
  // Re-reads the login-item status (the user may have changed it elsewhere).
  void refreshLaunchAtLogin();
  // Logs out of the watched service: wipes all website data of the view.
  Task<void> logout();
  // Reports the current session state ("unknown" as "ok") to every phone.
  Task<void> sendCurrentStatus();
  // Reports "stopped" to every phone; the quit sequence awaits it.
  Task<void> sendStoppedStatus();

  // The overall health, derived afresh on every call.
  Health health() const;

  // One run of the read loop, started by the 2-second timer.
  Task<void> tick();

  // Pieces of the read loop, public for the views and for tests.
  static bool isLoginPath(std::string_view path);
  // A non-empty "sessionid" cookie of the service's own domain exists.
  Task<bool> hasSessionCookie();
  // The only writer of `sessionState`: logs, reports and announces changes.
  Task<void> setSession(std::string state, std::string reason);
  Task<void> readBadge();
  Task<void> sendStatus(std::string status);
  Task<void> deliver(std::vector<NewMessage> events);
  Task<void> refetchStore();
  // Posts a desktop notification without waiting for it.
  void notifyLocally(const std::string& title, const std::string& body, const std::string& prefix);

 private:
  // `hinted`: started by a store write rather than the timer.
  Task<void> readInbox(bool hinted = false);
  Task<void> failedRead(std::optional<std::string> source);
  // Follows the page's record store from the read that found it: each
  // write starts a read at once (at most one every 250 ms), between the
  // timer's ticks.
  Task<void> followStore(std::optional<double> since);
  Task<void> hintedRead();
  Task<void> badgeOnlyNotification();
  void webContentProcessDidTerminate() override;
  void networkPathUpdate(bool online);
  Time now() const { return deps_.clock.now(); }

  WatcherDependencies deps_;
  std::string inboxURL_;
  std::string serviceDomain_;

  // Published fields, in declaration order.
  Published<std::string> sessionState_{*this, "unknown"};
  Published<std::optional<Time>> lastReadAt_{*this, std::nullopt};
  Published<std::optional<Time>> lastEventAt_{*this, std::nullopt};
  Published<int> unread_{*this, 0};
  Published<int> threads_{*this, 0};
  Published<int> igBadge_{*this, -1};
  Published<std::string> viewerUsername_{*this, ""};
  Published<bool> offline_{*this, false};
  Published<Time> tickAt_;
  Published<LoginItemStatus> launchAtLogin_;
  Published<bool> includeSnippet_;
  Published<bool> desktopMessageNotifications_;

  // Plain fields, in declaration order.
  bool inspecting_ = false;
  bool everWatched_;
  bool loggedOutByUser_;
  std::unique_ptr<PushClient> push_;
  std::unique_ptr<WebView> webView_;
  // lastIds, lastTsSeen, baselineDone and baselineAt.
  DetectionState detection_;
  Time startedAt_;
  Time lastSuccessfulRead_;
  Time lastRefetch_;
  Time lastHeartbeat_ = distantPast();
  int lastBadgePushed_ = -2;
  long long lastSessionPushHour_ = -1;
  Time lastTickLog_ = distantPast();
  Time lastInboxNavigation_ = distantPast();
  Timer timer_;
  bool reloadScheduled_ = false;

  // The last full read of the inbox, as the page named it: with its mark
  // and the store's epoch, a read within 60 s of it on the same address may
  // get a short "unchanged" answer. Cleared by every reload.
  struct ReadMark {
    std::string mark;
    double epoch = 0;
    std::string url;  // the page's address at the read
  };
  std::optional<ReadMark> readMark_;
  Time lastFullRead_ = distantPast();
  // Ids of the threads that were unread on the last accepted read.
  std::unordered_set<std::string> unreadThreads_;
  // The store wait: the mark of the store it follows or followed, whether
  // it runs, and the start of the last read it caused.
  std::string followedMark_;
  bool following_ = false;
  bool hintedSnapshot_ = false;  // a hinted read's snapshot call is out
  Time lastHintedRead_ = distantPast();
  sigc::connection pushChanges_;
  // Handlers given to platform services hold the Watcher weakly through
  // this token; they do nothing once the Watcher is gone.
  std::shared_ptr<Watcher*> alive_;
  // Ticks, the store wait and the reads it starts; ended by the destructor.
  OwnedTasks tasks_;
};

}  // namespace corvid
