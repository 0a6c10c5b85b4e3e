// URL parsing and reference resolution (RFC 3986), backed by uriparser.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvid {

struct UrlParts {
  std::string scheme;  // lower case as written; empty when the URL has none
  std::string host;    // empty when there is no authority
  std::string port;    // empty when absent
  std::string path;    // "" or starting with "/" for URLs with an authority
  std::string query;   // without "?"
};

// Parses `text` as a URI reference. Nothing when it is not valid syntax.
std::optional<UrlParts> parseUrl(std::string_view text);

// Resolves `reference` against the absolute URL `base` (RFC 3986 section 5)
// and returns the result as text. Nothing when `base` has no scheme or either
// text does not parse.
std::optional<std::string> resolveUrl(std::string_view base, std::string_view reference);

// The path of `url`, or "" when it has none or does not parse.
std::string urlPath(std::string_view url);

}  // namespace corvid
