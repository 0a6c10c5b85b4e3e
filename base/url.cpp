#include "base/url.h"

#include <uriparser/Uri.h>

#include <memory>
#include <vector>

namespace corvid {

namespace {

std::string rangeText(const UriTextRangeA& r) {
  if (!r.first || !r.afterLast) return {};
  return std::string(r.first, r.afterLast);
}

struct ParsedUri {
  UriUriA uri{};
  bool ok = false;
  std::string text;  // uriparser keeps pointers into the parsed text
  explicit ParsedUri(std::string_view t) : text(t) {
    const char* errorPos = nullptr;
    ok = uriParseSingleUriExA(&uri, text.data(), text.data() + text.size(), &errorPos) == URI_SUCCESS;
  }
  ~ParsedUri() {
    if (ok) uriFreeUriMembersA(&uri);
  }
  ParsedUri(const ParsedUri&) = delete;
  ParsedUri& operator=(const ParsedUri&) = delete;
};

std::optional<std::string> toText(const UriUriA& uri) {
  int chars = 0;
  if (uriToStringCharsRequiredA(&uri, &chars) != URI_SUCCESS) return std::nullopt;
  std::vector<char> buf(static_cast<std::size_t>(chars) + 1);
  if (uriToStringA(buf.data(), &uri, chars + 1, nullptr) != URI_SUCCESS) return std::nullopt;
  return std::string(buf.data());
}

}  // namespace

std::optional<UrlParts> parseUrl(std::string_view text) {
  ParsedUri p(text);
  if (!p.ok) return std::nullopt;
  UrlParts parts;
  parts.scheme = rangeText(p.uri.scheme);
  parts.host = rangeText(p.uri.hostText);
  parts.port = rangeText(p.uri.portText);
  parts.query = rangeText(p.uri.query);
  std::string path;
  bool first = true;
  for (auto* seg = p.uri.pathHead; seg; seg = seg->next) {
    if (!first || p.uri.absolutePath || p.uri.hostText.first) path += "/";
    path += rangeText(seg->text);
    first = false;
  }
  if (path.empty() && p.uri.absolutePath) path.push_back('/');
  parts.path = std::move(path);
  return parts;
}

std::optional<std::string> resolveUrl(std::string_view base, std::string_view reference) {
  ParsedUri b(base);
  ParsedUri r(reference);
  if (!b.ok || !r.ok || !b.uri.scheme.first) return std::nullopt;
  UriUriA out{};
  if (uriAddBaseUriExA(&out, &r.uri, &b.uri, URI_RESOLVE_STRICTLY) != URI_SUCCESS) {
    uriFreeUriMembersA(&out);
    return std::nullopt;
  }
  auto text = toText(out);
  uriFreeUriMembersA(&out);
  return text;
}

std::string urlPath(std::string_view url) {
  auto parts = parseUrl(url);
  return parts ? parts->path : std::string();
}

}  // namespace corvid
