// WebBridge inside a real WebKitGTK web view under Xvfb. Pages are loaded
// with loadHTML against a 127.0.0.1 base URL; nothing is fetched.
#include <gtest/gtest.h>
#include <gtkmm/main.h>
#include <jsc/jsc.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/glib/glib_loop.h"
#include "webbridge/gtk/bridged_web_view.h"
#include "webbridge/gtk/web_bridge.h"

using namespace webbridge;
using namespace std::chrono_literals;
using Value = FieldRule::Value;

namespace {

constexpr const char* kBase = "http://127.0.0.1:9/dir/page.html";

// Runs the main loop until `done` answers true or `limit` passes.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
  }
  return true;
}

void runFor(std::chrono::milliseconds d) {
  waitUntil([] { return false; }, d);
}

// Evaluates `js` in the page's own world and answers its value as JSON.
Json evalPage(WebKitWebView* view, const std::string& js) {
  struct Result {
    bool done = false;
    Json value;
  } result;
  webkit_web_view_evaluate_javascript(
      view, js.c_str(), -1, nullptr, nullptr, nullptr,
      [](GObject* source, GAsyncResult* res, gpointer data) {
        auto* r = static_cast<Result*>(data);
        GError* error = nullptr;
        JSCValue* v = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), res, &error);
        if (error) {
          r->value = Json{{"error", error->message}};
          g_error_free(error);
        } else {
          char* text = jsc_value_to_json(v, 0);
          r->value = text ? Json::parse(text) : Json();
          g_free(text);
          g_object_unref(v);
        }
        r->done = true;
      },
      &result);
  EXPECT_TRUE(waitUntil([&] { return result.done; }));
  return result.value;
}

std::string page(const std::string& body) {
  return "<!doctype html><html><head><meta charset=utf-8><style>body{margin:0}</style></head><body>" + body +
         "</body></html>";
}

// One bridge, its web view and the events it accepted.
class Harness {
 public:
  explicit Harness(WebBridgeOptions options) : bridge(std::make_shared<WebBridge>(std::move(options))) {
    bridge->onEvent = [this](const BridgeEvent& e) { events.push_back(e); };
    view = GRef<WebKitWebView>::sink(bridge->makeWebView(GdkRectangle{0, 0, 800, 600}));
    // A toplevel gives the page a real layout (sizes, positions).
    window = gtk_offscreen_window_new();
    gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view.get()));
    gtk_widget_show_all(window);
  }
  ~Harness() {
    bridge.reset();
    if (window) gtk_widget_destroy(window);
  }

  void load(const std::string& html) { webkit_web_view_load_html(view.get(), html.c_str(), kBase); }

  std::vector<const BridgeEvent*> ofKind(BridgeEvent::Kind kind) const {
    std::vector<const BridgeEvent*> out;
    for (const auto& e : events) {
      if (e.kind() == kind) out.push_back(&e);
    }
    return out;
  }
  bool waitForEvents(std::size_t count, std::chrono::milliseconds limit = 5000ms) {
    return waitUntil([&] { return events.size() >= count; }, limit);
  }
  const CustomMessage* custom(const std::string& name) const {
    for (const auto& e : events) {
      if (e.message() && e.message()->name == name) return e.message();
    }
    return nullptr;
  }
  Json eval(const std::string& js) { return evalPage(view.get(), js); }

  std::shared_ptr<WebBridge> bridge;
  GRef<WebKitWebView> view;
  GtkWidget* window = nullptr;
  std::vector<BridgeEvent> events;
};

WebBridgeOptions quick(std::string selector) {
  WebBridgeOptions options(std::move(selector));
  options.throttle = 0.05;
  return options;
}

class Engine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gtk_init(nullptr, nullptr);
    Gtk::Main::init_gtkmm_internals();
  }
};

}  // namespace

TEST_F(Engine, WithoutObservingAPageLoadGivesOneMessage) {
  WebBridgeOptions options = quick("#t");
  options.observe = false;
  Harness h(options);
  // A second install into the same manager is refused: still one observer.
  h.bridge->install(webkit_web_view_get_user_content_manager(h.view.get()));
  h.load(page("<div id=t>one</div><script>setTimeout(() => { t.textContent = 'two'; }, 20);</script>"));
  ASSERT_TRUE(h.waitForEvents(1));
  runFor(400ms);
  ASSERT_EQ(h.events.size(), 1u);
  EXPECT_EQ(h.events[0].kind(), BridgeEvent::Kind::snapshot);
  EXPECT_EQ(h.events[0].capture()->html, "<div id=\"t\">one</div>");
  EXPECT_EQ(h.events[0].capture()->sequence, 1);
  EXPECT_EQ(h.events[0].capture()->pageURL, kBase);

  // A page without the target: exactly one missing report, at start.
  h.events.clear();
  h.load(page("<p>nothing</p>"));
  ASSERT_TRUE(h.waitForEvents(1));
  runFor(300ms);
  ASSERT_EQ(h.events.size(), 1u);
  EXPECT_EQ(h.events[0], BridgeEvent::missing("#t", 1));
  EXPECT_TRUE(h.bridge->isTargetMissing());
}

