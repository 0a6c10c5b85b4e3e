// Message delivery, the page badge and the status reports to the relay.
#include <cmath>
#include <limits>

#include "scripts/page_scripts.h"
#include "watcher/watcher.h"

namespace corvid {

namespace {

// A JSON number as an integer (truncated); `fallback` when it is not a
// finite number in range.
int integerOf(const Json& obj, const char* key, int fallback) {
  auto it = obj.find(key);
  if (it == obj.end() || !it->is_number()) return fallback;
  double v = it->get<double>();
  if (!std::isfinite(v) || v > std::numeric_limits<int>::max() || v < std::numeric_limits<int>::min()) return fallback;
  return static_cast<int>(v);
}

JsonObject statusBody(const std::string& status, int badge, int unread, int threads) {
  return JsonObject{{"status", status}, {"badge", badge}, {"unread", unread}, {"threads", threads}};
}

}  // namespace

Task<void> Watcher::readBadge() {
  std::optional<Json> result = co_await scripts::runBadge(*webView_);
  if (!result || !result->is_object()) co_return;
  const int value = integerOf(*result, "badge", -1);
  const int old = igBadge_;
  if (value == old) co_return;
  bool hasLink = false;
  if (auto l = result->find("hasLink"); l != result->end() && l->is_boolean()) hasLink = l->get<bool>();
  deps_.log.log("badge: " + std::to_string(old) + " → " + std::to_string(value) + " (title " +
                std::to_string(integerOf(*result, "titleCount", -1)) + ", link " + (hasLink ? "true" : "false") +
                ")");
  // The first badge read is the baseline and never causes a badge-only push.
  if (old == -1 && lastBadgePushed_ == -2) lastBadgePushed_ = value;
  igBadge_ = value;
}

Task<void> Watcher::badgeOnlyNotification() {
  if (igBadge_ >= 0 && igBadge_ != lastBadgePushed_ && lastBadgePushed_ != -2) {
    lastBadgePushed_ = igBadge_;
    auto sent = push_->push("badge", "", "", "", "", igBadge_, "");
    co_await std::move(sent);
  }
}

Task<void> Watcher::deliver(std::vector<NewMessage> events) {
  int pushed = 0;
  for (const NewMessage& m : events) {
    // Posted without waiting, before the push: the desktop shows the
    // message even when no phone is reached, and the pushes never wait
    // for the desktop.
    if (desktopMessageNotifications_) notifyLocally(m.title, m.snippet, "message");
    // The badge is read afresh for each message.
    auto sent = push_->push("message", m.title, m.snippet, m.threadKey, m.username, igBadge_, collapseId(m.messageId));
    pushed += co_await std::move(sent);
  }
  if (pushed >= 1) {
    lastEventAt_ = now();
    lastBadgePushed_ = igBadge_;
  }
  const std::string counts = std::to_string(events.size()) + " pushed " + std::to_string(pushed);
  deps_.systemLog.message("events " + counts);
  deps_.log.log("events: " + counts);
}

Task<void> Watcher::sendStatus(std::string status) {
  lastHeartbeat_ = now();
  const JsonObject body = statusBody(status, igBadge_, unread_, threads_);
  const std::vector<PushClient::Pairing> pairings = push_->pairings();
  for (const auto& p : pairings) {
    // Failures are left to the push client's problem texts.
    auto sent = push_->request("/v1/status", "POST", p.secret, body);
    co_await std::move(sent);
  }
}

Task<void> Watcher::sendCurrentStatus() {
  std::string state = sessionState_;
  auto report = sendStatus(state == "unknown" ? "ok" : state);
  co_await std::move(report);
}

Task<void> Watcher::sendStoppedStatus() {
  deps_.log.log("quit: status stopped");
  const JsonObject body = statusBody("stopped", igBadge_, unread_, threads_);
  const std::vector<PushClient::Pairing> pairings = push_->pairings();
  for (const auto& p : pairings) {
    auto sent = push_->request("/v1/status", "POST", p.secret, body);
    co_await std::move(sent);
  }
}

}  // namespace corvid
