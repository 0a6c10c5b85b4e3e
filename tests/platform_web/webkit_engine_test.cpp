// The WebKitGTK engine against pages served on 127.0.0.1 by this test.
// One engine (one data folder, one network process) serves the whole file.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <filesystem>

#include "platform/linux/glib/glib_loop.h"
#include "platform/linux/web/webkit_engine.h"
#include "platform_net/test_server.h"

using namespace corvid;
using namespace corvid::linux_platform;
using namespace corvid::testing;

namespace {

struct Shared {
  std::unique_ptr<TempDir> root;
  std::unique_ptr<WebKitEngine> engine;
  std::unique_ptr<TestServer> server;
} shared;

// Run with CORVID_LIST_COOKIES=DIR, this binary is the second process of the
// persistence test: it prints the cookies of DIR's data store and exits.
class WebEnvironment : public ::testing::Environment {
  void SetUp() override {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display";
    if (const char* dir = getenv("CORVID_LIST_COOKIES")) {
      WebKitEngine engine({std::string(dir) + "/data", std::string(dir) + "/cache"});
      for (const auto& c : runOnMainLoop(engine.createWebKitView({}, 100, 100)->allCookies(), 30s))
        std::printf("%s\t%s\t%s\n", c.name.c_str(), c.domain.c_str(), c.value.c_str());
      std::fflush(stdout);
      _exit(0);
    }
    shared.root = std::make_unique<TempDir>("corvid-web");
    shared.engine = std::make_unique<WebKitEngine>(
        WebKitEngineOptions{*shared.root / "data", *shared.root / "cache", 1500ms, 3s});
    shared.server = std::make_unique<TestServer>();
  }
  void TearDown() override { shared = {}; }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new WebEnvironment);

std::unique_ptr<WebKitView> newView(bool persistent = true) {
  WebViewConfiguration configuration;
  configuration.persistentDataStore = persistent;
  return shared.engine->createWebKitView(configuration, 420, 800);
}

// Serves `html` at `path` and loads it; answers whether the load finished.
bool load(WebKitView& view, const std::string& path, std::string html = "<p>x</p>",
          std::vector<std::pair<std::string, std::string>> headers = {}) {
  shared.server->routes[path] = {200, std::move(html), std::move(headers), "text/html; charset=utf-8"};
  bool finished = false;
  auto handler = +[](WebKitWebView*, WebKitLoadEvent event, gpointer done) {
    if (event == WEBKIT_LOAD_FINISHED) *static_cast<bool*>(done) = true;
  };
  gulong id = g_signal_connect(view.webKitView(), "load-changed", G_CALLBACK(handler), &finished);
  view.load(shared.server->url(path));
  bool ok = spinUntil([&] { return finished; });
  g_signal_handler_disconnect(view.webKitView(), id);
  return ok;
}

ScriptResult call(WebKitView& view, const std::string& body, const Json& args = Json::object(),
                  const std::string& world = kPageWorld) {
  return runOnMainLoop(view.callAsyncJavaScript(body, args, world), 20s);
}

Json value(WebKitView& view, const std::string& body, const Json& args = Json::object(),
           const std::string& world = kPageWorld) {
  auto r = call(view, body, args, world);
  EXPECT_FALSE(r.failed()) << *r.error;
  return r.value.value_or(Json("<undefined>"));
}

// Waits for the answer to `body` into `out`.
Task<void> answerInto(WebKitView& view, std::optional<ScriptResult>& out, std::string body) {
  auto pending = view.callAsyncJavaScript(body, Json::object());
  out = co_await std::move(pending);
}

}  // namespace

