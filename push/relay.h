// The relay server conversation as values: the relay error, the outcome of
// one request, and the Korean texts that failures turn into.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "base/http.h"
#include "base/time.h"

namespace corvid {

// The failure of a relay request. Codes: -2 server URL unusable, -1 no
// response, otherwise the HTTP status (0 when the answer was not HTTP).
// A body that cannot be serialised fails before sending with the
// serialiser's own error (domain "json").
struct RelayError {
  static constexpr int kUnusableServerURL = -2;
  static constexpr int kNoResponse = -1;

  std::string domain = "push";
  int code = 0;
  std::string message;
  // How long the server asked us to wait (a 429's Retry-After), if it did.
  std::optional<Duration> retryAfter = std::nullopt;
  bool operator==(const RelayError&) const = default;
};

using JsonObject = nlohmann::json::object_t;

// The response's JSON object, or a relay error.
class RelayResult {
 public:
  RelayResult(JsonObject body) : value_(std::move(body)) {}    // NOLINT: success converts
  RelayResult(RelayError error) : value_(std::move(error)) {}  // NOLINT: so does failure

  bool ok() const { return std::holds_alternative<JsonObject>(value_); }
  explicit operator bool() const { return ok(); }
  // Only when ok().
  const JsonObject& body() const { return std::get<JsonObject>(value_); }
  // Only when !ok().
  const RelayError& error() const { return std::get<RelayError>(value_); }

 private:
  std::variant<JsonObject, RelayError> value_;
};

namespace relay {

// The relay paths.
inline constexpr std::string_view kPairPath = "/v1/pair";
inline constexpr std::string_view kPushPath = "/v1/push";
inline constexpr std::string_view kUnpairPath = "/v1/unpair";
inline constexpr std::string_view kStatusPath = "/v1/status";

inline constexpr std::string_view kBadServerURLText = "알림 서버 주소가 올바르지 않습니다";

// The endpoint for `path` on the configured server: the setting trimmed of
// surrounding white space, which must be an http or https URL with a host;
// `path` (absolute) replaces whatever path it carries. Nothing when the
// setting is unusable.
std::optional<std::string> endpointURL(std::string_view serverURL, std::string_view path);

// The body of an answer: its JSON object, or an empty object for anything
// else (empty, not JSON, another JSON type).
JsonObject responseObject(std::string_view body);

// Text of a JSON field when it is a text.
std::optional<std::string> textField(const JsonObject& object, std::string_view key);

// The network text for a failure without response ("시간 초과", ...).
std::string networkText(const HttpFailure& failure);

// The connection problem for a failure without response.
std::string unreachableText(const HttpFailure& failure);

// The connection problem a response sets (500 and up, except 502), or none.
std::optional<std::string> serverFaultText(int status);

// The delivery problem of a 502 answer to a push.
std::string appleRefusalText(const JsonObject& body);

// The relay error of an answer other than 200: message `error`, else
// `reason`, else "HTTP " + status.
RelayError statusError(int status, const JsonObject& body);

// What a failed push means for the notification.
enum class PushFailure {
  transient,  // no response, 408, 429, 5xx, an unusable server URL: try again later
  gone,       // 401, 410: the pairing no longer exists
  refused,    // any other answer: the server will never take it
};
PushFailure classifyPushFailure(const RelayError& error);

// The wait a Retry-After header value asks for at `now`: delta-seconds or
// an HTTP date; nothing when it is neither. At most 6 hours.
std::optional<Duration> retryAfterDelay(std::string_view value, Time now);

// What a failed fan-out target and a failed pairing show.
std::string deliveryFailureText(const RelayError& error);
std::string pairFailureText(const RelayError& error);

// The characters of a typed pairing code that are decimal digits (Unicode
// general category Nd, any script), as typed; everything else drops out.
std::string codeDigits(std::string_view typed, int* count = nullptr);

// Whether `secret` can be sent as a bearer token in a header: not empty and
// free of control characters (which would break or inject header lines).
bool usableSecret(std::string_view secret);

}  // namespace relay

}  // namespace corvid
