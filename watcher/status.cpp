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

Json statusBody(const std::string& status, int badge, int unread, int threads) {
  return Json{{"status", status}, {"badge", badge}, {"unread", unread}, {"threads", threads}};
}

}  // namespace

Task<void> Watcher::readBadge() {
  std::optional<Json> result = co_await runBadge(*webView_);
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
    co_await push_->push({"badge", "", "", "", "", igBadge_, ""});
  }
}

Task<void> Watcher::deliver(std::vector<NewMessage> events) {
  int pushed = 0;
  for (const NewMessage& m : events) {
    // The badge is read afresh for each message.
    pushed += co_await push_->push({"message", m.title, m.snippet, m.threadKey, m.username, igBadge_,
                                    collapseId(m.messageId)});
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
  const Json body = statusBody(status, igBadge_, unread_, threads_);
  const std::vector<PushClient::Pairing> pairings = push_->pairings();
  for (const auto& p : pairings) {
    // Failures are left to the push client's problem texts.
    co_await push_->request("/v1/status", "POST", p.secret, body);
  }
}

Task<void> Watcher::sendCurrentStatus() {
  std::string state = sessionState_;
  co_await sendStatus(state == "unknown" ? "ok" : state);
}

Task<void> Watcher::sendStoppedStatus() {
  deps_.log.log("quit: status stopped");
  const Json body = statusBody("stopped", igBadge_, unread_, threads_);
  const std::vector<PushClient::Pairing> pairings = push_->pairings();
  for (const auto& p : pairings) co_await push_->request("/v1/status", "POST", p.secret, body);
}

}  // namespace corvid
