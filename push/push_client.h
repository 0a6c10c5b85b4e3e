// The relay client: paired phones, server URL, and the outcome texts the
// views show. One instance, created by the Watcher, lives for the process.
//
// Every operation starts on the main thread and resumes there; state changes
// happen only between the awaits of the network calls. No operation reports
// an error to its caller: failures become notes, problem texts,
// `lastFailure` and activity log lines. Secrets never reach the log.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/durable_file.h"
#include "base/http.h"
#include "base/log.h"
#include "base/observable.h"
#include "base/scheduler.h"
#include "base/settings.h"
#include "base/task.h"
#include "base/time.h"
#include "push/ntfy.h"
#include "push/outbox.h"
#include "push/relay.h"

namespace corvid {

class KoreanTimeFormat;

class PushClient : public ObservableObject {
 public:
  // One paired phone. Its identity in lists is `secret`.
  struct Pairing {
    std::string secret;
    std::string deviceModel;
    std::string environment;
    Time pairedAt;
    bool operator==(const Pairing&) const = default;
  };

  // A short outcome text for the main window.
  struct Note {
    std::string text;
    bool isError = false;
    bool operator==(const Note&) const = default;
  };

  struct Dependencies {
    Settings& settings;
    ActivityLog& log;
    Clock& clock;
    HttpTransport& transport;
    // The computer's user-visible name; empty when the system has none.
    std::function<std::string()> computerName;
    // The relay server used while no server URL is stored.
    std::string defaultServerOrigin;
    // Time-out of each relay request.
    Duration requestTimeout = std::chrono::seconds(15);
    // Formats the time of the test note; none: the shared formatter in the
    // system's time zone.
    const KoreanTimeFormat* timeFormat = nullptr;
    // Durable delivery. With a scheduler, "message", "logged_out" and
    // "resumed" pushes that fail for a passing reason wait in the outbox,
    // kept in `outboxFile` (none: in memory only), and are sent again.
    // Without one, nothing is kept.
    Scheduler* scheduler = nullptr;
    DurableFile* outboxFile = nullptr;
    // The newest badge known, for retried pushes; negative when unknown.
    std::function<int()> currentBadge = nullptr;
    // A number in [0, 1) for the jitter of retry delays; none: a random one.
    std::function<double()> random = nullptr;
    // The watched service's web origin; ntfy notifications open its
    // conversations when tapped.
    std::string serviceOrigin = "https://www.instagram.com";
  };

  // How long a pairing's waiting notifications wait after `failures`
  // failed attempts in a row: 2 s, doubling up to 60 s, each ±20 % by
  // `random` (a number in [0, 1)).
  static Duration retryDelay(int failures, double random);

  // The stable reference of a pairing in the outbox: "pairing-" and 16 hex
  // digits of the secret's SHA-256 digest. It names the pairing without
  // revealing its secret.
  static std::string pairingReference(const std::string& secret);

  explicit PushClient(Dependencies deps);
  ~PushClient() override;

  // Published state (views observe objectWillChange).
  const std::string& serverURL() const { return serverURL_; }
  const std::vector<Pairing>& pairings() const { return pairings_; }
  bool isPairing() const { return isPairing_; }
  const std::optional<Note>& pairNote() const { return pairNote_; }
  const std::optional<Note>& testNote() const { return testNote_; }
  const std::optional<std::string>& connectionProblem() const { return connectionProblem_; }
  const std::optional<std::string>& deliveryProblem() const { return deliveryProblem_; }
  const std::optional<Time>& lastPushAt() const { return lastPushAt_; }
  int sentCount() const { return sentCount_; }
  // The ntfy topic URL ("" for none) and its access token ("" for none).
  const std::string& ntfyTopicURL() const { return ntfyTopicURL_; }
  const std::string& ntfyAccessToken() const { return ntfyAccessToken_; }
  // Outcome of the test notification sent to ntfy alone.
  const std::optional<Note>& ntfyTestNote() const { return ntfyTestNote_; }
  // The failure text of the last publish to ntfy; none once one succeeds.
  const std::optional<std::string>& ntfyProblem() const { return ntfyProblem_; }
  // A usable topic is set: ntfy is a delivery target.
  bool hasNtfyTopic() const { return ntfyTopic().has_value(); }
  // Notifications waiting in the outbox, all targets together.
  int waitingCount() const { return waitingCount_; }
  // Not published: the failure text of the first phone that failed in the
  // most recent fan-out.
  const std::optional<std::string>& lastFailure() const { return lastFailure_; }

  const std::string& defaultServerOrigin() const { return deps_.defaultServerOrigin; }

  // Stores the text under "pushServerURL"; a different text clears both
  // problem texts. Pairings stay.
  void setServerURL(std::string url);
  // Replaces the pairings and persists them under "pushPairings" at once.
  void setPairings(std::vector<Pairing> pairings);
  // Stores a usable topic URL under "ntfyTopicURL" (trimmed), or removes the
  // key for an empty text. Anything else is not stored and answers false.
  // A different topic clears the ntfy problem.
  bool setNtfyTopicURL(std::string_view url);
  // Stores the token under "ntfyAccessToken" (trimmed), or removes the key
  // for an empty text. A different token clears the ntfy problem.
  void setNtfyAccessToken(std::string_view token);

  // The "pushPairings" encoding: a JSON array of objects with "secret",
  // "deviceModel", "environment" and "pairedAt" (seconds since 2001-01-01
  // 00:00:00 UTC). Decoding is all or nothing: nothing when any element is
  // malformed.
  static std::optional<std::string> encodePairings(const std::vector<Pairing>& pairings);
  static std::optional<std::vector<Pairing>> decodePairings(const std::string& text);