TEST(WebKitEngine, ScriptCallsTakeJsonArgumentsAnswerJsonAndFailAfterTheTimeOutOrOnCancellation) {
  auto view = newView();
  ASSERT_TRUE(load(*view, "/blank"));
  Json args = {
      {"text", "q\"uote\n한글 😀"}, {"ratio", -2.5}, {"yes", true}, {"list", {1, nullptr, {{"x", 3}}}}};
  EXPECT_EQ(value(*view, "await 0;\nreturn {text, ratio, yes, list} // end", args), args);
  EXPECT_EQ(call(*view, "return null;").value, Json(nullptr));
  auto undefinedResult = call(*view, "const x = 1;");
  EXPECT_FALSE(undefinedResult.failed() || undefinedResult.value);
  // Lone surrogates (a cut emoji in a preview) become replacement characters.
  EXPECT_EQ(value(*view, R"(return ['ab\ud83d', '\udc00x', '\ud83d\ude00', '\\ud800'];)"),
            Json::array({"ab\xEF\xBF\xBD", "\xEF\xBF\xBDx", "\xF0\x9F\x98\x80", "\\ud800"}));
  EXPECT_NE(call(*view, "throw new TypeError('boom');").error.value_or("").find("boom"), std::string::npos);
  for (const char* failing : {"await Promise.reject(new Error('no'));", "return {a: 1n};"})
    EXPECT_TRUE(call(*view, failing).failed()) << failing;
  // Argument names that are no parameter names are refused, not pasted in.
  for (const char* name : {"bad-name", "class", "x;alert(1)", ""})
    EXPECT_TRUE(call(*view, "return 1", {{name, 1}}).failed()) << name;

  // An answer after the time-out: the call has failed, the late answer is
  // dropped, and the view goes on answering.
  EXPECT_TRUE(call(*view, "await new Promise(r => setTimeout(r, 2500)); return 1;").failed());
  spinFor(1500ms);
  EXPECT_EQ(value(*view, "return 2;"), 2);

  std::optional<ScriptResult> cancelled, orphaned;
  auto scope = spawn(answerInto(*view, cancelled, "await new Promise(() => {});"));
  spinFor(100ms);
  EXPECT_FALSE(cancelled);
  scope->cancel();  // ends the wait at once
  ASSERT_TRUE(cancelled);
  EXPECT_EQ(cancelled->error, "cancelled");

  spawn(answerInto(*view, orphaned, "await new Promise(r => setTimeout(r, 300)); return 1;"));
  view.reset();
  ASSERT_TRUE(spinUntil([&] { return orphaned.has_value(); }, 5s));
  EXPECT_TRUE(orphaned->failed());
  spinFor(600ms);  // the answer that would have come finds nobody
}

TEST(WebKitEngine, CookiesAreListedKeptForTheNextProcessAndRemoved) {
  auto view = newView();
  ASSERT_TRUE(load(*view, "/login", "<script>localStorage.setItem('k', 'v')</script>",
                   {{"Set-Cookie", "sessionid=abc123; Max-Age=3600; Path=/"}}));
  auto cookies = runOnMainLoop(view->allCookies());
  ASSERT_EQ(cookies.size(), 1u);
  EXPECT_EQ(cookies[0].name + "=" + cookies[0].value + " " + cookies[0].domain, "sessionid=abc123 127.0.0.1");
  EXPECT_TRUE(runOnMainLoop(newView(false)->allCookies()).empty());  // an ephemeral view has its own

  // This binary again, as another process on the same data folder; it
  // stops after 60 s at the latest.
  const std::string self = std::filesystem::read_symlink("/proc/self/exe");
  const gchar* argv[] = {"timeout", "60", self.c_str(), "--gtest_filter=WebKitEngine.Cookies*", nullptr};
  setenv("CORVID_LIST_COOKIES", shared.root->path().c_str(), 1);
  gchar* listed = nullptr;
  g_spawn_sync(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &listed,
               nullptr, nullptr, nullptr);
  unsetenv("CORVID_LIST_COOKIES");
  const std::string lines = listed ? listed : "";
  EXPECT_NE(lines.find("sessionid\t127.0.0.1\tabc123\n"), std::string::npos) << lines;
  g_free(listed);

  runOnMainLoop(view->removeAllWebsiteData());
  EXPECT_TRUE(runOnMainLoop(view->allCookies()).empty());
  ASSERT_TRUE(load(*view, "/plain"));
  EXPECT_EQ(value(*view, "return localStorage.getItem('k');"), nullptr);
}

