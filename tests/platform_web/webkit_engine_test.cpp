// The WebKitGTK engine against pages served on 127.0.0.1 by this test.
// One engine (one data folder, one network process) serves the whole file.
#include <gtest/gtest.h>
#include <signal.h>

#include "platform/linux/glib/glib_loop.h"
#include "platform/linux/web/webkit_engine.h"
#include "platform_net/test_server.h"

using namespace corvid;
using namespace corvid::linux_platform;
using namespace corvid::testing;

namespace {

constexpr auto kScriptTimeout = 1500ms;
constexpr auto kLoadTimeout = 3s;

struct Shared {
  std::unique_ptr<TempDir> root;
  std::unique_ptr<WebKitEngine> engine;
  std::unique_ptr<TestServer> server;
};
Shared shared;

class WebEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display";
    shared.root = std::make_unique<TempDir>("corvid-web");
    shared.engine = std::make_unique<WebKitEngine>(WebKitEngineOptions{
        *shared.root / "data", *shared.root / "cache", kScriptTimeout, kLoadTimeout});
    shared.server = std::make_unique<TestServer>();
  }
  void TearDown() override { shared = {}; }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new WebEnvironment);

WebKitEngine& engine() { return *shared.engine; }
TestServer& server() { return *shared.server; }

void page(const std::string& path, std::string html,
          std::vector<std::pair<std::string, std::string>> headers = {}) {
  server().route(path, {200, std::move(html), std::move(headers), "text/html; charset=utf-8"});
}

// Starts a navigation and waits until it finished (successfully or not).
bool loadAndWait(WebKitView& view, const std::function<void()>& start) {
  bool finished = false;
  auto handler = +[](WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    if (event == WEBKIT_LOAD_FINISHED) *static_cast<bool*>(data) = true;
  };
  gulong id = g_signal_connect(view.webKitView(), "load-changed", G_CALLBACK(handler), &finished);
  start();
  bool ok = spinUntil([&] { return finished; });
  g_signal_handler_disconnect(view.webKitView(), id);
  return ok;
}
bool loadAndWait(WebKitView& view, const std::string& url) {
  return loadAndWait(view, [&] { view.load(url); });
}
bool loadBlank(WebKitView& view) {
  return loadAndWait(view, [&] { view.loadHTML("<p>x</p>", server().url("/")); });
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

std::unique_ptr<WebKitView> newView(bool persistent = true) {
  WebViewConfiguration configuration;
  configuration.persistentDataStore = persistent;
  return engine().createWebKitView(configuration, 420, 800);
}

}  // namespace

TEST(WebKitEngine, PageWorldSeesPageGlobalsAndElementExpandosAnIsolatedWorldOnlyTheDocument) {
  page("/globals", R"(<!doctype html><div id="row">row</div><script>
      window.pageGlobal = 42;
      document.getElementById('row')['__reactFiber$k3x9'] = {tag: 5, memoizedProps: {id: 'r1'}};
    </script>)");
  auto view = newView();
  ASSERT_TRUE(loadAndWait(*view, server().url("/globals")));
  EXPECT_EQ(view->url(), server().url("/globals"));
  EXPECT_FALSE(view->isLoading());

  const std::string probe = R"(
      const el = document.querySelector(selector);
      const key = Object.keys(el).find(k => k.startsWith('__reactFiber$'));
      return {global: window.pageGlobal ?? null, fiberProps: key ? el[key].memoizedProps.id : null,
              text: el.textContent};)";
  EXPECT_EQ(value(*view, probe, {{"selector", "#row"}}),
            (Json{{"global", 42}, {"fiberProps", "r1"}, {"text", "row"}}));
  // Element full-screen is off unless the configuration asks for it.
  const std::string fullscreen = "return typeof document.documentElement.requestFullscreen;";
  EXPECT_EQ(value(*view, fullscreen), "undefined");
  WebViewConfiguration withFullscreen;
  withFullscreen.elementFullscreenEnabled = true;
  auto other = engine().createWebKitView(withFullscreen, 420, 800);
  ASSERT_TRUE(loadBlank(*other));
  EXPECT_EQ(value(*other, fullscreen), "function");
  EXPECT_EQ(value(*view, probe, {{"selector", "#row"}}, "Isolated"),
            (Json{{"global", nullptr}, {"fiberProps", nullptr}, {"text", "row"}}));
}

