#include "push/ntfy.h"

#include <sys/random.h>

#include <cerrno>
#include <system_error>

#include "base/text.h"
#include "base/url.h"

namespace corvid::ntfy {

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lower(c);
  return out;
}

// ntfy's own rule for topic names.
bool isTopicName(std::string_view name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

// A dotted IPv4 address whose first number is 127.
bool isLoopbackIPv4(std::string_view host) {
  int parts = 0;
  std::size_t i = 0;
  int first = -1;
  while (i <= host.size()) {
    std::size_t dot = host.find('.', i);
    std::string_view part = host.substr(i, dot == std::string_view::npos ? std::string_view::npos : dot - i);
    if (part.empty() || part.size() > 3) return false;
    int value = 0;
    for (char c : part) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + (c - '0');
    }
    if (value > 255) return false;
    if (parts == 0) first = value;
    ++parts;
    if (dot == std::string_view::npos) break;
    i = dot + 1;
  }
  return parts == 4 && first == 127;
}

}  // namespace

bool isLoopbackHost(std::string_view host) {
  std::string h = lowered(host);
  if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  if (h == "localhost" || h == "::1" || h == "0:0:0:0:0:0:0:1") return true;
  return isLoopbackIPv4(h);
}

std::optional<Topic> parseTopicURL(std::string_view url) {
  const std::string text = trimmed(url);
  if (text.find_first_of("?#") != std::string::npos) return std::nullopt;
  auto parts = parseUrl(text);
  if (!parts || parts->host.empty()) return std::nullopt;
  const std::string scheme = lowered(parts->scheme);
  if (scheme != "https" && !(scheme == "http" && isLoopbackHost(parts->host))) return std::nullopt;

  std::string path = parts->path;
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::nullopt;
  std::string topic = path.substr(slash + 1);
  if (!isTopicName(topic)) return std::nullopt;

  // Rebuilt from its parts, so user information never travels.
  std::string host = parts->host;
  if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
  std::string endpoint = scheme + "://" + host;
  if (!parts->port.empty()) endpoint += ":" + parts->port;
  endpoint += path.substr(0, slash + 1);
  return Topic{std::move(endpoint), std::move(topic)};
}

bool delivers(std::string_view kind) {
  return kind == "message" || kind == "logged_out" || kind == "resumed" || kind == "test";
}

std::string conversationURL(std::string_view serviceOrigin, std::string_view threadKey) {
  std::string origin(serviceOrigin);
  while (!origin.empty() && origin.back() == '/') origin.pop_back();
  if (threadKey.empty()) return origin + "/direct/inbox/";
  return origin + "/direct/t/" + std::string(threadKey) + "/";
}

JsonObject publishBody(const Topic& topic, std::string_view kind, std::string title, std::string message,
                       std::string_view clickURL) {
  JsonObject body{{"topic", topic.topic}, {"title", std::move(title)}, {"message", std::move(message)}};
  if (kind == "message") {
    body["tags"] = nlohmann::json::array({"speech_balloon"});
    body["click"] = std::string(clickURL);
  }
  return body;
}

std::string failureText(const RelayError& error) {
  switch (error.code) {
    case 401:
    case 403:
      return std::string(kUnauthorizedText);
    case 429:
      return relay::deliveryFailureText(error);
    default:
      return error.message;
  }
}

bool isTransient(const RelayError& error) {
  if (error.domain != "push") return false;
  return error.code == RelayError::kNoResponse || error.code == 408 || error.code == 429 ||
         (error.code >= 500 && error.code <= 599);
}

void systemRandomBytes(unsigned char* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = getrandom(out + done, size - done, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "getrandom");
    }
    done += static_cast<std::size_t>(n);
  }
}

std::string randomTopicName(std::size_t length, const RandomBytes& random) {
  static constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
  // Bytes of 252 and above are drawn again: 252 is the largest multiple of
  // 36 below 256, so every character stays equally likely.
  constexpr unsigned kLimit = 256 - 256 % kAlphabet.size();
  std::string out;
  unsigned char buffer[32];
  while (out.size() < length) {
    random(buffer, sizeof buffer);
    for (unsigned char b : buffer) {
      if (b >= kLimit || out.size() == length) continue;
      out.push_back(kAlphabet[b % kAlphabet.size()]);
    }
  }
  return out;
}

std::string newTopicURL(const RandomBytes& random) {
  return std::string(kNewTopicPrefix) + randomTopicName(kNewTopicRandomLength, random);
}

}  // namespace corvid::ntfy