TEST_F(Engine, MutationsInOneWindowBecomeOnePatchAtItsEnd) {
  WebBridgeOptions options("#t", true, 0.5);
  Harness h(options);
  h.load(page("<ul id=t></ul>"));
  ASSERT_TRUE(h.waitForEvents(1));
  Json first = h.eval(R"(
    var start = Date.now();
    for (let i = 0; i < 10; i++) setTimeout(() => t.insertAdjacentHTML('beforeend', '<li>' + i + '</li>'), i * 10);
    start;)");
  ASSERT_TRUE(h.waitForEvents(2));
  runFor(700ms);
  auto patches = h.ofKind(BridgeEvent::Kind::patch);
  ASSERT_EQ(patches.size(), 1u);
  const DOMSnapshot& patch = *patches[0]->capture();
  EXPECT_NE(patch.html.find("<li>9</li>"), std::string::npos);
  auto waited =
      std::chrono::duration_cast<std::chrono::milliseconds>(patch.timestamp.time_since_epoch()).count() -
      first.get<std::int64_t>();
  EXPECT_GE(waited, 499);
  EXPECT_LT(waited, 1500);
  EXPECT_EQ(patch.sequence, 2);
  EXPECT_EQ(h.bridge->snapshot(), patch);
}

TEST_F(Engine, OnlyAChangeOfTheTargetHTMLIsAPatch) {
  WebBridgeOptions options = quick("#t");
  options.fields.emplace("outside", FieldRule("#o"));
  Harness h(options);
  h.load(page("<div id=t>same</div><p id=o>before</p>"));
  ASSERT_TRUE(h.waitForEvents(1));
  EXPECT_EQ(h.events[0].capture()->value("outside"), "before");
  h.eval("o.textContent = 'after'; t.textContent = 'same';");
  runFor(400ms);
  EXPECT_EQ(h.events.size(), 1u);  // the target's HTML is unchanged
  h.eval("t.textContent = 'changed';");
  ASSERT_TRUE(h.waitForEvents(2));
  EXPECT_EQ(h.events[1].kind(), BridgeEvent::Kind::patch);
  EXPECT_EQ(h.events[1].capture()->value("outside"), "after");
}

TEST_F(Engine, HTMLOverTheLimitIsDroppedAndPatchesFollowTheFields) {
  WebBridgeOptions options = quick("#t");
  options.maxHTMLLength = 100;
  options.includeText = true;
  options.fields.emplace("n", FieldRule("#n"));
  Harness h(options);
  // <div id="t">…</div> is 18 code units around the content: 132 x's make 150.
  h.load(page("<div id=t>" + std::string(132, 'x') + "</div><b id=n>1</b>"));
  ASSERT_TRUE(h.waitForEvents(1));
  const DOMSnapshot& first = *h.events[0].capture();
  EXPECT_EQ(first.html, "");
  EXPECT_TRUE(first.isTruncated);
  EXPECT_EQ(first.text, std::string(132, 'x'));
  EXPECT_EQ(h.eval("t.outerHTML.length"), 150);
  h.eval("n.textContent = '2';");
  ASSERT_TRUE(h.waitForEvents(2));
  EXPECT_EQ(h.events[1].capture()->value("n"), "2");
  EXPECT_TRUE(h.events[1].capture()->isTruncated);
}

TEST_F(Engine, AMissingTargetIsReportedOnceAndComesBackAsAPatch) {
  Harness h(quick("#t"));
  h.load(page("<main><div id=t>here</div></main>"));
  ASSERT_TRUE(h.waitForEvents(1));
  h.eval("t.remove();");
  ASSERT_TRUE(h.waitForEvents(2));
  EXPECT_EQ(h.events[1].kind(), BridgeEvent::Kind::missing);
  EXPECT_TRUE(h.bridge->isTargetMissing());
  EXPECT_EQ(h.bridge->snapshot()->html, "<div id=\"t\">here</div>");
  h.eval("document.querySelector('main').append(document.createElement('span'));");
  runFor(300ms);
  EXPECT_EQ(h.events.size(), 2u);
  h.eval("document.querySelector('main').insertAdjacentHTML('beforeend', '<div id=t>here</div>');");
  ASSERT_TRUE(h.waitForEvents(3));
  EXPECT_EQ(h.events[2].kind(), BridgeEvent::Kind::patch);  // even though the content is as before
  EXPECT_FALSE(h.bridge->isTargetMissing());
}

