// The push client's relay operations: the request itself, pairing, fan-out,
// unpairing and the test notification.
#include <string>
#include <utility>
#include <variant>

#include "base/korean_time.h"
#include "push/push_client.h"

namespace corvid {

namespace {

constexpr const char* kPost = "POST";

// Assigns only real changes, so that a healthy server answering every few
// seconds does not wake the views each time.
template <class T>
void update(Published<T>& property, T value) {
  if (property.get() != value) property = std::move(value);
}

// A JSON POST to `url` with `bearer` as token when given; the serialiser's
// error when the body cannot be written (text that is not UTF-8).
std::variant<HttpRequest, RelayError> jsonPost(std::string url, JsonObject body,
                                                 const std::optional<std::string>& bearer, Duration timeout) {
  HttpRequest http;
  http.method = kPost;
  http.url = std::move(url);
  http.timeout = timeout;
  try {
    http.body = nlohmann::json(std::move(body)).dump();
  } catch (const nlohmann::json::exception& e) {
    return RelayError{"json", e.id, e.what()};
  }
  http.headers.emplace_back("Content-Type", "application/json");
  if (bearer) http.headers.emplace_back("Authorization", "Bearer " + *bearer);
  return http;
}

}  // namespace

std::string PushClient::computerLabel() const {
  std::string name = deps_.computerName ? deps_.computerName() : std::string();
  return name.empty() ? "PC" : name;
}

void PushClient::removePairings(const std::string& secret) {
  std::vector<Pairing> kept;
  for (const auto& p : pairings_.get()) {
    if (p.secret != secret) kept.push_back(p);
  }
  if (kept.size() != pairings_->size()) setPairings(std::move(kept));
}

Task<RelayResult> PushClient::request(std::string path, std::string method, std::optional<std::string> secret,
                                      JsonObject body) {
  return send(std::move(path), std::move(method), std::move(secret), std::move(body), false);
}

// `retry`: a notification from the outbox, which clears the delivery
// problem itself once nothing is left waiting.
Task<RelayResult> PushClient::send(std::string path, std::string method, std::optional<std::string> secret,
                                   JsonObject body, bool retry) {
  std::shared_ptr<bool> alive = alive_;
  auto url = relay::endpointURL(serverURL_.get(), path);
  if (!url) {
    co_return RelayError{"push", RelayError::kUnusableServerURL, std::string(relay::kBadServerURLText)};
  }
  auto prepared = jsonPost(std::move(*url), std::move(body), secret, deps_.requestTimeout);
  // Text that is not UTF-8: nothing is sent, no problem text changes.
  if (auto* error = std::get_if<RelayError>(&prepared)) co_return std::move(*error);
  HttpRequest http = std::get<HttpRequest>(std::move(prepared));
  http.method = std::move(method);

  HttpResult result = co_await deps_.transport.send(std::move(http));
  if (!*alive) co_return RelayError{"push", RelayError::kNoResponse, "gone"};

  if (!result.response) {
    std::string text = relay::unreachableText(result.failure);
    if (result.failure.kind != HttpFailureKind::cancelled) update(connectionProblem_, std::optional(text));
    co_return RelayError{"push", RelayError::kNoResponse, std::move(text)};
  }
  const int status = result.response->status;
  JsonObject answer = relay::responseObject(result.response->body);
  update(connectionProblem_, relay::serverFaultText(status));
  if (path == relay::kPushPath) {
    if (status == 200) {
      if (!retry) update(deliveryProblem_, std::optional<std::string>());
    } else if (status == 502) {
      update(deliveryProblem_, std::optional(relay::appleRefusalText(answer)));
    }
  }
  if (status != 200) {
    RelayError error = relay::statusError(status, answer);
    if (status == 429) {
      for (const auto& [name, value] : result.response->headers) {
        if (name == "retry-after") error.retryAfter = relay::retryAfterDelay(value, deps_.clock.now());
      }
    }
    co_return error;
  }
  // The way to this pairing is open: what waits for it goes out now.
  if (secret && !retry && outbox_) {
    std::string reference = pairingReference(*secret);
    if (outbox_->size(reference) > 0) {
      deps_.scheduler->post([this, weak = std::weak_ptr<bool>(alive_), reference] {
        if (weak.lock()) retryNow(reference);
      });
    }
  }
  co_return std::move(answer);
}

Task<RelayResult> PushClient::publishToNtfy(JsonObject body, bool retry) {
  std::shared_ptr<bool> alive = alive_;
  auto topic = ntfyTopic();
  if (!topic) co_return RelayError{"push", RelayError::kUnusableServerURL, std::string(ntfy::kInvalidURLText)};
  std::optional<std::string> token;
  // A token that cannot travel in a header line is left out; the server
  // then answers as it does without one.
  if (relay::usableSecret(ntfyAccessToken_.get())) token = ntfyAccessToken_.get();
  auto prepared = jsonPost(topic->endpoint, std::move(body), token, deps_.requestTimeout);
  if (auto* error = std::get_if<RelayError>(&prepared)) co_return std::move(*error);

  HttpResult result = co_await deps_.transport.send(std::get<HttpRequest>(std::move(prepared)));
  if (!*alive) co_return RelayError{"push", RelayError::kNoResponse, "gone"};

  if (!result.response) {
    RelayError error{"push", RelayError::kNoResponse, relay::unreachableText(result.failure)};
    if (result.failure.kind != HttpFailureKind::cancelled) {
      update(ntfyProblem_, std::optional(ntfy::failureText(error)));
    }
    co_return error;
  }
  const int status = result.response->status;
  JsonObject answer = relay::responseObject(result.response->body);
  if (status != 200) {
    RelayError error = relay::statusError(status, answer);
    if (status == 429) {
      for (const auto& [name, value] : result.response->headers) {
        if (name == "retry-after") error.retryAfter = relay::retryAfterDelay(value, deps_.clock.now());
      }
    }
    update(ntfyProblem_, std::optional(ntfy::failureText(error)));
    co_return error;
  }
  if (!retry) {
    update(ntfyProblem_, std::optional<std::string>());
    // The way to the topic is open: what waits for it goes out now.
    const std::string reference(ntfy::kOutboxTarget);
    if (outbox_ && outbox_->size(reference) > 0) {
      deps_.scheduler->post([this, weak = std::weak_ptr<bool>(alive_), reference] {
        if (weak.lock()) retryNow(reference);
      });
    }
  }
  co_return std::move(answer);
}

Task<bool> PushClient::pair(std::string typedCode) {
  int digits = 0;
  std::string code = relay::codeDigits(typedCode, &digits);
  if (digits != 6 || isPairing_) co_return false;

  isPairing_ = true;
  // Ends the pairing state however this task ends.
  struct Done {
    Published<bool>& flag;
    ~Done() { flag = false; }
  } done{isPairing_};
  pairNote_ = std::nullopt;

  const std::string name = computerLabel();
  // (Each task is made before it is awaited: GCC 12 mishandles string
  // literals inside a co_await expression.)
  Task<RelayResult> redeem = request(std::string(relay::kPairPath), kPost, std::nullopt,
                                     JsonObject{{"code", code}, {"label", name}});
  RelayResult answer = co_await std::move(redeem);
  if (!answer) {
    pairNote_ = Note{relay::pairFailureText(answer.error()), true};
    deps_.log.log("push: pair failed " + std::to_string(answer.error().code));
    co_return false;
  }
  auto secret = relay::textField(answer.body(), "secret");
  // A secret that cannot travel in a header line (empty, or with control
  // characters such as line breaks) is as unusable as none.
  if (!secret || !relay::usableSecret(*secret)) {
    pairNote_ = Note{"연결하지 못했습니다: 서버 응답이 올바르지 않습니다.", true};
    co_return false;
  }
  Pairing pairing{std::move(*secret), relay::textField(answer.body(), "deviceModel").value_or("iPhone"),
                  relay::textField(answer.body(), "environment").value_or("development"), deps_.clock.now()};
  auto list = pairings_.get();
  list.push_back(pairing);
  setPairings(std::move(list));
  deps_.log.log("push: paired, pairings " + std::to_string(pairings_->size()));

  Task<int> confirm = push("paired", "Corvid 연결 완료",
                           name + "에서 알림을 보낼게요. 이제 폰은 내려놔도 돼요.", "", "", -1, "", pairing);
  int reached = co_await std::move(confirm);
  if (reached > 0) {
    pairNote_ = Note{"연결되었습니다. iPhone에 확인 알림을 보냈습니다.", false};
  } else {
    pairNote_ = Note{
        "연결은 되었지만 확인 알림을 보내지 못했습니다: " + lastFailure_.value_or("알 수 없는 오류"), true};
  }
  co_return true;
}

Task<int> PushClient::push(std::string kind, std::string title, std::string body, std::string threadKey,
                           std::string username, int badge, std::string collapseId,
                           std::optional<Pairing> target) {
  std::vector<Pairing> targets = target ? std::vector<Pairing>{std::move(*target)} : pairings_.get();
  const bool toNtfy = !target && ntfy::delivers(kind) && hasNtfyTopic();
  Task<int> sent = fanOut(std::move(kind), std::move(title), std::move(body), std::move(threadKey),
                          std::move(username), badge, std::move(collapseId), std::move(targets), toNtfy);
  co_return co_await std::move(sent);
}

Task<int> PushClient::fanOut(std::string kind, std::string title, std::string body, std::string threadKey,
                             std::string username, int badge, std::string collapseId, std::vector<Pairing> targets,
                             bool toNtfy) {
  if (targets.empty() && !toNtfy) co_return 0;

  // Made now, before the first request: later changes of the settings do
  // not change what this fan-out sends.
  std::optional<JsonObject> ntfyBody;
  if (toNtfy) {
    ntfyBody = ntfy::publishBody(*ntfyTopic(), kind, title, body,
                                 ntfy::conversationURL(deps_.serviceOrigin, threadKey));
  }
  JsonObject payload{{"kind", kind},
                     {"title", std::move(title)},
                     {"body", std::move(body)},
                     {"threadKey", std::move(threadKey)},
                     {"username", std::move(username)}};
  if (badge >= 0) payload["badge"] = badge;
  if (!collapseId.empty()) payload["collapseId"] = std::move(collapseId);

  const bool kept = keeps(kind);
  // What waits in the outbox for a target when this attempt cannot be made.
  auto entryFor = [&](std::string reference) {
    return OutboxEntry{std::move(reference),
                       kind,
                       payload["title"].get<std::string>(),
                       payload["body"].get<std::string>(),
                       payload["threadKey"].get<std::string>(),
                       payload["username"].get<std::string>(),
                       payload.count("collapseId") ? payload["collapseId"].get<std::string>() : std::string(),
                       badge,
                       deps_.clock.now()};
  };

  std::shared_ptr<bool> alive = alive_;
  int reached = 0;
  std::vector<std::string> failures;
  for (const auto& t : targets) {
    if (kept && outbox_->size(pairingReference(t.secret)) > 0) {
      // Behind the ones already waiting, so the phone gets them in order.
      enqueue(entryFor(pairingReference(t.secret)));
      continue;
    }
    Task<RelayResult> attempt = send(std::string(relay::kPushPath), kPost, t.secret, payload, false);
    RelayResult result = co_await std::move(attempt);
    if (!*alive) co_return reached;
    if (result) {
      ++reached;
      continue;
    }
    const RelayError& error = result.error();
    failures.push_back(relay::deliveryFailureText(error));
    switch (relay::classifyPushFailure(error)) {
      case relay::PushFailure::gone:
        removePairings(t.secret);
        break;
      case relay::PushFailure::transient:
        if (kept) enqueue(entryFor(pairingReference(t.secret)));
        break;
      case relay::PushFailure::refused:
        if (kept) {
          deps_.log.log("push: dropped " + kind + " " +
                        (error.domain == "push" ? "HTTP " + std::to_string(error.code) : "unsendable"));
        }
        break;
    }
  }
  // ntfy comes after the pairings, with the same outbox rules; a failure
  // never removes the topic, which is the user's own setting.
  const std::string ntfyTarget(ntfy::kOutboxTarget);
  if (ntfyBody && kept && outbox_->size(ntfyTarget) > 0) {
    enqueue(entryFor(ntfyTarget));
  } else if (ntfyBody) {
    Task<RelayResult> publish = publishToNtfy(std::move(*ntfyBody));
    RelayResult result = co_await std::move(publish);
    if (!*alive) co_return reached;
    if (result) {
      ++reached;
    } else {
      const RelayError& error = result.error();
      failures.push_back(ntfy::failureText(error));
      if (kept && ntfy::isTransient(error)) {
        enqueue(entryFor(ntfyTarget));
      } else if (kept) {
        deps_.log.log("push: dropped " + kind + " " +
                      (error.domain == "push" ? "HTTP " + std::to_string(error.code) : "unsendable"));
      }
    }
  }

  const std::size_t count = targets.size() + (toNtfy ? 1 : 0);
  if (reached > 0) sentCount_ = sentCount_.get() + reached;
  if (reached > 0 && kind == "message") lastPushAt_ = deps_.clock.now();
  lastFailure_ = failures.empty() ? std::nullopt : std::optional(failures.front());

  std::string line = "push: " + kind + " sent " + std::to_string(reached) + "/" + std::to_string(count) +
                     " badge " + std::to_string(badge);
  if (!failures.empty()) line += " failures " + std::to_string(failures.size());
  deps_.log.log(line);
  co_return reached;
}

Task<void> PushClient::unpair(Pairing pairing) {
  // The server's answer does not matter: the pairing ends here either way.
  Task<RelayResult> tell = request(std::string(relay::kUnpairPath), kPost, pairing.secret, JsonObject{});
  co_await std::move(tell);
  removePairings(pairing.secret);
  pairNote_ = Note{"연결을 해제했습니다.", false};
  deps_.log.log("push: unpaired, pairings " + std::to_string(pairings_->size()));
}

PushClient::Note PushClient::sentNote(int reached, const std::optional<std::string>& failure) const {
  if (reached == 0) return Note{failure.value_or("보내지 못했습니다."), true};
  const KoreanTimeFormat& format = deps_.timeFormat ? *deps_.timeFormat : KoreanTimeFormat::shared();
  return Note{"보냈습니다 (" + format.clockTime(deps_.clock.now()) + ")", false};
}

Task<void> PushClient::sendTest() {
  if (pairings_->empty() && !hasNtfyTopic()) {
    testNote_ = Note{"연결된 iPhone이 없습니다.", true};
    co_return;
  }
  testNote_ = Note{"보내는 중…", false};
  Task<int> fanOut =
      push("test", "Corvid 시험 알림", computerLabel() + "에서 보낸 시험 알림입니다", "", "", -1, "");
  int reached = co_await std::move(fanOut);
  testNote_ = sentNote(reached, lastFailure_);
}

Task<void> PushClient::sendNtfyTest() {
  if (!hasNtfyTopic()) {
    ntfyTestNote_ = Note{std::string(ntfy::kInvalidURLText), true};
    co_return;
  }
  ntfyTestNote_ = Note{"보내는 중…", false};
  Task<int> publish =
      fanOut("test", "Corvid 시험 알림", computerLabel() + "에서 보낸 시험 알림입니다", "", "", -1, "", {}, true);
  int reached = co_await std::move(publish);
  ntfyTestNote_ = sentNote(reached, lastFailure_);
}

}  // namespace corvid
