#include "base/text.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace corvid {

std::string trimmed(std::string_view text) {
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  int32_t length = static_cast<int32_t>(text.size());
  int32_t begin = 0;
  while (begin < length) {
    int32_t i = begin;
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0 || !u_isUWhiteSpace(c)) break;
    begin = i;
  }
  int32_t end = length;
  while (end > begin) {
    int32_t i = end;
    UChar32 c;
    U8_PREV(s, begin, i, c);
    if (c < 0 || !u_isUWhiteSpace(c)) break;
    end = i;
  }
  return std::string(text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin)));
}

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out += separator;
    out += parts[i];
  }
  return out;
}

}  // namespace corvid
