// The relay client: paired phones, server URL, and the outcome texts the
// views show. One instance, created by the Watcher, lives for the process.
//
// Every operation starts on the main thread and resumes there; state changes
// happen only between the awaits of the network calls. No operation reports
// an error to its caller: failures become notes, problem texts,
// `lastFailure` and activity log lines. Secrets never reach the log.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/http.h"
#include "base/log.h"
#include "base/observable.h"
#include "base/settings.h"
#include "base/task.h"
#include "base/time.h"
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
  };

  explicit PushClient(Dependencies deps);

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
  // Not published: the failure text of the first phone that failed in the
  // most recent fan-out.
  const std::optional<std::string>& lastFailure() const { return lastFailure_; }

  const std::string& defaultServerOrigin() const { return deps_.defaultServerOrigin; }

  // Stores the text under "pushServerURL"; a different text clears both
  // problem texts. Pairings stay.
  void setServerURL(std::string url);
  // Replaces the pairings and persists them under "pushPairings" at once.
  void setPairings(std::vector<Pairing> pairings);

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
  // taken now), one request at a time in pairing order. A negative `badge`
  // and an empty `collapseId` are left out of the body. Pairings the server
  // answers with 401 or 410 are removed. Answers the number of phones
  // reached.
  Task<int> push(std::string kind, std::string title, std::string body, std::string threadKey,
                 std::string username, int badge, std::string collapseId,
                 std::optional<Pairing> target = std::nullopt);

  // Tells the server, removes every pairing with that secret whatever the
  // server answered, and sets the pairing note.
  Task<void> unpair(Pairing pairing);

  // Sends the test notification to every pairing and reports in `testNote`.
  Task<void> sendTest();

  // One relay request: POST `path` on the server URL with `body` as compact
  // JSON and, when given, `secret` as bearer token. Sets or clears the
  // connection problem on every answer and on failures without answer (a
  // cancelled request leaves it), and the delivery problem for pushes.
  // Answers the response's JSON object on status 200, else a relay error.
  Task<RelayResult> request(std::string path, std::string method, std::optional<std::string> secret,
                            JsonObject body);

 private:
  std::string computerLabel() const;
  void removePairings(const std::string& secret);

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
  std::optional<std::string> lastFailure_;
};

// Seconds between the Unix epoch and 2001-01-01 00:00:00 UTC, the reference
// date of stored pairing dates.
inline constexpr double kReferenceDateUnixSeconds = 978307200.0;

}  // namespace corvid