  // Redeems a typed pairing code. Keeps the code's decimal digits (any
  // script, as typed); anything but exactly six of them, or a pairing
  // already in flight, answers false at once and changes nothing. Answers
  // true when a pairing was added, also when its confirmation push failed.
  Task<bool> pair(std::string typedCode);

  // Sends one notification to `target`, or to every pairing (a snapshot
  // taken now), one request at a time in pairing order, and then, without a
  // `target` and for the kinds ntfy takes, to the ntfy topic. A negative
  // `badge` and an empty `collapseId` are left out of the relay's body.
  // Pairings the server answers with 401 or 410 are removed (with what they
  // had waiting); the topic is never removed. Answers the number of phones
  // reached by this first attempt (ntfy counts as one).
  //
  // "message", "logged_out" and "resumed" are never lost to a passing
  // failure: when the attempt to a target fails with no response, 408, 429
  // or a 5xx, the notification waits in the outbox for that target and is
  // sent again later; for a target that already has notifications waiting
  // it joins the end of the queue without a request of its own, so the
  // phone gets them in order.
  Task<int> push(std::string kind, std::string title, std::string body, std::string threadKey,
                 std::string username, int badge, std::string collapseId,
                 std::optional<Pairing> target = std::nullopt);

  // Tells the server, removes every pairing with that secret whatever the
  // server answered, and sets the pairing note.
  Task<void> unpair(Pairing pairing);

  // Sends the test notification to every pairing and the ntfy topic and
  // reports in `testNote`.
  Task<void> sendTest();
  // Sends the test notification to the ntfy topic alone and reports in
  // `ntfyTestNote`.
  Task<void> sendNtfyTest();

  // One publish to the ntfy topic: POST the JSON body to the server's root,
  // with the access token as bearer token when one is set. Sets or clears
  // the ntfy problem (a cancelled request leaves it). Answers the response's
  // JSON object on status 200, else an error (code -2 when no usable topic
  // is set).
  // `retry`: a notification from the outbox, which clears the problem
  // itself once nothing is left waiting.
  Task<RelayResult> publishToNtfy(JsonObject body, bool retry = false);

  // Tries the oldest waiting notification of every target at once,
  // whatever its back-off (the network came back).
  void retryWaiting();

  // One relay request: POST `path` on the server URL with `body` as compact
  // JSON and, when given, `secret` as bearer token. Sets or clears the
  // connection problem on every answer and on failures without answer (a
  // cancelled request leaves it), and the delivery problem for pushes.
  // Answers the response's JSON object on status 200, else a relay error.
  Task<RelayResult> request(std::string path, std::string method, std::optional<std::string> secret,
                            JsonObject body);

 private:
  struct RetryState {
    bool inFlight = false;
    bool again = false;  // a trigger came while a request was in flight
    int failures = 0;    // failed attempts in a row
    Time notBefore{};    // no attempt before this (the server's Retry-After)
    Timer timer;
  };

  std::string computerLabel() const;
  void removePairings(const std::string& secret);
  std::optional<ntfy::Topic> ntfyTopic() const;
  Task<int> fanOut(std::string kind, std::string title, std::string body, std::string threadKey,
                   std::string username, int badge, std::string collapseId, std::vector<Pairing> targets,
                   bool toNtfy);
  Note sentNote(int reached, const std::optional<std::string>& fallbackFailure) const;
  Task<RelayResult> send(std::string path, std::string method, std::optional<std::string> secret,
                         JsonObject body, bool retry);
  bool keeps(const std::string& kind) const;
  std::optional<std::string> secretFor(std::string_view reference) const;
  // Queues `entry` for its target and starts the target's retries.
  void enqueue(OutboxEntry entry);
  // Tries the oldest waiting entry of `reference` now, or right after the
  // request in flight.
  void retryNow(const std::string& reference);
  Task<void> drain(std::string reference);
  void dropUnknownTargets();

  Dependencies deps_;
  Published<std::string> serverURL_;
  Published<std::vector<Pairing>> pairings_;
  Published<bool> isPairing_{*this, false};
  Published<std::optional<Note>> pairNote_{*this, std::nullopt};
  Published<std::optional<Note>> testNote_{*this, std::nullopt};
  Published<std::optional<std::string>> connectionProblem_{*this, std::nullopt};
  Published<std::optional<std::string>> deliveryProblem_{*this, std::nullopt};
  Published<std::optional<Time>> lastPushAt_{*this, std::nullopt};
  Published<int> sentCount_{*this, 0};
  Published<std::string> ntfyTopicURL_;
  Published<std::string> ntfyAccessToken_;
  Published<std::optional<Note>> ntfyTestNote_{*this, std::nullopt};
  Published<std::optional<std::string>> ntfyProblem_{*this, std::nullopt};
  Published<int> waitingCount_{*this, 0};
  std::optional<std::string> lastFailure_;
  MemoryDurableFile memoryOutbox_;
  std::unique_ptr<Outbox> outbox_;
  std::map<std::string, RetryState, std::less<>> retries_;
  // Tasks still suspended when the client goes away see this turn false.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  // The outbox drains; ended by the destructor.
  OwnedTasks tasks_;

};

// Seconds between the Unix epoch and 2001-01-01 00:00:00 UTC, the reference
// date of stored pairing dates.
inline constexpr double kReferenceDateUnixSeconds = 978307200.0;

}  // namespace corvid