TEST(WebKitEngine, ReportsAKilledWebProcessAndLoadsAgainAfterIt) {
  struct Delegate : WebViewDelegate {
    int terminations = 0;
    void webContentProcessDidTerminate() override { ++terminations; }
  } delegate;
  auto before = descendantsNamed("WebKitWebProces");
  auto view = newView();
  view->setDelegate(&delegate);
  const char* page = "<script>window.alive = 'yes'</script>";
  ASSERT_TRUE(load(*view, "/alive", page));
  int killed = 0;
  for (pid_t pid : descendantsNamed("WebKitWebProces")) {
    if (!before.count(pid)) killed += kill(pid, SIGKILL) == 0;  // a web process of this view
  }
  ASSERT_GT(killed, 0);
  ASSERT_TRUE(spinUntil([&] { return delegate.terminations > 0; }, 5s));
  EXPECT_EQ(delegate.terminations, 1);
  ASSERT_TRUE(load(*view, "/alive", page));
  EXPECT_EQ(value(*view, "return window.alive;"), "yes");
}

TEST(WebKitEngine, HiddenPagesKeepFullRateTimersAndMoveIntoAWindowWithoutReload) {
  auto view = newView();
  const char* page = "<script>marker = Math.random(); ticks = 0; setInterval(() => ticks++, 100)</script>";
  ASSERT_TRUE(load(*view, "/timers", page));
  auto ticksIn2s = [&] {
    int start = value(*view, "return window.ticks;").get<int>();
    spinFor(2s);
    return value(*view, "return window.ticks;").get<int>() - start;
  };
  const std::string state =
      "return [window.marker, innerWidth, performance.getEntriesByType('navigation').length];";
  Json first = value(*view, state);
  EXPECT_EQ(first[1], 420);    // the frame size, though no window shows it
  EXPECT_GE(ticksIn2s(), 12);  // ~20 at full rate; hidden-page throttling gives 2–4

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 500, 600);
  view->hostIn(GTK_CONTAINER(window));
  gtk_widget_show_all(window);
  EXPECT_TRUE(spinUntil([&] { return value(*view, state)[1] == 500; }, 5s));
  view->unhost();
  EXPECT_TRUE(spinUntil([&] { return value(*view, state)[1] == 420; }, 5s));
  EXPECT_GE(ticksIn2s(), 12);
  view->hostIn(GTK_CONTAINER(window));
  gtk_widget_destroy(window);  // hands the view back
  EXPECT_FALSE(view->hosted());
  EXPECT_EQ(value(*view, state), (Json{first[0], 420, 1}));  // the same page, never reloaded
}

TEST(WebKitEngine, MessagesNameTheWorldThatPostedThem) {
  auto view = newView();
  std::vector<ScriptMessage> received;
  auto record = [&](const ScriptMessage& m) { received.push_back(m); };
  view->addScriptMessageHandler("bridge", "WebBridge", record);
  view->addScriptMessageHandler("bridge", kPageWorld, record);
  // A page-world script that takes the port at document start, before any page code.
  view->addUserScript({"window.__port = window.webkit.messageHandlers.bridge;", InjectionTime::documentStart,
                       true, kPageWorld});
  ASSERT_TRUE(load(*view, "/worlds", "<script>window.pageGlobal = 42</script>"));
  const std::string post =
      "window.webkit.messageHandlers.bridge.postMessage({from, global: window.pageGlobal ?? null})";
  value(*view, post, {{"from", "isolated"}}, "WebBridge");
  value(*view, post, {{"from", "page"}});
  value(*view, "window.__port.postMessage('early port')");
  // The page world cannot reach the isolated world's channel.
  EXPECT_EQ(
      value(*view,
            "const p = window.webkit.messageHandlers[name]; if (p) p.postMessage('forged'); return !!p;",
            {{"name", WebKitView::messageChannel("bridge", "WebBridge")}}),
      false);
  view->addScriptMessageHandler("late", "WebBridge", record);  // works at once on the loaded page
  value(*view, "window.webkit.messageHandlers.late.postMessage('late')", {}, "WebBridge");
  ASSERT_TRUE(spinUntil([&] { return received.size() >= 4; }, 5s));
  spinFor(200ms);
  std::string got;
  for (const auto& m : received) got += m.world + " " + m.body.dump() + "\n";
  // The page world's name is the empty one.
  EXPECT_EQ(got, R"(WebBridge {"from":"isolated","global":null}
 {"from":"page","global":42}
 "early port"
WebBridge "late"
)");
}