TEST_F(Engine, FieldsAndRowsReadThePage) {
  WebBridgeOptions options = quick("#list");
  options.omit = {"script", ".noise"};
  options.fields = {
      {"link", FieldRule("a.rel", Value::attribute("href"))},
      {"noHref", FieldRule("a.bare", Value::attribute("href"))},
      {"title", FieldRule("h1")},
      {"color", FieldRule("h1", Value::style("color"))},
      {"names", FieldRule("li .name", Value::text(), true)},
      {"second", FieldRule("li span", Value::text(), false, 1)},
      {"deep", FieldRule("#deep", Value::position())},
      {"inner", FieldRule("h1", Value::html())},
  };
  options.rows = {
      {"items", RowRule("li.item",
                        {{"name", FieldRule(".name")},
                         {"id", FieldRule("", Value::attribute("data-id"))},
                         {"section", FieldRule("h2", Value::text(), false, 0, std::nullopt, true)},
                         {"list", FieldRule("", Value::attribute("id"), false, 0, "ul")}},
                        2)}};
  Harness h(options);
  h.load(page(R"html(
    <h1 style="color: rgb(255, 0, 0)">  Hello
       <i>world</i>  </h1>
    <a class=rel href="/x">x</a><a class=bare>y</a>
    <h2>First</h2>
    <ul id=list>
      <li class=item data-id=1><span class=name>A</span><span>a</span></li>
      <li class=item><span class=name>B</span></li>
      <li class=item data-id=3><span class=name>C</span></li>
      <li class=item data-id=4><span class=name>D</span></li>
      <li class=item data-id=5><span class=name>E</span></li>
      <li class=noise>noise</li>
    </ul>
    <div style="height:100px"></div>
    <div id=scroller style="height:50px;overflow:auto"><div style="height:200px"></div><div id=deep>d</div></div>
    <script>scroller.scrollTop = 30;</script>)html"));
  ASSERT_TRUE(h.waitForEvents(1));
  const DOMSnapshot& s = *h.events[0].capture();
  EXPECT_EQ(s.value("link"), "http://127.0.0.1:9/x");
  EXPECT_EQ(s.value("noHref"), std::nullopt);
  EXPECT_EQ(s.value("title"), "Hello world");
  EXPECT_EQ(s.value("color"), "rgb(255, 0, 0)");
  EXPECT_EQ(s.fields.at("names"), std::vector<std::string>({"A", "B", "C", "D", "E"}));
  EXPECT_EQ(s.value("second"), "a");
  EXPECT_EQ(s.value("inner"), h.eval("document.querySelector('h1').innerHTML"));
  // The #list block sits above; whatever its height, #deep is 200 px below
  // the scroller's top, scrolled or not.
  Json scrollerTop = h.eval("Math.round(scroller.getBoundingClientRect().top + window.scrollY)");
  EXPECT_EQ(s.value("deep"), std::to_string(scrollerTop.get<int>() + 200));

  const auto& rows = s.rows.at("items");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (std::map<std::string, std::string>{
                         {"name", "A"}, {"id", "1"}, {"section", "First"}, {"list", "list"}}));
  EXPECT_EQ(rows[1],
            (std::map<std::string, std::string>{{"name", "B"}, {"section", "First"}, {"list", "list"}}));
  EXPECT_EQ(s.html.find("noise"), std::string::npos);                  // omitted from the copy
  EXPECT_EQ(h.eval("document.querySelectorAll('.noise').length"), 1);  // not from the page
}

