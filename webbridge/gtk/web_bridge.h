// WebBridge on WebKitGTK: installs the observer script (and, when asked,
// the page API) into a web view's user content manager, receives what they
// post, and offers pull and send into the page.
//
//   auto bridge = std::make_shared<webbridge::WebBridge>(webbridge::WebBridgeOptions("#list"));
//   WebKitWebView* view = bridge->makeWebView();
//   bridge->onEvent = [](const webbridge::BridgeEvent& e) { ... };
//
// Script worlds. The observer script runs in the isolated world "WebBridge"
// and the page API in the page's own world. WebKitGTK's script-message
// signal does not say which world posted, so the bridge registers its
// handler under a different name in each world: kIsolatedHandlerName in
// "WebBridge", kHandlerName in the page world. A handler registered in one
// world does not exist in any other, so a page script cannot post under the
// isolated name; the name a message arrives under is therefore its world.
// In the isolated world a document-start script makes the port reachable as
// window.webkit.messageHandlers.webBridge as well.
//
// Main thread only, except events(), which may be called from any thread.
#pragma once

#include <gdk/gdk.h>
#include <webkit2/webkit2.h>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/task.h"
#include "webbridge/bridge_core.h"
#include "webbridge/error.h"
#include "webbridge/gtk/gobject_ref.h"

namespace webbridge {

namespace detail {
struct MessageHandler;
}

// A failure of the web engine during pull or send (a script error, a
// navigation that cancelled the call), passed on with its GError fields.
class EngineError : public std::runtime_error {
 public:
  EngineError(GQuark domain, int code, const std::string& message)
      : std::runtime_error(message), domain_(domain), code_(code) {}
  GQuark domain() const { return domain_; }
  int code() const { return code_; }

 private:
  GQuark domain_;
  int code_;
};

// What a web view is made from. WebKitGTK has no configuration object: the
// user content manager, the settings and the web context are given to the
// web view when it is constructed.
struct WebViewConfiguration {
  GRef<WebKitUserContentManager> userContentManager;
  GRef<WebKitSettings> settings;
  // Empty: WebKit's default web context.
  GRef<WebKitWebContext> webContext;
};

// A user script reference that the bridge adds unchanged.
class UserScript {
 public:
  // Takes over a reference the caller owns (webkit_user_script_new...).
  static UserScript adopt(WebKitUserScript* script) { return UserScript(script); }
  UserScript(const UserScript& o) : p_(webkit_user_script_ref(o.p_)) {}
  UserScript& operator=(const UserScript& o) {
    if (this != &o) {
      WebKitUserScript* old = p_;
      p_ = webkit_user_script_ref(o.p_);
      webkit_user_script_unref(old);
    }
    return *this;
  }
  ~UserScript() { webkit_user_script_unref(p_); }
  WebKitUserScript* get() const { return p_; }

 private:
  explicit UserScript(WebKitUserScript* p) : p_(p) {}
  WebKitUserScript* p_;
};

// Encodes a value as a JSON value with nlohmann's to_json.
struct JsonEncoder {
  template <class T>
  Json operator()(const T& value) const {
    return Json(value);
  }
};

class WebBridge : public WebBridgeCore {
 public:
  // The page-facing handler name, registered in the page's own world.
  static constexpr const char* kHandlerName = "webBridge";
  // The handler's name in the bridge's isolated world.
  static constexpr const char* kIsolatedHandlerName = "webBridgeIsolatedWorld";

  // Throws std::invalid_argument for a throttle without an encoding.
  explicit WebBridge(WebBridgeOptions options);
  // The handlers stay registered and ignore every later message; open event
  // streams finish.
  ~WebBridge() override;
  WebBridge(const WebBridge&) = delete;
  WebBridge& operator=(const WebBridge&) = delete;

  // The web view that pull and send use, held weakly: null once it is gone.
  WebKitWebView* webView() const { return webView_; }

  // Extra scripts to install next to the bridge's own, in list order.
  std::vector<UserScript> additionalUserScripts;
  // Adjusts a configuration that the bridge makes, before it installs itself.
  std::function<void(WebViewConfiguration&)> configureConfiguration;
  // Adjusts a web view that the bridge makes.
  std::function<void(WebKitWebView*)> configureWebView;

  // Adds the bridge's scripts and handler, then additionalUserScripts. One
  // bridge, once, per user content manager: a second install into a
  // manager that has a bridge does nothing but log a warning.
  void install(WebKitUserContentManager* manager);
  void install(WebViewConfiguration& configuration);

  // A new configuration (its own user content manager, fresh settings, the
  // default web context), adjusted by configureConfiguration, with the
  // bridge installed.
  WebViewConfiguration makeConfiguration();

  // A new web view from makeConfiguration(), remembered as webView() and
  // adjusted by configureWebView. Like every new GTK widget it comes with a
  // floating reference that the container it is put in (or the caller,
  // with g_object_ref_sink) takes over. GTK places widgets itself: a frame
  // with a size becomes the widget's size request, its origin is not used.
  WebKitWebView* makeWebView(GdkRectangle frame = {0, 0, 0, 0});

  // Remembers a web view whose user content manager the bridge was
  // installed into.
  void attach(WebKitWebView* view);

  // One property of the first element that matches `selector` (by default
  // the options' selector), read in the bridge's world. Nothing when no
  // element matches or the value is not a string. Throws std::system_error
  // with WebBridgeError::noWebView without a web view, EngineError when the
  // engine fails.
  corvid::Task<std::optional<std::string>> pull(std::optional<std::string> selector = std::nullopt,
                                                WebBridgePullFormat format = WebBridgePullFormat::outerHTML);

  // Hands `payload` under `name` to the listeners that the page registered
  // with window.WebBridge.on. Throws as pull does, nlohmann's type_error for
  // payload text that is not valid UTF-8 and std::invalid_argument for such
  // a name (pull: selector).
  corvid::Task<void> send(std::string name, Json payload);

  // Encodes `value` with `encoder` (a callable answering a JSON value) and
  // sends the result; the encoder's exception is passed on.
  template <class T, class Encoder = JsonEncoder>
  corvid::Task<void> send(std::string name, T value, Encoder encoder = {}) {
    Json payload = encoder(value);
    co_await send(std::move(name), std::move(payload));
  }

 private:
  void forgetWebView();

  std::shared_ptr<detail::MessageHandler> handler_;
  WebKitWebView* webView_ = nullptr;
};

}  // namespace webbridge
