#include "push/push_client.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "base/text.h"

namespace corvid {

namespace {

constexpr const char* kServerURLKey = "pushServerURL";
constexpr const char* kPairingsKey = "pushPairings";
constexpr const char* kNtfyTopicKey = "ntfyTopicURL";
constexpr const char* kNtfyTokenKey = "ntfyAccessToken";

std::string storedServerURL(const PushClient::Dependencies& d) {
  if (auto s = d.settings.stringValue(kServerURLKey)) return *s;
  return d.defaultServerOrigin;
}

std::vector<PushClient::Pairing> storedPairings(const PushClient::Dependencies& d) {
  if (auto s = d.settings.stringValue(kPairingsKey)) {
    if (auto p = PushClient::decodePairings(*s)) return std::move(*p);
  }
  return {};
}

}  // namespace

PushClient::PushClient(Dependencies deps)
    : deps_(std::move(deps)),
      serverURL_(*this, storedServerURL(deps_)),
      pairings_(*this, storedPairings(deps_)),
      ntfyTopicURL_(*this, deps_.settings.stringValue(kNtfyTopicKey).value_or("")),
      ntfyAccessToken_(*this, deps_.settings.stringValue(kNtfyTokenKey).value_or("")) {
  if (!deps_.scheduler) return;
  outbox_ = std::make_unique<Outbox>(deps_.outboxFile ? *deps_.outboxFile : memoryOutbox_, deps_.log,
                                     deps_.clock.now());
  outbox_->onChange = [this] {
    const int waiting = static_cast<int>(outbox_->size());
    if (waitingCount_.get() != waiting) waitingCount_ = waiting;
  };
  // Nothing waits for a phone that is no longer paired.
  dropUnknownTargets();
  waitingCount_ = static_cast<int>(outbox_->size());
  // What was waiting when Corvid last ended goes out again now.
  if (outbox_->size() > 0) {
    deps_.scheduler->post([this, alive = std::weak_ptr<bool>(alive_)] {
      if (alive.lock()) retryWaiting();
    });
  }
}

PushClient::~PushClient() {
  // A drain that waits for an answer resumes now, sees the client gone and
  // ends; none is left suspended on `this`.
  *alive_ = false;
  tasks_.cancel();
}

std::optional<ntfy::Topic> PushClient::ntfyTopic() const {
  if (ntfyTopicURL_->empty()) return std::nullopt;
  return ntfy::parseTopicURL(ntfyTopicURL_.get());
}

bool PushClient::setNtfyTopicURL(std::string_view url) {
  std::string text = trimmed(url);
  if (!text.empty() && !ntfy::parseTopicURL(text)) return false;
  if (text == ntfyTopicURL_.get()) return true;
  if (text.empty()) {
    deps_.settings.remove(kNtfyTopicKey);
  } else {
    deps_.settings.setString(kNtfyTopicKey, text);
  }
  ntfyTopicURL_ = std::move(text);
  ntfyProblem_ = std::nullopt;
  const std::string reference(ntfy::kOutboxTarget);
  if (outbox_ && ntfyTopicURL_->empty()) {
    outbox_->dropTarget(reference, "ntfy off");  // nobody subscribes any more
  } else {
    retryNow(reference);  // a corrected address may reach the server
  }
  return true;
}

void PushClient::setNtfyAccessToken(std::string_view token) {
  std::string text = trimmed(token);
  if (text == ntfyAccessToken_.get()) return;
  if (text.empty()) {
    deps_.settings.remove(kNtfyTokenKey);
  } else {
    deps_.settings.setString(kNtfyTokenKey, text);
  }
  ntfyAccessToken_ = std::move(text);
  ntfyProblem_ = std::nullopt;
  retryNow(std::string(ntfy::kOutboxTarget));  // a corrected token may be let in
}

void PushClient::setServerURL(std::string url) {
  deps_.settings.setString(kServerURLKey, url);
  bool changed = url != serverURL_.get();
  serverURL_ = std::move(url);
  if (changed) {
    connectionProblem_ = std::nullopt;
    deliveryProblem_ = std::nullopt;
    // A corrected address may reach a server that the old one did not.
    retryWaiting();
  }
}

void PushClient::setPairings(std::vector<Pairing> pairings) {
  pairings_ = std::move(pairings);
  if (auto text = encodePairings(pairings_.get())) {
    deps_.settings.setString(kPairingsKey, *text);
  } else {
    deps_.settings.remove(kPairingsKey);
  }
  dropUnknownTargets();
}

std::optional<std::string> PushClient::encodePairings(const std::vector<Pairing>& pairings) {
  nlohmann::json array = nlohmann::json::array();
  for (const auto& p : pairings) {
    double unix = std::chrono::duration<double>(p.pairedAt.time_since_epoch()).count();
    array.push_back({{"secret", p.secret},
                     {"deviceModel", p.deviceModel},
                     {"environment", p.environment},
                     {"pairedAt", unix - kReferenceDateUnixSeconds}});
  }
  try {
    return array.dump();
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;  // text that is not valid UTF-8
  }
}

std::optional<std::vector<PushClient::Pairing>> PushClient::decodePairings(const std::string& text) {
  nlohmann::json array = nlohmann::json::parse(text, nullptr, false);
  if (!array.is_array()) return std::nullopt;
  std::vector<Pairing> out;
  for (const auto& e : array) {
    if (!e.is_object()) return std::nullopt;
    auto str = [&](const char* key) -> const std::string* {
      auto it = e.find(key);
      return it != e.end() && it->is_string() ? it->get_ptr<const std::string*>() : nullptr;
    };
    const std::string* secret = str("secret");
    const std::string* model = str("deviceModel");
    const std::string* environment = str("environment");
    auto at = e.find("pairedAt");
    if (!secret || !model || !environment || at == e.end() || !at->is_number()) return std::nullopt;
    double seconds = at->get<double>();
    if (!std::isfinite(seconds)) return std::nullopt;
    // A date beyond what the clock type holds (about 292 years either side
    // of 1970) would overflow the conversion; such a date is kept at the
    // nearest representable one rather than dropping the pairing.
    constexpr double kLimit = 9.0e9;
    auto sinceEpoch =
        std::chrono::duration<double>(std::clamp(seconds + kReferenceDateUnixSeconds, -kLimit, kLimit));
    out.push_back({*secret, *model, *environment, Time{} + std::chrono::duration_cast<Duration>(sinceEpoch)});
  }
  return out;
}

}  // namespace corvid
