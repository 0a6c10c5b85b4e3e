// The push client's outbox: notifications that a passing failure kept from
// a phone wait here and go out again, oldest first, one request at a time
// per target.
//
// A target retries after a back-off (retryDelay, or longer when the server
// asked for it), and at once on anything that shows the way is open again:
// a request with the target's secret that succeeded, a new notification for
// it, the network coming back, a new server address, the launch. Such a
// trigger during a request in flight makes the next attempt follow right
// after it.
#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "push/push_client.h"

namespace corvid {

namespace {

constexpr const char* kPairingPrefix = "pairing-";

double randomUnit() {
  static std::mt19937 engine{std::random_device{}()};
  return std::uniform_real_distribution<double>(0.0, 1.0)(engine);
}

}  // namespace

Duration PushClient::retryDelay(int failures, double random) {
  using namespace std::chrono_literals;
  const int doublings = std::clamp(failures, 1, 7) - 1;
  const Duration base = std::min<Duration>(2s * (1 << doublings), 60s);
  const double factor = 0.8 + 0.4 * std::clamp(random, 0.0, 1.0);
  return std::min<Duration>(std::chrono::duration_cast<Duration>(base * factor), 60s);
}

std::string PushClient::pairingReference(const std::string& secret) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(secret.data(), secret.size(), digest, &length, EVP_sha256(), nullptr);
  std::string out = kPairingPrefix;
  char hex[3];
  for (unsigned int i = 0; i < 8 && i < length; ++i) {
    std::snprintf(hex, sizeof hex, "%02x", digest[i]);
    out += hex;
  }
  return out;
}

bool PushClient::keeps(const std::string& kind) const {
  return outbox_ && (kind == "message" || kind == "logged_out" || kind == "resumed");
}

std::optional<std::string> PushClient::secretFor(std::string_view reference) const {
  for (const auto& p : pairings_.get()) {
    if (pairingReference(p.secret) == reference) return p.secret;
  }
  return std::nullopt;
}

void PushClient::dropUnknownTargets() {
  if (!outbox_) return;
  std::vector<std::string> known;
  for (const auto& p : pairings_.get()) known.push_back(pairingReference(p.secret));
  // Targets of other kinds are left to whoever queued them.
  outbox_->dropTargetsExcept(
      [&](std::string_view target) {
        return target.rfind(kPairingPrefix, 0) != 0 || std::find(known.begin(), known.end(), target) != known.end();
      },
      "unpaired");
  for (auto& [reference, state] : retries_) {
    if (outbox_->size(reference) == 0) {
      state.timer.cancel();
      state.failures = 0;
    }
  }
}

void PushClient::enqueue(OutboxEntry entry) {
  const std::string reference = entry.target;
  const std::string kind = entry.kind;
  std::size_t waiting = outbox_->add(std::move(entry));
  deps_.log.log("push: queued " + kind + " (" + std::to_string(waiting) + " waiting)");
  retryNow(reference);
}

void PushClient::retryWaiting() {
  if (!outbox_) return;
  for (const auto& reference : outbox_->targets()) retryNow(reference);
}

void PushClient::retryNow(const std::string& reference) {
  if (!outbox_ || outbox_->size(reference) == 0) return;
  RetryState& state = retries_[reference];
  // The server asked for a pause (429 with Retry-After): its timer stands.
  if (deps_.clock.now() < state.notBefore) return;
  if (state.inFlight) {
    state.again = true;
    return;
  }
  state.timer.cancel();
  tasks_.spawn(drain(reference));
}

Task<void> PushClient::drain(std::string reference) {
  std::shared_ptr<bool> alive = alive_;
  RetryState& state = retries_[reference];
  state.inFlight = true;
  std::optional<Duration> wait;
  for (;;) {
    outbox_->dropExpired(deps_.clock.now());
    const OutboxEntry* front = outbox_->front(reference);
    if (!front) break;
    // ntfy waits under a name of its own; a pairing under its reference.
    const bool toNtfy = reference == ntfy::kOutboxTarget;
    std::optional<std::string> secret;
    if (toNtfy && !hasNtfyTopic()) {
      outbox_->dropTarget(reference, "ntfy off");
      break;
    }
    if (!toNtfy) {
      secret = secretFor(reference);
      if (!secret) {
        dropUnknownTargets();
        break;
      }
    }
    const OutboxEntry entry = *front;
    const int newest = deps_.currentBadge ? deps_.currentBadge() : -1;
    const int badge = newest >= 0 ? newest : entry.badge;
    JsonObject payload{{"kind", entry.kind},
                       {"title", entry.title},
                       {"body", entry.body},
                       {"threadKey", entry.threadKey},
                       {"username", entry.username}};
    if (badge >= 0) payload["badge"] = badge;
    if (!entry.collapseId.empty()) payload["collapseId"] = entry.collapseId;

    state.again = false;
    Task<RelayResult> attempt =
        toNtfy ? publishToNtfy(ntfy::publishBody(*ntfyTopic(), entry.kind, entry.title, entry.body,
                                                 ntfy::conversationURL(deps_.serviceOrigin, entry.threadKey)),
                               true)
               : send(std::string(relay::kPushPath), "POST", *secret, std::move(payload), true);
    RelayResult result = co_await std::move(attempt);
    if (!*alive) co_return;

    const std::string line = "push: retry " + entry.kind + " sent ";
    if (result) {
      outbox_->remove(entry.id);
      state.failures = 0;
      sentCount_ = sentCount_.get() + 1;
      if (entry.kind == "message") lastPushAt_ = deps_.clock.now();
      deps_.log.log(line + "1/1");
      if (toNtfy && outbox_->size(reference) == 0 && ntfyProblem_.get()) ntfyProblem_ = std::nullopt;
      const bool relayWaiting = outbox_->size() > outbox_->size(ntfy::kOutboxTarget);
      if (!toNtfy && !relayWaiting && deliveryProblem_.get()) deliveryProblem_ = std::nullopt;
      continue;
    }
    deps_.log.log(line + "0/1");
    const RelayError& error = result.error();
    // ntfy has no pairing to lose: what is not worth trying again is dropped.
    const relay::PushFailure failure =
        !toNtfy                      ? relay::classifyPushFailure(error)
        : ntfy::isTransient(error)   ? relay::PushFailure::transient
                                     : relay::PushFailure::refused;
    switch (failure) {
      case relay::PushFailure::gone:
        // Takes the pairing's waiting notifications with it.
        removePairings(*secret);
        break;
      case relay::PushFailure::refused:
        outbox_->drop(entry.id, "HTTP " + std::to_string(error.code));
        continue;
      case relay::PushFailure::transient:
        ++state.failures;
        if (error.retryAfter) {
          state.notBefore = deps_.clock.now() + *error.retryAfter;
        } else if (state.again) {
          continue;
        }
        wait = std::max(retryDelay(state.failures, deps_.random ? deps_.random() : randomUnit()),
                        error.retryAfter.value_or(Duration::zero()));
        break;
    }
    break;
  }
  state.inFlight = false;
  if (wait && outbox_->size(reference) > 0) {
    state.timer = deps_.scheduler->after(*wait, [this, reference] { retryNow(reference); });
  } else if (state.again && outbox_->size(reference) > 0) {
    retryNow(reference);
  }
}

}  // namespace corvid
