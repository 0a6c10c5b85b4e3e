#include "base/json_text.h"

#include <cctype>
#include <optional>

namespace corvid {

namespace {

bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

unsigned hexValue(std::string_view s) {
  unsigned v = 0;
  for (char c : s) {
    v <<= 4;
    if (c >= '0' && c <= '9')
      v |= unsigned(c - '0');
    else if (c >= 'a' && c <= 'f')
      v |= unsigned(c - 'a' + 10);
    else
      v |= unsigned(c - 'A' + 10);
  }
  return v;
}

// The code unit of a \uXXXX escape starting at text[i] (the backslash), or
// nothing when there is none.
std::optional<unsigned> escapeAt(std::string_view text, std::size_t i) {
  if (i + 6 > text.size() || text[i] != '\\' || text[i + 1] != 'u') return std::nullopt;
  for (std::size_t k = i + 2; k < i + 6; ++k) {
    if (!isHex(text[k])) return std::nullopt;
  }
  return hexValue(text.substr(i + 2, 4));
}

}  // namespace

std::string replaceLoneSurrogates(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (!inString) {
      if (c == '"') inString = true;
      out += c;
      continue;
    }
    if (c == '"') {
      inString = false;
      out += c;
      continue;
    }
    if (c != '\\' || i + 1 >= text.size()) {
      out += c;
      continue;
    }
    auto unit = escapeAt(text, i);
    if (!unit) {  // another escape: copy it whole
      out += c;
      out += text[++i];
      continue;
    }
    if (*unit >= 0xD800 && *unit <= 0xDBFF) {
      auto next = escapeAt(text, i + 6);
      if (next && *next >= 0xDC00 && *next <= 0xDFFF) {
        out.append(text.substr(i, 12));
        i += 11;
        continue;
      }
      out += "\\ufffd";
    } else if (*unit >= 0xDC00 && *unit <= 0xDFFF) {
      out += "\\ufffd";
    } else {
      out.append(text.substr(i, 6));
    }
    i += 5;
  }
  return out;
}

}  // namespace corvid
