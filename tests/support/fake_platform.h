// In-memory stand-ins for the platform services, for unit tests of the core.
// Each fake can write what happens to it into a shared journal, so that a
// test can check the order of calls across services.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/http.h"
#include "base/scheduler.h"
#include "watcher/platform.h"
#include "watcher/web_engine.h"

namespace corvid::testing {

using Journal = std::vector<std::string>;

inline void note(Journal* journal, std::string line) {
  if (journal) journal->push_back(std::move(line));
}

class FakeWebView : public WebView {
 public:
  FakeWebView(Scheduler& scheduler, Journal* journal) : scheduler_(scheduler), journal_(journal) {}

  // What the tests read and steer.
  std::vector<std::string> loads;
  std::optional<std::string> currentURL;
  bool loading = false;
  std::vector<Cookie> cookies;
  int dataRemovals = 0;
  // Answers a script call (body, arguments). By default every call fails.
  std::function<ScriptResult(std::string_view body, const Json& arguments)> scripts;
  // How long a script call takes (virtual time).
  Duration scriptDelay = std::chrono::milliseconds(0);
  // The world of every script call so far.
  std::vector<std::string> worlds;

  void load(const std::string& url) override {
    loads.push_back(url);
    currentURL = url;
    note(journal_, "web: load " + url);
  }
  void loadHTML(const std::string& html, const std::optional<std::string>& base) override {
    loads.push_back("html:" + html);
    currentURL = base;
  }
  std::optional<std::string> url() const override { return currentURL; }
  bool isLoading() const override { return loading; }

  Task<ScriptResult> callAsyncJavaScript(std::string_view body, const Json& arguments,
                                         const std::string& world) override {
    worlds.push_back(world);
    std::string text(body);
    Json args = arguments;
    if (scriptDelay > Duration::zero()) co_await sleepFor(scheduler_, scriptDelay);
    if (!scripts) co_return ScriptResult{std::string("no script handler"), std::nullopt};
    co_return scripts(text, args);
  }
  Task<std::vector<Cookie>> allCookies() override { co_return cookies; }
  Task<void> removeAllWebsiteData() override {
    ++dataRemovals;
    cookies.clear();
    note(journal_, "web: remove all data");
    co_return;
  }
  void addUserScript(const UserScript&) override {}
  void addScriptMessageHandler(const std::string&, const std::string&,
                               std::function<void(const ScriptMessage&)>) override {}
  void setDelegate(WebViewDelegate* d) override {
    delegate_ = d;
    if (d) note(journal_, "web: delegate");
  }

  void terminateWebProcess() {
    if (delegate_) delegate_->webContentProcessDidTerminate();
  }

 private:
  Scheduler& scheduler_;
  Journal* journal_;
  WebViewDelegate* delegate_ = nullptr;
};

class FakeWebEngine : public WebEngine {
 public:
  FakeWebEngine(Scheduler& scheduler, Journal* journal = nullptr)
      : scheduler_(scheduler), journal_(journal) {}
  std::unique_ptr<WebView> createWebView(const WebViewConfiguration& c, int w, int h) override {
    configuration = c;
    note(journal_, "web: create " + std::to_string(w) + "x" + std::to_string(h));
    auto v = std::make_unique<FakeWebView>(scheduler_, journal_);
    last = v.get();
    return v;
  }
  FakeWebView* last = nullptr;
  WebViewConfiguration configuration;

 private:
  Scheduler& scheduler_;
  Journal* journal_;
};

class FakeNetworkMonitor : public NetworkMonitor {
 public:
  explicit FakeNetworkMonitor(Journal* journal = nullptr) : journal_(journal) {}
  void start(std::function<void(bool)> h) override {
    handler = std::move(h);
    note(journal_, "network: start");
  }
  void update(bool online) { handler(online); }
  std::function<void(bool)> handler;

 private:
  Journal* journal_;
};

class FakeProcessActivity : public ProcessActivity {
 public:
  explicit FakeProcessActivity(Journal* journal = nullptr) : journal_(journal) {}
  void begin(std::string_view reason) override { note(journal_, "activity: " + std::string(reason)); }

 private:
  Journal* journal_;
};

class FakeLoginItem : public LoginItem {
 public:
  LoginItemStatus current = LoginItemStatus::notRegistered;
  std::optional<LoginItemError> nextError;
  LoginItemStatus statusAfterRegister = LoginItemStatus::enabled;
  LoginItemStatus status() override { return current; }
  std::optional<LoginItemError> registerItem() override { return change(statusAfterRegister); }
  std::optional<LoginItemError> unregisterItem() override { return change(LoginItemStatus::notRegistered); }
  void openSettings() override {}

 private:
  std::optional<LoginItemError> change(LoginItemStatus to) {
    if (nextError) return std::exchange(nextError, std::nullopt);
    current = to;
    return std::nullopt;
  }
};

class FakeNotifier : public DesktopNotifier {
 public:
  int authorizationRequests = 0;
  struct Posted {
    std::string identifier, title, body;
  };
  std::vector<Posted> posted;
  Task<bool> requestAuthorization() override {
    ++authorizationRequests;
    co_return true;
  }
  void post(const std::string& id, const std::string& title, const std::string& body) override {
    posted.push_back({id, title, body});
  }
};

// Records every request; answers with `respond` (by default 200 and "{}"),
// after `delay` of virtual time.
class FakeTransport : public HttpTransport {
 public:
  explicit FakeTransport(Scheduler& scheduler) : scheduler_(scheduler) {}
  std::vector<HttpRequest> requests;
  std::function<HttpResult(const HttpRequest&)> respond;
  Duration delay = std::chrono::milliseconds(0);

  Task<HttpResult> send(HttpRequest request) override {
    requests.push_back(request);
    HttpResult result;
    bool waited = true;
    if (delay > Duration::zero()) waited = co_await sleepFor(scheduler_, delay);
    if (!waited) {
      result.failure.kind = HttpFailureKind::cancelled;
    } else if (respond) {
      result = respond(request);
    } else {
      result.response = HttpResponse{200, std::string("{}")};
    }
    co_return result;
  }

 private:
  Scheduler& scheduler_;
};

inline HttpResult answer(int status, std::string body = "{}") {
  return {HttpResponse{status, std::move(body)}, {}};
}
inline HttpResult noAnswer(HttpFailureKind kind, int code = 0) { return {std::nullopt, {kind, code, {}}}; }

// A request's path ("/v1/push"), one of its headers ("" when missing) and its body as JSON.
inline std::string pathOf(const HttpRequest& r) {
  auto scheme = r.url.find("://");
  auto slash = r.url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
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