TEST(WebKitEngine, ArgumentsArriveAsVariablesAndResultsComeBackAsJson) {
  auto view = newView();
  ASSERT_TRUE(loadBlank(*view));

  Json args = {{"text", "q\"uote\n한글 😀"},
               {"count", 3000},
               {"ratio", -2.5},
               {"yes", true},
               {"no", false},
               {"nothing", nullptr},
               {"nested", {{"list", {1, "two", {{"three", 3}}}}, {"flag", true}}}};
  EXPECT_EQ(value(*view, "return {text, count, ratio, yes, no, nothing, nested};", args), args);
  EXPECT_EQ(
      value(*view, "return [typeof yes, typeof count, Array.isArray(nested.list), arguments.length];", args),
      Json::parse(R"(["boolean", "number", true, 7])"));
  // The body's own `await`, and a last-line comment.
  EXPECT_EQ(value(*view, "await new Promise(r => setTimeout(r, 10));\nreturn 'late' // done"), "late");

  auto undefinedResult = call(*view, "const x = 1;");
  EXPECT_FALSE(undefinedResult.failed());
  EXPECT_FALSE(undefinedResult.value);
  auto nullResult = call(*view, "return null;");
  ASSERT_TRUE(nullResult.value);
  EXPECT_TRUE(nullResult.value->is_null());
  EXPECT_EQ(nullResult.object(), nullptr);
  EXPECT_NE(call(*view, "return {a: 1};").object(), nullptr);
  // A string with a lone surrogate, as a cut emoji in a preview would give.
  EXPECT_EQ(value(*view, "return '\\ud83d' + 'x';"), "\xEF\xBF\xBDx");

  auto thrown = call(*view, "throw new TypeError('boom');");
  ASSERT_TRUE(thrown.failed());
  EXPECT_NE(thrown.error->find("boom"), std::string::npos);
  EXPECT_FALSE(thrown.value);
  EXPECT_TRUE(call(*view, "await Promise.reject(new Error('no'));").failed());
  EXPECT_TRUE(call(*view, "return {a: 1n};").failed());  // not JSON
  EXPECT_TRUE(call(*view, "return 1", {{"bad-name", 1}}).failed());
}

TEST(WebKitEngine, CallsWithoutAnAnswerFailAfterTheTimeOutOrOnCancellation) {
  auto view = newView();
  ASSERT_TRUE(loadBlank(*view));

  auto never = call(*view, "await new Promise(() => {});");
  ASSERT_TRUE(never.failed());
  EXPECT_FALSE(never.value);

  // Answers after the time-out: the call has failed, the late answer is
  // dropped, and the view goes on answering.
  EXPECT_TRUE(call(*view, "await new Promise(r => setTimeout(r, 2500)); return 1;").failed());
  spinFor(1500ms);
  EXPECT_EQ(value(*view, "return 2;"), 2);

  // Cancelling the awaiting task ends the wait at once.
  std::optional<ScriptResult> cancelled;
  auto waiter = [&]() -> Task<void> {
    cancelled = co_await view->callAsyncJavaScript("await new Promise(() => {});", {});
  };
  auto scope = spawn(waiter());
  spinFor(100ms);
  EXPECT_FALSE(cancelled);
  scope->cancel();
  ASSERT_TRUE(cancelled);
  EXPECT_EQ(cancelled->error, "cancelled");

  // Closing the view fails its pending calls; answers that come later are
  // harmless.
  std::optional<ScriptResult> orphaned;
  auto orphan = [&]() -> Task<void> {
    orphaned =
        co_await view->callAsyncJavaScript("await new Promise(r => setTimeout(r, 300)); return 1;", {});
  };
  spawn(orphan());
  view.reset();
  ASSERT_TRUE(spinUntil([&] { return orphaned.has_value(); }, 5s));
  EXPECT_TRUE(orphaned->failed());
  spinFor(600ms);
}

