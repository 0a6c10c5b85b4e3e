#include "push/relay.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <ctime>
#include <iomanip>
#include <sstream>

#include "base/url.h"

namespace corvid::relay {

namespace {

// Leading and trailing white space and line breaks of any script (the
// ideographic space of a Korean input method included).
std::string_view trimmed(std::string_view text) {
  auto isSpaceAt = [&](int32_t start, int32_t* next) {
    UChar32 c;
    int32_t i = start;
    U8_NEXT(text.data(), i, static_cast<int32_t>(text.size()), c);
    *next = i;
    return c >= 0 && u_isUWhiteSpace(c);
  };
  int32_t begin = 0;
  int32_t next = 0;
  const auto size = static_cast<int32_t>(text.size());
  while (begin < size && isSpaceAt(begin, &next)) begin = next;
  int32_t end = begin;
  for (int32_t i = begin; i < size;) {
    bool space = isSpaceAt(i, &next);
    i = next;
    if (!space) end = i;
  }
  return text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> endpointURL(std::string_view serverURL, std::string_view path) {
  std::string_view base = trimmed(serverURL);
  auto parts = parseUrl(base);
  if (!parts || parts->scheme.empty()) return std::nullopt;
  // Only an http(s) origin can be a relay server. "relay.example:8443"
  // parses with the scheme "relay.example"; it is an address typed without
  // its scheme, not a server to contact.
  if (!equalsIgnoringCase(parts->scheme, "https") && !equalsIgnoringCase(parts->scheme, "http")) {
    return std::nullopt;
  }
  if (parts->host.empty()) return std::nullopt;
  return resolveUrl(base, path);
}

JsonObject responseObject(std::string_view body) {
  auto parsed = nlohmann::json::parse(body.begin(), body.end(), nullptr, false);
  if (!parsed.is_object()) return {};
  return parsed.get<JsonObject>();
}

std::optional<std::string> textField(const JsonObject& object, std::string_view key) {
  auto it = object.find(std::string(key));
  if (it == object.end() || !it->second.is_string()) return std::nullopt;
  return it->second.get<std::string>();
}

std::string networkText(const HttpFailure& failure) {
  switch (failure.kind) {
    case HttpFailureKind::notConnected:
      return "인터넷 연결 없음";
    case HttpFailureKind::timedOut:
      return "시간 초과";
    case HttpFailureKind::cannotFindHost:
      return "서버를 찾을 수 없음";
    case HttpFailureKind::secureConnection:
      return "보안 연결 실패";
    case HttpFailureKind::cancelled:
    case HttpFailureKind::other:
      return "네트워크 오류 " + std::to_string(failure.code);
    case HttpFailureKind::unclassified:
      break;
  }
  return "네트워크 오류";
}

std::string unreachableText(const HttpFailure& failure) {
  return "알림 서버에 연결할 수 없습니다 (" + networkText(failure) + ").";
}

std::optional<std::string> serverFaultText(int status) {
  if (status < 500 || status == 502) return std::nullopt;
  return "알림 서버에 문제가 있습니다 (HTTP " + std::to_string(status) + ").";
}

std::string appleRefusalText(const JsonObject& body) {
  return "iPhone으로 알림을 전달하지 못했습니다 (Apple: " + textField(body, "reason").value_or("오류") + ").";
}

RelayError statusError(int status, const JsonObject& body) {
  std::string message;
  if (auto e = textField(body, "error")) {
    message = std::move(*e);
  } else if (auto r = textField(body, "reason")) {
    message = std::move(*r);
  } else {
    message = "HTTP " + std::to_string(status);
  }
  return RelayError{"push", status, std::move(message)};
}

PushFailure classifyPushFailure(const RelayError& error) {
  if (error.domain != "push") return PushFailure::refused;  // a body that cannot be sent, ever
  const int code = error.code;
  if (code == RelayError::kNoResponse || code == RelayError::kUnusableServerURL) return PushFailure::transient;
  if (code == 408 || code == 429 || code >= 500) return PushFailure::transient;
  if (code == 401 || code == 410) return PushFailure::gone;
  return PushFailure::refused;
}

std::optional<Duration> retryAfterDelay(std::string_view value, Time now) {
  constexpr auto kLongest = std::chrono::hours(6);
  std::string text(trimmed(value));
  if (text.empty()) return std::nullopt;
  if (text.find_first_not_of("0123456789") == std::string::npos) {
    if (text.size() > 6) return kLongest;
    return std::min<Duration>(std::chrono::seconds(std::stol(text)), kLongest);
  }
  // IMF-fixdate, the form servers send: "Sun, 06 Nov 1994 08:49:37 GMT".
  std::tm tm{};
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  in >> std::get_time(&tm, "%a, %d %b %Y %H:%M:%S GMT");
  if (in.fail()) return std::nullopt;
  Time at = std::chrono::system_clock::from_time_t(timegm(&tm));
  if (at <= now) return Duration::zero();
  return std::min<Duration>(at - now, kLongest);
}

std::string deliveryFailureText(const RelayError& error) {
  switch (error.code) {
    case 401:
      return "서버에서 이 컴퓨터의 연결이 사라졌습니다. iPhone을 다시 연결하세요.";
    case 410:
      return "iPhone 등록이 사라졌습니다(앱 삭제 등). iPhone을 다시 연결하세요.";
    case 429:
      return "너무 자주 보냈습니다. 잠시 뒤 다시 시도하세요.";
    case 502:
      return "Apple 푸시가 거절했습니다 (" + error.message + ").";
    default:
      return error.message;
  }
}

std::string pairFailureText(const RelayError& error) {
  switch (error.code) {
    case 429:
      return "시도가 너무 많습니다. 1분 뒤에 다시 해 주세요.";
    case 404:
      return "코드가 맞지 않거나 만료되었습니다. iPhone에서 새 코드를 받아 다시 입력하세요.";
    default:
      return "연결하지 못했습니다: " + error.message;
  }
}

std::string codeDigits(std::string_view typed, int* count) {
  std::string out;
  int digits = 0;
  const auto size = static_cast<int32_t>(typed.size());
  for (int32_t i = 0; i < size;) {
    int32_t start = i;
    UChar32 c;
    U8_NEXT(typed.data(), i, size, c);
    if (c >= 0 && u_isdigit(c)) {  // general category Nd
      out.append(typed.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
      ++digits;
    }
  }
  if (count) *count = digits;
  return out;
}

bool usableSecret(std::string_view secret) {
  if (secret.empty()) return false;
  for (unsigned char c : secret) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

}  // namespace corvid::relay