TEST_F(Engine, PageAPISendsAndListens) {
  WebBridgeOptions options = quick("#t");
  options.exposeToPage = true;
  Harness h(options);
  h.load(page(R"(<div id=t></div><script>
    window.removedCalls = 0;
    const off = WebBridge.on(() => { window.removedCalls++; });
    off();
    WebBridge.on(() => { throw new Error('a listener that fails'); });
    WebBridge.on((name, payload) => WebBridge.send('echo:' + name, payload));
    WebBridge.send('hello');
    WebBridge.send(5, {a: [1, 'x']});
  </script>)"));
  ASSERT_TRUE(waitUntil([&] { return h.custom("hello") && h.custom("5") && h.bridge->snapshot(); }));
  EXPECT_EQ(h.custom("hello")->payload, "null");
  EXPECT_EQ(h.custom("hello")->sequence, 1);
  EXPECT_EQ(h.custom("5")->payload, R"({"a":[1,"x"]})");
  EXPECT_EQ(h.custom("5")->sequence, 2);
  EXPECT_EQ(h.custom("5")->pageURL, kBase);
  EXPECT_EQ(h.bridge->snapshot()->sequence, 1);  // the observer counts on its own

  corvid::linux_platform::runOnMainLoop(h.bridge->send("ping", Json{{"n", 2}}));
  corvid::linux_platform::runOnMainLoop(h.bridge->send("list", std::vector<int>{1, 2}));
  corvid::linux_platform::runOnMainLoop(h.bridge->send("none", Json()));
  ASSERT_TRUE(waitUntil([&] { return h.custom("echo:none"); }));
  EXPECT_EQ(h.custom("echo:ping")->payload, R"({"n":2})");
  EXPECT_EQ(h.custom("echo:list")->payload, "[1,2]");
  EXPECT_EQ(h.custom("echo:none")->payload, "null");
  EXPECT_EQ(h.eval("window.removedCalls"), 0);
}

TEST_F(Engine, APageCannotForgeTheObserversMessages) {
  WebBridgeOptions options = quick("#t");
  options.exposeToPage = true;
  Harness h(options);
  const std::string forge = R"(
    (function () {
      const forged = {v: 1, type: 'snapshot', seq: 99, ts: 1, href: location.href, selector: '#t',
                      html: 'FORGED', truncated: false, fields: {}, rows: {}};
      const handlers = window.webkit.messageHandlers;
      const names = new Set(['webBridge', 'webBridgeIsolatedWorld', 'WebBridge', 'webbridge']);
      for (const n of Object.getOwnPropertyNames(handlers)) names.add(n);
      for (const n in handlers) names.add(n);
      const reached = [];
      for (const n of names) {
        try {
          handlers[n].postMessage(forged);
          handlers[n].postMessage(Object.assign({}, forged, {type: 'patch'}));
          handlers[n].postMessage({v: 1, type: 'missing', selector: '#t', seq: 100});
          reached.push(n);
        } catch (e) {}
      }
      WebBridge.send('probe', {reached: reached, isolated: typeof handlers.webBridgeIsolatedWorld});
      return reached;
    })())";
  h.load(page("<div id=t>real</div><script>" + forge + "</script>"));
  ASSERT_TRUE(waitUntil([&] { return h.custom("probe") && h.bridge->snapshot(); }));
  // Once more after the observer has started.
  EXPECT_EQ(h.eval(forge), Json::array({"webBridge"}));
  h.eval("t.textContent = 'changed';");
  ASSERT_TRUE(waitUntil([&] { return h.ofKind(BridgeEvent::Kind::patch).size() == 1; }));
  runFor(200ms);

  EXPECT_EQ(h.custom("probe")->payloadObject(),
            Json({{"reached", Json::array({"webBridge"})}, {"isolated", "undefined"}}));
  EXPECT_EQ(h.bridge->snapshot()->html, "<div id=\"t\">changed</div>");
  EXPECT_FALSE(h.bridge->isTargetMissing());
  for (const auto& e : h.events) {
    EXPECT_NE(e.kind(), BridgeEvent::Kind::missing);
    if (e.capture()) {
      EXPECT_NE(e.capture()->html, "FORGED");
    }
  }
  EXPECT_EQ(h.ofKind(BridgeEvent::Kind::snapshot).size(), 1u);

  // Without the page API the page world has no port at all.
  Harness closed(quick("#t"));
  closed.load(page("<div id=t></div>"));
  ASSERT_TRUE(closed.waitForEvents(1));
  EXPECT_EQ(
      closed.eval(
          "typeof (window.webkit && window.webkit.messageHandlers.webBridge) + typeof window.WebBridge"),
      "undefinedundefined");
}

