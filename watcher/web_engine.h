// The embedded web engine as the core sees it.
//
// The Linux build implements this with WebKitGTK (platform/linux); unit
// tests use an in-memory fake. Every operation runs on the main thread;
// asynchronous ones resume there.
#pragma once

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/task.h"

namespace corvid {

using Json = nlohmann::json;

struct Cookie {
  std::string name;
  std::string domain;
  std::string value;
};

// What an asynchronous script call gave back.
struct ScriptResult {
  // Set when the call failed: the script threw, the engine failed, or the
  // call did not answer within the adapter's own time-out.
  std::optional<std::string> error;
  // The awaited value of the script as JSON; nothing when it was undefined
  // (and on failure). JSON null stands for the script's null.
  std::optional<Json> value;

  bool failed() const { return error.has_value(); }
  // The value when the call succeeded with an object, else nothing.
  const Json* object() const { return !error && value && value->is_object() ? &*value : nullptr; }
};

// What a script call gave back, as JSON text, unparsed: for results too
// large to build a general JSON tree of on every call.
struct ScriptTextResult {
  std::optional<std::string> error;  // as in ScriptResult
  std::optional<std::string> json;   // the awaited value's JSON text; nothing when undefined
  bool failed() const { return error.has_value(); }
};

enum class InjectionTime { documentStart, documentEnd };

// Script worlds are named; the page's own world has the empty name. A
// script in a named world shares only the document with the page.
inline const std::string kPageWorld;

struct UserScript {
  std::string source;
  InjectionTime injection = InjectionTime::documentEnd;
  bool mainFrameOnly = true;
  std::string world;  // kPageWorld or an isolated world's name
};

// A message posted through window.webkit.messageHandlers.<name>. `world` is
// the name of the world whose script posted it.
struct ScriptMessage {
  Json body;
  std::string world;
};

class WebViewDelegate {
 public:
  virtual ~WebViewDelegate() = default;
  // The page's web content process ended (crash or kill). Not restarted by
  // the engine: the delegate decides.
  virtual void webContentProcessDidTerminate() = 0;
};

struct WebViewConfiguration {
  // The engine's persistent website data store: cookies and site data
  // survive restarts and stay apart from any browser. When false the view
  // gets an ephemeral store of its own.
  bool persistentDataStore = true;
  bool elementFullscreenEnabled = false;
};

class WebView {
 public:
  virtual ~WebView() = default;

  // Starts a new navigation to `url` (default cache policy, 60-second
  // time-out), replacing the current page.
  virtual void load(const std::string& url) = 0;
  // Makes `html` the document, relative links resolving against `baseURL`.
  virtual void loadHTML(const std::string& html, const std::optional<std::string>& baseURL) = 0;
  // The current URL; nothing before the first load.
  virtual std::optional<std::string> url() const = 0;
  virtual bool isLoading() const = 0;

  // Runs `body` as the body of an async function whose named parameters are
  // the keys of `arguments` (a JSON object), in the main frame and in
  // `world`, and waits for the awaited result.
  virtual Task<ScriptResult> callAsyncJavaScript(std::string_view body, const Json& arguments,
                                                 const std::string& world = kPageWorld) = 0;

  // The same call, answering the awaited value as JSON text. Engines that
  // receive the result as text answer it as it came; the default serialises
  // the parsed value.
  virtual Task<ScriptTextResult> callAsyncJavaScriptText(std::string_view body, const Json& arguments,
                                                         const std::string& world = kPageWorld) {
    return serialised(callAsyncJavaScript(body, arguments, world));
  }

  // Every cookie of the view's data store.
  virtual Task<std::vector<Cookie>> allCookies() = 0;
  // Removes all website data of every kind, modified at any time.
  virtual Task<void> removeAllWebsiteData() = 0;

  // Adds a script that runs in every later document.
  virtual void addUserScript(const UserScript& script) = 0;
  // Registers `handler` for messages posted to `name` by scripts of `world`.
  // A name may be registered once per world.
  virtual void addScriptMessageHandler(const std::string& name, const std::string& world,
                                       std::function<void(const ScriptMessage&)> handler) = 0;

  // The single navigation callback: web content process terminated.
  virtual void setDelegate(WebViewDelegate* delegate) = 0;

 private:
  static Task<ScriptTextResult> serialised(Task<ScriptResult> call) {
    ScriptResult parsed = co_await std::move(call);
    ScriptTextResult text;
    text.error = std::move(parsed.error);
    if (parsed.value) text.json = parsed.value->dump(-1, ' ', false, Json::error_handler_t::replace);
    co_return text;
  }
};

class WebEngine {
 public:
  virtual ~WebEngine() = default;
  // A new web view of `width` × `height` points. It keeps loading, running
  // timers at full rate and answering script calls while no window shows it.
  virtual std::unique_ptr<WebView> createWebView(const WebViewConfiguration& configuration, int width,
                                                 int height) = 0;
};

}  // namespace corvid
