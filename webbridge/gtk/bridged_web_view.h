// A gtkmm widget that shows a web view made by a WebBridge and loads a given
// content into it. Setting the content again loads only when it differs from
// what was loaded last, so a view that is refreshed with the same content
// keeps whatever page the user navigated to.
#pragma once

#include <gtkmm/box.h>
#include <webkit2/webkit2.h>

#include <memory>

#include "webbridge/content.h"
#include "webbridge/gtk/web_bridge.h"

namespace webbridge {

// Starts loads in a WebKitWebView. A URL request is stopped when it has not
// received its response (committed) within 60 seconds.
class WebKitContentLoader : public ContentLoader {
 public:
  explicit WebKitContentLoader(WebKitWebView* view) : view_(view) {}
  void loadURL(const std::string& url) override;
  void loadHTML(const std::string& html, const std::optional<std::string>& baseURL) override;

 private:
  WebKitWebView* view_;
};

class BridgedWebView : public Gtk::Box {
 public:
  using Content = BridgedWebViewContent;

  // Makes the web view with the bridge's makeWebView (so the bridge knows it
  // as its webView()) and starts loading `content`.
  BridgedWebView(std::shared_ptr<WebBridge> bridge, Content content);
  ~BridgedWebView() override;

  const std::shared_ptr<WebBridge>& bridge() const { return bridge_; }
  const Content& content() const { return content_; }
  // The update step: loads `content` when it differs from the last loaded.
  void setContent(Content content);

  WebKitWebView* webView() const { return webView_; }
  const WebViewCoordinator& coordinator() const { return coordinator_; }

 private:
  std::shared_ptr<WebBridge> bridge_;
  Content content_;
  WebViewCoordinator coordinator_;
  WebKitWebView* webView_ = nullptr;  // weak: the box owns it as its child
};

}  // namespace webbridge
