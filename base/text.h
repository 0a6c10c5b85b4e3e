// Small text helpers over UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvid {

// `text` without leading and trailing white space and line breaks (Unicode
// White_Space characters). Invalid UTF-8 is kept as it is.
std::string trimmed(std::string_view text);

// `parts` joined with `separator`.
std::string joined(const std::vector<std::string>& parts, std::string_view separator);

}  // namespace corvid
