// In-memory stand-ins for the platform services, for unit tests of the core.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/http.h"
#include "base/scheduler.h"
#include "watcher/platform.h"
#include "watcher/web_engine.h"

namespace corvid::testing {

// Kept for callers that pass one to FakeWebView; the fakes write nothing into it.
using Journal = std::vector<std::string>;

class FakeWebView : public WebView {
 public:
  explicit FakeWebView(Scheduler& scheduler, Journal* = nullptr) : scheduler_(scheduler) {}

  // What the tests read and steer.
  std::vector<std::string> loads;
  std::optional<std::string> currentURL;
  bool loading = false;
  std::vector<Cookie> cookies;
  int dataRemovals = 0;
  // Answers a script call (body, arguments). By default every call fails.
  std::function<ScriptResult(std::string_view body, const Json& arguments)> scripts;
  // Answers calls of the script `waitingBody` instead, asynchronously: a
  // script that waits inside the page.
  std::string waitingBody;
  std::function<Task<ScriptResult>(Json arguments)> waitingScript;
  // How long a script call takes (virtual time).
  Duration scriptDelay = std::chrono::milliseconds(0);
  // The world of every script call so far.
  std::vector<std::string> worlds;
  WebViewDelegate* delegate = nullptr;

  void load(const std::string& url) override {
    loads.push_back(url);
    currentURL = url;
  }
  void loadHTML(const std::string&, const std::optional<std::string>& base) override { currentURL = base; }
  std::optional<std::string> url() const override { return currentURL; }
  bool isLoading() const override { return loading; }

  Task<ScriptResult> callAsyncJavaScript(std::string_view body, const Json& arguments,
                                         const std::string& world) override {
    worlds.push_back(world);
    std::string text(body);
    Json args = arguments;
    if (waitingScript && text == waitingBody) co_return co_await waitingScript(std::move(args));
    // Like the real view, a cancelled call fails without an answer.
    if (scriptDelay > Duration::zero() && !co_await sleepFor(scheduler_, scriptDelay)) {
      co_return ScriptResult{std::string("cancelled"), std::nullopt};
    }
    if (!scripts) co_return ScriptResult{std::string("no script handler"), std::nullopt};
    co_return scripts(text, args);
  }
  Task<std::vector<Cookie>> allCookies() override { co_return cookies; }
  Task<void> removeAllWebsiteData() override {
    ++dataRemovals;
    cookies.clear();
    co_return;
  }
  void addUserScript(const UserScript&) override {}
  void addScriptMessageHandler(const std::string&, const std::string&,
                               std::function<void(const ScriptMessage&)>) override {}
  void setDelegate(WebViewDelegate* d) override { delegate = d; }

 private:
  Scheduler& scheduler_;
};

class FakeWebEngine : public WebEngine {
 public:
  explicit FakeWebEngine(Scheduler& scheduler) : scheduler_(scheduler) {}
  std::unique_ptr<WebView> createWebView(const WebViewConfiguration& c, int, int) override {
    configuration = c;
    auto v = std::make_unique<FakeWebView>(scheduler_);
    last = v.get();
    return v;
  }
  FakeWebView* last = nullptr;
  WebViewConfiguration configuration;

 private:
  Scheduler& scheduler_;
};

struct FakeNetworkMonitor : NetworkMonitor {
  std::function<void(bool)> update;
  void start(std::function<void(bool)> h) override { update = std::move(h); }
};

struct FakeProcessActivity : ProcessActivity {
  void begin(std::string_view) override {}
};

struct FakeLoginItem : LoginItem {
  LoginItemStatus current = LoginItemStatus::notRegistered;
  LoginItemStatus status() override { return current; }
  std::optional<LoginItemError> registerItem() override { return std::nullopt; }
  std::optional<LoginItemError> unregisterItem() override { return std::nullopt; }
  void openSettings() override {}
};

struct FakeNotifier : DesktopNotifier {
  std::vector<std::string> posted;                          // the identifiers
  std::vector<std::pair<std::string, std::string>> texts;  // title and body of each
  int authorizationRequests = 0;
  Task<bool> requestAuthorization() override {
    ++authorizationRequests;
    co_return true;
  }
  void post(const std::string& id, const std::string& title, const std::string& body) override {
    posted.push_back(id);
    texts.emplace_back(title, body);
  }
};

inline HttpResult answer(int status, std::string body = "{}") {
  return {HttpResponse{status, std::move(body)}, {}};
}
inline HttpResult noAnswer(HttpFailureKind kind, int code = 0) { return {std::nullopt, {kind, code, {}}}; }

// Records every request; answers with `respond` (by default 200 and "{}"),
// after `delay` of virtual time. A request that `hangs` selects is never
// answered: it fails when its time-out has passed, as a real server that
// accepts the connection and stays silent.
class FakeTransport : public HttpTransport {
 public:
  explicit FakeTransport(Scheduler& scheduler) : scheduler_(scheduler) {}
  std::vector<HttpRequest> requests;
  std::function<HttpResult(const HttpRequest&)> respond;
  std::function<bool(const HttpRequest&)> hangs;
  Duration delay = std::chrono::milliseconds(0);

  Task<HttpResult> send(HttpRequest request) override {
    requests.push_back(request);
    if (hangs && hangs(request)) {
      bool waited = co_await sleepFor(scheduler_, request.timeout);
      co_return noAnswer(waited ? HttpFailureKind::timedOut : HttpFailureKind::cancelled);
    }
    bool waited = true;
    if (delay > Duration::zero()) waited = co_await sleepFor(scheduler_, delay);
    HttpResult result = waited ? answer(200) : noAnswer(HttpFailureKind::cancelled);
    if (waited && respond) result = respond(request);
    co_return result;
  }

 private:
  Scheduler& scheduler_;
};

// A request's path ("/v1/push"), one of its headers ("" when missing) and its body as JSON.
inline std::string pathOf(const HttpRequest& r) {
  auto slash = r.url.find('/', r.url.find("://") + 3);
  return slash == std::string::npos ? "" : r.url.substr(slash);
}
inline std::string headerOf(const HttpRequest& r, const std::string& name) {
  for (const auto& [n, v] : r.headers) {
    if (n == name) return v;
  }
  return {};
}
inline Json jsonOf(const HttpRequest& r) { return Json::parse(r.body); }

}  // namespace corvid::testing
