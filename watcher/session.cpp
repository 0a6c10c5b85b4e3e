// Session state: the only writer of `sessionState`, the announcements of a
// lost login and of resumed watching, and the user's logout.
#include <cmath>

#include "watcher/watcher.h"

namespace corvid {

namespace {

constexpr const char* kEverWatchedKey = "everWatched";
constexpr const char* kLoggedOutByUserKey = "loggedOutByUser";

}  // namespace

Task<void> Watcher::setSession(std::string state, std::string reason) {
  if (state == sessionState_.get()) co_return;
  // The new state is stored before the first suspension, so a later tick
  // with the same state returns above.
  const std::string old = sessionState_;
  sessionState_ = state;
  deps_.log.log("session: " + old + " → " + state + (reason.empty() ? "" : " (" + reason + ")"));

  auto report = sendStatus(state);
  co_await std::move(report);

  const bool watching = everWatched_ && !loggedOutByUser_;
  const auto hour = static_cast<long long>(
      std::floor(std::chrono::duration<double>(now().time_since_epoch()).count() / 3600.0));

  if (state == "logged_out" && watching) {
    notifyLocally("Instagram 로그인이 풀렸습니다", "눌러서 다시 로그인하세요. 그동안 iPhone으로 알림이 가지 않습니다.", "login");
    // At most one "logged_out" push per clock hour, however often the
    // session is lost.
    if (lastSessionPushHour_ != hour) {
      lastSessionPushHour_ = hour;
      auto sent = push_->push("logged_out", "컴퓨터에서 Instagram 로그인이 풀렸습니다",
                              "컴퓨터의 Corvid 메뉴 › 다시 로그인…에서 로그인해 주세요", "", "", -1, "");
      co_await std::move(sent);
    }
  }

  if (state == "ok") {
    if (old == "logged_out" && watching) {
      notifyLocally("다시 지켜보는 중", "Instagram 받은편지함을 다시 지켜봅니다.", "resumed");
      auto sent = push_->push("resumed", "Corvid 알림 재개", "컴퓨터에서 다시 받은편지함을 지켜봅니다", "", "", -1, "");
      co_await std::move(sent);
    }
    everWatched_ = true;
    deps_.settings.setBool(kEverWatchedKey, true);
    loggedOutByUser_ = false;
    deps_.settings.setBool(kLoggedOutByUserKey, false);
    if (onSessionOK) onSessionOK();
  }
}

void Watcher::notifyLocally(const std::string& title, const std::string& body, const std::string& prefix) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now().time_since_epoch()).count();
  const std::string identifier = prefix + "-" + std::to_string(seconds);
  auto post = [](DesktopNotifier& notifier, std::string id, std::string t, std::string b) -> Task<void> {
    if (co_await notifier.requestAuthorization()) notifier.post(id, t, b);
  };
  spawn(post(deps_.notifier, identifier, title, body));
}

Task<void> Watcher::logout() {
  deps_.log.log("logout: by user");
  loggedOutByUser_ = true;
  deps_.settings.setBool(kLoggedOutByUserKey, true);
  viewerUsername_ = "";
  lastReadAt_ = std::nullopt;
  startedAt_ = now();
  detection_.lastIds.clear();
  detection_.lastTsSeen.clear();
  detection_.baselineDone = false;
  igBadge_ = -1;
  lastBadgePushed_ = -2;
  // The state above stands whatever the removal reports.
  co_await webView_->removeAllWebsiteData();
  reload("logout");
}

}  // namespace corvid
