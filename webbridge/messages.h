// What the page side posts, as native values: one capture of the target
// (DOMSnapshot), a message the page sent through its page API
// (CustomMessage), and the event that an accepted message becomes
// (BridgeEvent).
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace webbridge {

using Json = nlohmann::json;
using Time = std::chrono::system_clock::time_point;

// One capture of the target element.
struct DOMSnapshot {
  std::string selector{};
  // Empty when HTML was off or over the limit.
  std::string html{};
  std::optional<std::string> text{};
  std::int64_t sequence = 0;
  Time timestamp{};
  std::optional<std::string> pageURL{};
  std::map<std::string, std::vector<std::string>> fields{};
  std::map<std::string, std::vector<std::map<std::string, std::string>>> rows{};
  bool isTruncated = false;

  // The first value of the named field; nothing when the field is absent or
  // has no values.
  std::optional<std::string> value(const std::string& field) const;

  bool operator==(const DOMSnapshot&) const = default;
};

// A message that the page sent with window.WebBridge.send.
struct CustomMessage {
  std::string name{};
  // The payload as JSON text in UTF-8 ("null" when the page passed none).
  std::string payload{};
  std::int64_t sequence = 0;
  Time timestamp{};
  std::optional<std::string> pageURL{};

  // The payload parsed as a JSON value (top-level scalars allowed); nothing
  // when it does not parse.
  std::optional<Json> payloadObject() const;

  // Decodes the payload into T with nlohmann's from_json (or T's
  // adl_serializer). The parser's or the converter's exception is passed on.
  template <class T>
  T decode() const {
    return Json::parse(payload).template get<T>();
  }
  // Decodes the payload with a caller-given decoder, a callable taking the
  // JSON text and answering a T; its exception is passed on.
  template <class T, class Decoder>
  T decode(Decoder&& decoder) const {
    return std::forward<Decoder>(decoder)(std::string_view(payload));
  }

  bool operator==(const CustomMessage&) const = default;
};

class BridgeEvent {
 public:
  enum class Kind {
    snapshot,  // the first capture of a page load
    patch,     // a later capture that differs from the previous one
    missing,   // the target was not found
    custom,    // a message from the page API
  };
  struct Missing {
    std::string selector;
    std::int64_t sequence = 0;
    bool operator==(const Missing&) const = default;
  };

  static BridgeEvent snapshot(DOMSnapshot capture) { return {Kind::snapshot, std::move(capture)}; }
  static BridgeEvent patch(DOMSnapshot capture) { return {Kind::patch, std::move(capture)}; }
  static BridgeEvent missing(std::string selector, std::int64_t sequence) {
    return {Kind::missing, Missing{std::move(selector), sequence}};
  }
  static BridgeEvent custom(CustomMessage message) { return {Kind::custom, std::move(message)}; }

  Kind kind() const { return kind_; }
  // The capture of a snapshot or patch; null for the other kinds.
  const DOMSnapshot* capture() const { return std::get_if<DOMSnapshot>(&payload_); }
  const Missing* missingTarget() const { return std::get_if<Missing>(&payload_); }
  const CustomMessage* message() const { return std::get_if<CustomMessage>(&payload_); }

  bool operator==(const BridgeEvent&) const = default;

 private:
  using Payload = std::variant<DOMSnapshot, Missing, CustomMessage>;
  BridgeEvent(Kind kind, Payload payload) : kind_(kind), payload_(std::move(payload)) {}
  Kind kind_;
  Payload payload_;
};

// Decodes one posted message body. Nothing when the body is not a bridge
// message: not an object, no string "type", an unknown type, or a required
// key of its type missing. `receivedAt` stands in for an absent or unusable
// "ts".
std::optional<BridgeEvent> decodeMessage(const Json& body, Time receivedAt);

}  // namespace webbridge

namespace webbridge {

// Parses the JSON text that the web engine makes of a posted value. A lone
// UTF-16 surrogate escape becomes U+FFFD instead of failing the whole text.
// Nothing when the text is not JSON.
std::optional<Json> parsePostedJson(std::string_view text);

}  // namespace webbridge