TEST(WebKitEngine, ListsCookiesAndRemovesAllWebsiteData) {
  page("/login", "<script>localStorage.setItem('k', 'v')</script>",
       {{"Set-Cookie", "sessionid=abc123; Max-Age=3600; Path=/"},
        {"Set-Cookie", "csrftoken=t0k; Max-Age=3600; Path=/"}});
  page("/plain", "<p>plain</p>");
  auto view = newView();
  ASSERT_TRUE(loadAndWait(*view, server().url("/login")));
  auto cookies = runOnMainLoop(view->allCookies());
  auto session = std::find_if(cookies.begin(), cookies.end(), [](auto& c) { return c.name == "sessionid"; });
  ASSERT_NE(session, cookies.end());
  EXPECT_EQ(session->value, "abc123");
  EXPECT_EQ(session->domain, "127.0.0.1");

  // An ephemeral view keeps its cookies to itself.
  auto ephemeral = newView(false);
  EXPECT_TRUE(runOnMainLoop(ephemeral->allCookies()).empty());

  runOnMainLoop(view->removeAllWebsiteData());
  EXPECT_TRUE(runOnMainLoop(view->allCookies()).empty());
  ASSERT_TRUE(loadAndWait(*view, server().url("/plain")));
  EXPECT_EQ(value(*view, "return localStorage.getItem('k');"), nullptr);
}

TEST(WebKitEngine, CookiesPersistForTheNextProcess) {
  page("/persist", "<p>ok</p>", {{"Set-Cookie", "kept=from-first-process; Max-Age=3600; Path=/"}});
  auto view = newView();
  ASSERT_TRUE(loadAndWait(*view, server().url("/persist")));

  const gchar* argv[] = {CORVID_COOKIE_LISTER, nullptr, nullptr, nullptr};
  std::string data = *shared.root / "data", cache = *shared.root / "cache";
  argv[1] = data.c_str();
  argv[2] = cache.c_str();
  GError* error = nullptr;
  GSubprocess* child = g_subprocess_newv(argv, G_SUBPROCESS_FLAGS_STDOUT_PIPE, &error);
  ASSERT_TRUE(child) << error->message;
  struct Out {
    bool done = false;
    std::string text;
  } out;
  g_subprocess_communicate_utf8_async(
      child, nullptr, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        auto* o = static_cast<Out*>(data);
        char* text = nullptr;
        if (g_subprocess_communicate_utf8_finish(G_SUBPROCESS(source), result, &text, nullptr, nullptr) &&
            text) {
          o->text = text;
        }
        g_free(text);
        o->done = true;
      },
      &out);
  bool finished = spinUntil([&] { return out.done; }, 60s);
  if (!finished) g_subprocess_force_exit(child);  // the child we started, by its own handle
  spinUntil([&] { return out.done; }, 5s);
  g_object_unref(child);
  ASSERT_TRUE(finished);
  EXPECT_NE(out.text.find("kept\t127.0.0.1\tfrom-first-process\n"), std::string::npos) << out.text;
}

TEST(WebKitEngine, ReportsAKilledWebProcessAndLoadsAgainAfterIt) {
  struct Delegate : WebViewDelegate {
    int terminations = 0;
    void webContentProcessDidTerminate() override { ++terminations; }
  } delegate;
  page("/alive", "<script>window.alive = 'yes'</script>");
  auto before = descendantsNamed("WebKitWebProces");
  auto view = newView();
  view->setDelegate(&delegate);
  ASSERT_TRUE(loadAndWait(*view, server().url("/alive")));
  EXPECT_EQ(value(*view, "return window.alive;"), "yes");

  std::set<pid_t> added;
  for (pid_t pid : descendantsNamed("WebKitWebProces")) {
    if (!before.count(pid)) added.insert(pid);
  }
  ASSERT_FALSE(added.empty());
  for (pid_t pid : added) ASSERT_EQ(kill(pid, SIGKILL), 0);
  ASSERT_TRUE(spinUntil([&] { return delegate.terminations > 0; }, 5s));
  EXPECT_EQ(delegate.terminations, 1);

  ASSERT_TRUE(loadAndWait(*view, server().url("/alive")));
  EXPECT_EQ(value(*view, "return window.alive;"), "yes");
  view->setDelegate(nullptr);
}

