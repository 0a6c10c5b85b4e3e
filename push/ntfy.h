// Delivery through ntfy, the open-source publish-subscribe push service:
// the topic URL the user subscribes to on the phone, the JSON publish body,
// the failure texts and the generator of hard-to-guess topic names.
//
// Publishing uses ntfy's JSON form: POST to the server's root with
// `Content-Type: application/json` and {"topic", "title", "message", "tags",
// "click"} as the body, so Korean texts travel as UTF-8 JSON rather than in
// header lines. An access token goes as `Authorization: Bearer <token>`.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "push/relay.h"

namespace corvid::ntfy {

// A usable topic URL split into where to publish and what to publish to.
struct Topic {
  std::string endpoint;  // the server's root: the topic URL without its topic, ending in "/"
  std::string topic;     // the last path segment
  bool operator==(const Topic&) const = default;
};

// 127.0.0.0/8, ::1 (bracketed or not) and "localhost" (any case).
bool isLoopbackHost(std::string_view host);

// The topic URL as typed, trimmed of surrounding white space. Usable: an
// http or https URL with a host, a topic name of 1 to 64 letters, digits,
// "-" or "_" as its last path segment (one trailing "/" is allowed), no
// query and no fragment; plain http only to a loopback host, because the
// token and the message texts must not cross a network in the clear. User
// information in the URL is never sent.
std::optional<Topic> parseTopicURL(std::string_view url);

// Only "message", "logged_out", "resumed" and "test" go to ntfy: there is no
// app badge to set and no pairing to confirm.
bool delivers(std::string_view kind);

// The conversation on the watched service: origin + "/direct/t/" + key + "/",
// or the inbox ("/direct/inbox/") when the key is empty.
std::string conversationURL(std::string_view serviceOrigin, std::string_view threadKey);

// The JSON publish body. A "message" carries the conversation as "click" and
// the "speech_balloon" tag; other kinds carry only their texts.
JsonObject publishBody(const Topic& topic, std::string_view kind, std::string title, std::string message,
                       std::string_view clickURL);

inline constexpr std::string_view kInvalidURLText = "주소가 올바르지 않습니다";
inline constexpr std::string_view kUnauthorizedText = "ntfy 주제에 보낼 권한이 없습니다. 토큰을 확인하세요.";

// What a failed publish shows: 401 and 403 the token text, 429 the relay's
// "too often" text, anything else the error's own message.
std::string failureText(const RelayError& error);

// Failures worth trying again: no response, 408, 429 and every 5xx. Any
// other failure is final for the notification; the topic stays either way.
bool isTransient(const RelayError& error);

// The outbox's name for the ntfy target: the topic and its token are
// settings, so the name carries neither.
inline constexpr std::string_view kOutboxTarget = "ntfy";

// Fills `out` with `size` random bytes.
using RandomBytes = std::function<void(unsigned char* out, std::size_t size)>;
// The system's cryptographic random source (getrandom); throws when it fails.
void systemRandomBytes(unsigned char* out, std::size_t size);

// `length` characters of [a-z0-9], each equally likely.
std::string randomTopicName(std::size_t length, const RandomBytes& random = systemRandomBytes);

inline constexpr std::string_view kNewTopicPrefix = "https://ntfy.sh/corvid-";
inline constexpr std::size_t kNewTopicRandomLength = 20;
// "https://ntfy.sh/corvid-" and 20 random characters of [a-z0-9].
std::string newTopicURL(const RandomBytes& random = systemRandomBytes);

}  // namespace corvid::ntfy
