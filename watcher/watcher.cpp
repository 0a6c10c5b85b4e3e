#include "watcher/watcher.h"

#include "base/url.h"

namespace corvid {

namespace {

using namespace std::chrono_literals;

constexpr const char* kIncludeSnippetKey = "includeSnippet";
constexpr const char* kEverWatchedKey = "everWatched";
constexpr const char* kLoggedOutByUserKey = "loggedOutByUser";
constexpr const char* kDesktopMessagesKey = "desktopMessageNotifications";

std::string domainOf(const std::string& origin) {
  auto parts = parseUrl(origin);
  std::string host = parts ? parts->host : std::string();
  if (host.rfind("www.", 0) == 0) host.erase(0, 4);
  return host;
}

}  // namespace

Watcher::Watcher(WatcherDependencies deps)
    : deps_(std::move(deps)),
      inboxURL_(deps_.serviceOrigin + "/direct/inbox/"),
      serviceDomain_(domainOf(deps_.serviceOrigin)),
      tickAt_(*this, deps_.clock.now()),
      launchAtLogin_(*this, deps_.loginItem.status()),
      // A stored value that is not a boolean also counts as on.
      includeSnippet_(*this, deps_.settings.boolValue(kIncludeSnippetKey).value_or(true)),
      desktopMessageNotifications_(*this, deps_.settings.boolValue(kDesktopMessagesKey).value_or(false)),
      everWatched_(deps_.settings.boolValue(kEverWatchedKey).value_or(false)),
      loggedOutByUser_(deps_.settings.boolValue(kLoggedOutByUserKey).value_or(false)),
      push_(std::make_unique<PushClient>(PushClient::Dependencies{
          deps_.settings, deps_.log, deps_.clock, deps_.transport, deps_.computerName, deps_.defaultRelayOrigin,
          std::chrono::seconds(15), nullptr, &deps_.scheduler, deps_.outboxFile,
          // Retried pushes carry the newest badge.
          [this] { return igBadge_.get(); }, nullptr, deps_.serviceOrigin})),
      detection_{{}, {}, false, deps_.clock.now()},
      startedAt_(detection_.baselineAt),
      lastSuccessfulRead_(detection_.baselineAt),
      lastRefetch_(detection_.baselineAt),
      alive_(std::make_shared<Watcher*>(this)) {
  // The web view keeps the user's own session in the engine's persistent
  // data store, separate from any browser.
  WebViewConfiguration configuration;
  configuration.persistentDataStore = true;
  configuration.elementFullscreenEnabled = false;
  webView_ = deps_.engine.createWebView(configuration, 420, 800);
  webView_->setDelegate(this);

  // Someone who paired a phone before "everWatched" existed was watching.
  // Only memory changes here; the flag is stored when the session is next "ok".
  if (!deps_.settings.contains(kEverWatchedKey) && !push_->pairings().empty()) everWatched_ = true;

  // Views that observe only the Watcher also refresh on push client changes.
  pushChanges_ = push_->objectWillChange().connect([this] { announceChange(); });

  webView_->load(inboxURL_);
  deps_.activity.begin("Instagram DM watcher");

  std::weak_ptr<Watcher*> weak = alive_;
  deps_.network.start([weak](bool online) {
    if (auto w = weak.lock()) (*w)->networkPathUpdate(online);
  });
  timer_ = deps_.scheduler.every(2s, [weak] {
    if (auto w = weak.lock()) (*w)->tasks_.spawn((*w)->tick());
  });
}

Watcher::~Watcher() {
  alive_.reset();
  timer_.cancel();
  pushChanges_.disconnect();
  if (webView_) webView_->setDelegate(nullptr);
  // Tasks waiting on the page or a timer resume now and end while the
  // members they use still live.
  tasks_.cancel();
}

void Watcher::networkPathUpdate(bool online) {
  if (offline_ == online) {
    offline_ = !online;
    deps_.log.log(online ? "network: online" : "network: offline");
  }
  // Every update that reports a usable path counts, not only a change: the
  // page is reloaded while reads keep failing for more than a minute, and
  // waiting notifications go out at once (a new network may reach the
  // relay where the old one did not).
  if (online && secondsBetween(lastSuccessfulRead_, now()) > 60.0) reload("network back");
  if (online) push_->retryWaiting();
}

void Watcher::reload(std::string_view reason) {
  reloadScheduled_ = true;
  readMark_.reset();
  std::string r(reason);
  deps_.systemLog.message("reload: " + r);
  deps_.log.log("reload: " + r);
  webView_->load(inboxURL_);
}

void Watcher::endInspecting() {
  bool was = inspecting_;
  inspecting_ = false;
  if (!was) return;
  std::string path = urlPath(webView_->url().value_or(""));
  if (path.rfind("/direct/inbox", 0) != 0) reload("inspect closed");
}

void Watcher::webContentProcessDidTerminate() { reload("web process terminated"); }

void Watcher::setIncludeSnippet(bool on) {
  includeSnippet_ = on;
  deps_.settings.setBool(kIncludeSnippetKey, on);
}

void Watcher::setDesktopMessageNotifications(bool on) {
  desktopMessageNotifications_ = on;
  deps_.settings.setBool(kDesktopMessagesKey, on);
}

Health Watcher::health() const {
  HealthInputs in;
  in.sessionState = sessionState_;
  in.offline = offline_;
  in.lastReadAt = lastReadAt_;
  in.startedAt = startedAt_;
  in.everWatched = everWatched_;
  in.loggedOutByUser = loggedOutByUser_;
  in.hasPairings = !push_->pairings().empty();
  in.hasNtfyTopic = push_->hasNtfyTopic();
  in.connectionProblem = push_->connectionProblem();
  in.deliveryProblem = push_->deliveryProblem();
  in.ntfyProblem = push_->ntfyProblem();
  return deriveHealth(in, now());
}

std::optional<std::string> Watcher::setLaunchAtLogin(bool on) {
  const std::string wanted = on ? "on" : "off";
  auto error = on ? deps_.loginItem.registerItem() : deps_.loginItem.unregisterItem();
  if (!error) {
    deps_.log.log("launch at login: " + wanted + " → status " +
                  std::to_string(static_cast<int>(deps_.loginItem.status())));
    launchAtLogin_ = deps_.loginItem.status();
    return std::nullopt;
  }
  deps_.log.log("launch at login: " + wanted + " failed " + std::to_string(error->code));
  launchAtLogin_ = deps_.loginItem.status();
  return "설정하지 못했습니다: " + error->description;
}

void Watcher::refreshLaunchAtLogin() { launchAtLogin_ = deps_.loginItem.status(); }

}  // namespace corvid