TEST_F(Engine, PullReadsThePage) {
  using corvid::linux_platform::runOnMainLoop;
  Harness h(quick("#t"));
  h.load(page("<div id=t><b>bold</b> text</div>"));
  ASSERT_TRUE(h.waitForEvents(1));
  EXPECT_EQ(runOnMainLoop(h.bridge->pull()), "<div id=\"t\"><b>bold</b> text</div>");
  EXPECT_EQ(runOnMainLoop(h.bridge->pull(std::nullopt, WebBridgePullFormat::innerHTML)), "<b>bold</b> text");
  EXPECT_EQ(runOnMainLoop(h.bridge->pull("b", WebBridgePullFormat::innerText)), "bold");
  EXPECT_EQ(runOnMainLoop(h.bridge->pull("#none", WebBridgePullFormat::innerText)), std::nullopt);
  EXPECT_THROW(runOnMainLoop(h.bridge->pull("[[", WebBridgePullFormat::innerText)), EngineError);
  EXPECT_THROW(runOnMainLoop(h.bridge->pull("\xff")), std::invalid_argument);
  EXPECT_THROW(runOnMainLoop(h.bridge->send("x", Json("\xff"))), Json::type_error);

  // Without a live web view pull and send fail with noWebView.
  WebBridge lonely(quick("#t"));
  try {
    runOnMainLoop(lonely.pull());
    ADD_FAILURE() << "pull without a web view";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code(), WebBridgeError::noWebView);
  }
  // A new view nobody holds yet stays floating through a pull; once it is
  // gone the bridge knows no web view again.
  WebKitWebView* floating = lonely.makeWebView();
  EXPECT_EQ(lonely.webView(), floating);
  webkit_web_view_load_html(floating, page("<div id=t>f</div>").c_str(), kBase);
  ASSERT_TRUE(waitUntil([&] { return lonely.snapshot().has_value(); }));
  EXPECT_EQ(runOnMainLoop(lonely.pull(std::nullopt, WebBridgePullFormat::innerText)), "f");
  EXPECT_TRUE(g_object_is_floating(floating));
  GRef<WebKitWebView>::sink(floating);  // taken over and dropped at once
  EXPECT_EQ(lonely.webView(), nullptr);
  EXPECT_THROW(runOnMainLoop(lonely.send("x", Json())), std::system_error);
}

TEST_F(Engine, StreamsDeliverAndEndWithTheBridge) {
  WebBridgeOptions options = quick("#t");
  options.exposeToPage = true;
  Harness h(options);
  EventStream stream = h.bridge->events();
  h.load(page("<div id=t>1</div>"));
  auto first = corvid::linux_platform::runOnMainLoop(
      [](EventStream& s) -> corvid::Task<std::optional<BridgeEvent>> { co_return co_await s.next(); }(stream),
      5s);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->kind(), BridgeEvent::Kind::snapshot);

  // Left unread while 400 messages arrive, a stream keeps the newest 256.
  EventStream unread = h.bridge->events();
  h.eval("for (let i = 1; i <= 400; i++) WebBridge.send('n', i);");
  ASSERT_TRUE(waitUntil([&] { return h.events.size() == 401; }));
  std::vector<BridgeEvent> got;
  unread.forEach([&](const BridgeEvent& e) { got.push_back(e); });
  ASSERT_EQ(got.size(), 256u);
  EXPECT_EQ(got.front().message()->payload, "145");
  EXPECT_EQ(got.back().message()->payload, "400");

  h.bridge.reset();
  EXPECT_TRUE(stream.isFinished());
  EXPECT_TRUE(unread.isFinished());
  // The handler stays registered and ignores what the page still posts.
  h.eval("t.textContent = 'after'; WebBridge.send('late');");
  runFor(200ms);
}

TEST_F(Engine, BridgedWebViewLoadsOnlyOnAContentChange) {
  WebBridgeOptions options = quick("#t");
  options.observe = false;
  auto bridge = std::make_shared<WebBridge>(options);
  int snapshots = 0;
  bridge->onEvent = [&](const BridgeEvent& e) { snapshots += e.kind() == BridgeEvent::Kind::snapshot; };
  auto* widget = Gtk::manage(
      new BridgedWebView(bridge, BridgedWebView::Content::html(page("<div id=t>a</div>"), kBase)));
  GtkWidget* window = gtk_offscreen_window_new();
  gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(widget->gobj()));
  gtk_widget_show_all(window);
  EXPECT_EQ(bridge->webView(), widget->webView());

  ASSERT_TRUE(waitUntil([&] { return snapshots == 1; }));
  widget->setContent(BridgedWebView::Content::html(page("<div id=t>a</div>"), kBase));
  runFor(300ms);
  EXPECT_EQ(snapshots, 1);
  widget->setContent(BridgedWebView::Content::html(page("<div id=t>b</div>"), kBase));
  ASSERT_TRUE(waitUntil([&] { return snapshots == 2; }));
  EXPECT_EQ(bridge->snapshot()->html, "<div id=\"t\">b</div>");
  EXPECT_EQ(bridge->snapshot()->sequence, 1);
  gtk_widget_destroy(window);  // takes the gtkmm widget with it
}
