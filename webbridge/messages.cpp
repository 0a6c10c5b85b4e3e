#include "webbridge/messages.h"

#include <cmath>
#include <limits>

#include "base/url.h"

namespace webbridge {

namespace {

constexpr double kInt64Bound = 9223372036854775808.0;  // 2^63

// A JSON number as a signed integer, fractions cut off, out-of-range values
// saturated. Booleans are not numbers here.
std::optional<std::int64_t> integerOf(const Json& v) {
  if (v.is_number_integer()) return v.get<std::int64_t>();
  if (v.is_number_unsigned()) {
    auto u = v.get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return std::numeric_limits<std::int64_t>::max();
    }
    return static_cast<std::int64_t>(u);
  }
  if (v.is_number_float()) {
    double d = std::trunc(v.get<double>());
    if (std::isnan(d)) return std::nullopt;
    if (d >= kInt64Bound) return std::numeric_limits<std::int64_t>::max();
    if (d < -kInt64Bound) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(d);
  }
  return std::nullopt;
}

const Json* member(const Json& object, const char* key) {
  auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

std::optional<std::string> stringMember(const Json& object, const char* key) {
  const Json* v = member(object, key);
  if (!v || !v->is_string()) return std::nullopt;
  return v->get<std::string>();
}

Time timestampOf(const Json& body, Time receivedAt) {
  const Json* ts = member(body, "ts");
  if (!ts || !ts->is_number()) return receivedAt;
  double seconds = ts->get<double>() / 1000.0;
  // Beyond what the clock type holds (about 292 years from 1970) the page
  // clock is unusable; the time of receipt stands in, as for a non-number.
  using Seconds = std::chrono::duration<double>;
  const double limit = std::chrono::duration_cast<Seconds>(Time::duration::max()).count();
  if (!std::isfinite(seconds) || std::fabs(seconds) >= limit) return receivedAt;
  return Time(std::chrono::duration_cast<Time::duration>(Seconds(seconds)));
}

std::optional<std::string> pageURLOf(const Json& body) {
  auto href = stringMember(body, "href");
  if (!href || href->empty() || !corvid::parseUrl(*href)) return std::nullopt;
  return href;
}

bool truncatedOf(const Json& body) {
  const Json* v = member(body, "truncated");
  if (!v) return false;
  if (v->is_boolean()) return v->get<bool>();
  if (v->is_number()) return v->get<double>() != 0;
  return false;
}

bool isStringArray(const Json& v) {
  if (!v.is_array()) return false;
  for (const auto& e : v) {
    if (!e.is_string()) return false;
  }
  return true;
}

bool isStringMap(const Json& v) {
  if (!v.is_object()) return false;
  for (const auto& e : v) {
    if (!e.is_string()) return false;
  }
  return true;
}

// "fields" when it is a map of string to list of strings, else empty.
std::map<std::string, std::vector<std::string>> fieldsOf(const Json& body) {
  const Json* v = member(body, "fields");
  if (!v || !v->is_object()) return {};
  for (const auto& e : *v) {
    if (!isStringArray(e)) return {};
  }
  return v->get<std::map<std::string, std::vector<std::string>>>();
}

// "rows" when it is a map of string to list of string maps, else empty.
std::map<std::string, std::vector<std::map<std::string, std::string>>> rowsOf(const Json& body) {
  const Json* v = member(body, "rows");
  if (!v || !v->is_object()) return {};
  for (const auto& list : *v) {
    if (!list.is_array()) return {};
    for (const auto& record : list) {
      if (!isStringMap(record)) return {};
    }
  }
  return v->get<std::map<std::string, std::vector<std::map<std::string, std::string>>>>();
}

}  // namespace

std::optional<std::string> DOMSnapshot::value(const std::string& field) const {
  auto it = fields.find(field);
  if (it == fields.end() || it->second.empty()) return std::nullopt;
  return it->second.front();
}

std::optional<Json> CustomMessage::payloadObject() const {
  Json parsed = Json::parse(payload, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded()) return std::nullopt;
  return parsed;
}

std::optional<BridgeEvent> decodeMessage(const Json& body, Time receivedAt) {
  if (!body.is_object()) return std::nullopt;
  auto type = stringMember(body, "type");
  if (!type) return std::nullopt;

  std::int64_t sequence = 0;
  if (const Json* seq = member(body, "seq")) sequence = integerOf(*seq).value_or(0);

  if (*type == "snapshot" || *type == "patch") {
    auto selector = stringMember(body, "selector");
    auto html = stringMember(body, "html");
    if (!selector || !html) return std::nullopt;
    DOMSnapshot capture{.selector = std::move(*selector),
                        .html = std::move(*html),
                        .text = stringMember(body, "text"),
                        .sequence = sequence,
                        .timestamp = timestampOf(body, receivedAt),
                        .pageURL = pageURLOf(body),
                        .fields = fieldsOf(body),
                        .rows = rowsOf(body),
                        .isTruncated = truncatedOf(body)};
    return *type == "snapshot" ? BridgeEvent::snapshot(std::move(capture))
                               : BridgeEvent::patch(std::move(capture));
  }
  if (*type == "missing") {
    auto selector = stringMember(body, "selector");
    if (!selector) return std::nullopt;
    return BridgeEvent::missing(std::move(*selector), sequence);
  }
  if (*type == "custom") {
    auto name = stringMember(body, "name");
    if (!name) return std::nullopt;
    const Json* payload = member(body, "payload");
    std::string text;
    try {
      text = payload ? payload->dump() : "null";
    } catch (const Json::exception&) {
      return std::nullopt;  // text that is not valid UTF-8
    }
    return BridgeEvent::custom(CustomMessage{.name = std::move(*name),
                                             .payload = std::move(text),
                                             .sequence = sequence,
                                             .timestamp = timestampOf(body, receivedAt),
                                             .pageURL = pageURLOf(body)});
  }
  return std::nullopt;
}

std::optional<Json> parsePostedJson(std::string_view text) {
  // The engine writes a string with a lone UTF-16 surrogate (a page that cut
  // an emoji in half, say) as a "\ud83d" escape that is not valid JSON
  // text. Such an escape becomes U+FFFD, as in any conversion to UTF-8, so
  // that one broken character does not make the whole message vanish.
  std::string fixed;
  fixed.reserve(text.size());
  auto hexAt = [&](std::size_t i) -> int {
    if (i + 6 > text.size() || text[i] != '\\' || text[i + 1] != 'u') return -1;
    int v = 0;
    for (std::size_t k = i + 2; k < i + 6; ++k) {
      char c = text[k];
      int d = c >= '0' && c <= '9'   ? c - '0'
              : c >= 'a' && c <= 'f' ? c - 'a' + 10
              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                     : -1;
      if (d < 0) return -1;
      v = v * 16 + d;
    }
    return v;
  };
  bool inString = false;
  for (std::size_t i = 0; i < text.size();) {
    char c = text[i];
    if (!inString) {
      if (c == '"') inString = true;
      fixed += c;
      ++i;
      continue;
    }
    if (c == '"') {
      inString = false;
      fixed += c;
      ++i;
      continue;
    }
    if (c != '\\') {
      fixed += c;
      ++i;
      continue;
    }
    int unit = hexAt(i);
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      int low = hexAt(i + 6);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        fixed.append(text.substr(i, 12));
        i += 12;
      } else {
        fixed += "\\ufffd";
        i += 6;
      }
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      fixed += "\\ufffd";
      i += 6;
    } else {
      // Any other escape: copy the backslash and the character it escapes.
      fixed.append(text.substr(i, std::min<std::size_t>(2, text.size() - i)));
      i += 2;
    }
  }
  Json parsed = Json::parse(fixed, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded()) return std::nullopt;
  return parsed;
}

}  // namespace webbridge
