// What a bridged web view shows, and the coordinator that remembers what it
// last loaded so that re-rendering with the same content does not reload.
#pragma once

#include <optional>
#include <string>
#include <variant>

namespace webbridge {

struct BridgedWebViewContent {
  struct Url {
    std::string url;
    bool operator==(const Url&) const = default;
  };
  struct Html {
    std::string html;
    // Relative links of the document resolve against it.
    std::optional<std::string> baseURL;
    bool operator==(const Html&) const = default;
  };

  static BridgedWebViewContent url(std::string url) { return {Url{std::move(url)}}; }
  static BridgedWebViewContent html(std::string html, std::optional<std::string> baseURL = std::nullopt) {
    return {Html{std::move(html), std::move(baseURL)}};
  }

  std::variant<Url, Html> value;
  bool operator==(const BridgedWebViewContent&) const = default;
};

// Starts loads in one web view.
class ContentLoader {
 public:
  virtual ~ContentLoader() = default;
  // A request for `url` with the default cache policy and a 60-second
  // time-out.
  virtual void loadURL(const std::string& url) = 0;
  virtual void loadHTML(const std::string& html, const std::optional<std::string>& baseURL) = 0;
};

class WebViewCoordinator {
 public:
  // The content last handed to the web view; nothing at first.
  const std::optional<BridgedWebViewContent>& loaded() const { return loaded_; }

  // Starts a load of `content` unless it is the content loaded last; answers
  // whether it did. The outcome of the load is not observed.
  bool load(const BridgedWebViewContent& content, ContentLoader& loader) {
    if (loaded_ == content) return false;
    loaded_ = content;
    if (const auto* html = std::get_if<BridgedWebViewContent::Html>(&content.value)) {
      loader.loadHTML(html->html, html->baseURL);
    } else {
      loader.loadURL(std::get<BridgedWebViewContent::Url>(content.value).url);
    }
    return true;
  }

 private:
  std::optional<BridgedWebViewContent> loaded_;
};

}  // namespace webbridge