TEST(WebKitEngine, MovesIntoAWindowAndBackWithoutReloadAndKeepsFullRateTimersWhileHidden) {
  page("/timers", R"(<script>
      window.marker = Math.random();
      window.ticks = 0;
      setInterval(() => window.ticks++, 100);
    </script>)");
  auto view = newView();
  ASSERT_TRUE(loadAndWait(*view, server().url("/timers")));
  auto state = [&] {
    return value(
        *view,
        "return {marker: window.marker, visible: document.visibilityState, w: innerWidth, h: innerHeight,"
        " loads: performance.getEntriesByType('navigation').length};");
  };
  auto countTicks = [&] {
    int start = value(*view, "return window.ticks;").get<int>();
    spinFor(2s);
    return value(*view, "return window.ticks;").get<int>() - start;
  };

  Json first = state();
  EXPECT_EQ(first["w"], 420);  // the frame size, though no window shows it
  EXPECT_EQ(first["h"], 800);
  EXPECT_FALSE(view->hosted());
  int hiddenTicks = countTicks();
  EXPECT_GE(hiddenTicks, 12);  // ~20 at full rate; hidden-page throttling gives 2–4
  EXPECT_LE(hiddenTicks, 30);

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_add(GTK_CONTAINER(window), box);
  gtk_window_set_default_size(GTK_WINDOW(window), 500, 600);
  view->hostIn(GTK_CONTAINER(box));
  gtk_widget_show_all(window);
  EXPECT_TRUE(view->hosted());
  EXPECT_TRUE(spinUntil([&] { return state()["w"] == 500; }, 5s));
  EXPECT_EQ(state()["marker"], first["marker"]);

  view->unhost();
  EXPECT_FALSE(view->hosted());
  EXPECT_TRUE(spinUntil([&] { return state()["w"] == 420; }, 5s));
  EXPECT_GE(countTicks(), 12);

  // A window destroyed while it shows the view hands the view back.
  view->hostIn(GTK_CONTAINER(box));
  spinFor(200ms);
  gtk_widget_destroy(window);
  EXPECT_FALSE(view->hosted());
  Json last = state();
  EXPECT_EQ(last["marker"], first["marker"]);
  EXPECT_EQ(last["loads"], 1);
  EXPECT_EQ(last["visible"], "visible");
}

TEST(WebKitEngine, MessagesNameTheWorldThatPostedThem) {
  auto view = newView();
  std::vector<ScriptMessage> received;
  auto record = [&](const ScriptMessage& m) { received.push_back(m); };
  view->addScriptMessageHandler("bridge", "WebBridge", record);
  view->addScriptMessageHandler("bridge", kPageWorld, record);
  // A page script that takes the port at document start, before any page code.
  view->addUserScript({"window.__port = window.webkit.messageHandlers.bridge;", InjectionTime::documentStart,
                       true, kPageWorld});
  ASSERT_TRUE(loadBlank(*view));

  const std::string post =
      "window.webkit.messageHandlers.bridge.postMessage({from: from, n: 1}); return true;";
  EXPECT_EQ(value(*view, post, {{"from", "isolated"}}, "WebBridge"), true);
  EXPECT_EQ(value(*view, post, {{"from", "page"}}), true);
  EXPECT_EQ(value(*view, "window.__port.postMessage('early port'); return true;"), true);
  // The page world cannot reach the isolated world's channel.
  std::string isolatedChannel = WebKitView::messageChannel("bridge", "WebBridge");
  EXPECT_EQ(
      value(*view,
            "const p = window.webkit.messageHandlers[name]; if (p) p.postMessage('forged'); return !!p;",
            {{"name", isolatedChannel}}),
      false);
  // A handler added to a loaded page works there at once.
  view->addScriptMessageHandler("late", "WebBridge", record);
  EXPECT_EQ(
      value(*view, "window.webkit.messageHandlers.late.postMessage('late'); return true;", {}, "WebBridge"),
      true);
  ASSERT_TRUE(spinUntil([&] { return received.size() >= 4; }, 5s));
  spinFor(200ms);
  ASSERT_EQ(received.size(), 4u);
  EXPECT_EQ(received[3].world, "WebBridge");
  EXPECT_EQ(received[3].body, "late");
  EXPECT_EQ(received[0].world, "WebBridge");
  EXPECT_EQ(received[0].body, (Json{{"from", "isolated"}, {"n", 1}}));
  EXPECT_EQ(received[1].world, kPageWorld);
  EXPECT_EQ(received[1].body, (Json{{"from", "page"}, {"n", 1}}));
  EXPECT_EQ(received[2].world, kPageWorld);
  EXPECT_EQ(received[2].body, "early port");
}

TEST(WebKitEngine, StopsALoadThatMakesNoProgress) {
  server().handler = [](const TestServer::Received& request) -> std::optional<TestServer::Reply> {
    if (request.path == "/stall") return std::nullopt;  // never answered
    return TestServer::Reply{404, ""};
  };
  auto view = newView();
  view->load(server().url("/stall"));
  spinFor(1s);
  EXPECT_TRUE(view->isLoading());
  EXPECT_TRUE(spinUntil([&] { return !view->isLoading(); }, kLoadTimeout + 5s));
}
