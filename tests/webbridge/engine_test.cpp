// WebBridge inside a real WebKitGTK web view under Xvfb. Pages are loaded
// with loadHTML against a 127.0.0.1 base URL; nothing is fetched.
#include <gtest/gtest.h>
#include <gtkmm/main.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/glib/glib_loop.h"
#include "platform_glib/test_support.h"
#include "webbridge/gtk/bridged_web_view.h"
#include "webbridge/gtk/web_bridge.h"

using namespace webbridge;
using namespace std::chrono_literals;
using corvid::linux_platform::runOnMainLoop;
using corvid::testing::spinFor;
using corvid::testing::spinUntil;
using Value = FieldRule::Value;
using Kind = BridgeEvent::Kind;

namespace {

constexpr const char* kBase = "http://127.0.0.1:9/dir/page.html";

std::string page(const std::string& body) {
  return "<!doctype html><html lang=ko><head><meta charset=utf-8></head><body>" + body + "</body></html>";
}

// One bridge, its web view in a toplevel (for a real layout) and the events
// it accepted.
struct Harness {
  explicit Harness(WebBridgeOptions options) : bridge(std::make_shared<WebBridge>(std::move(options))) {
    bridge->onEvent = [this](const BridgeEvent& e) {
      if (!e.message()) events.push_back(e);
      if (e.message()) customs[e.message()->name] = e.message()->payload;
    };
    view = GRef<WebKitWebView>::sink(bridge->makeWebView(GdkRectangle{0, 0, 800, 600}));
    gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view.get()));
    gtk_widget_show_all(window);
  }
  ~Harness() { gtk_widget_destroy(window); }
  void load(const std::string& body) { webkit_web_view_load_html(view.get(), page(body).c_str(), kBase); }
  bool waitFor(std::size_t n) {
    return spinUntil([&] { return events.size() >= n; }, 5s);
  }
  // Runs `js` in the page's own world.
  void run(const std::string& js) {
    webkit_web_view_evaluate_javascript(view.get(), js.c_str(), -1, nullptr, nullptr, nullptr, nullptr,
                                        nullptr);
  }

  std::shared_ptr<WebBridge> bridge;
  GRef<WebKitWebView> view;
  GtkWidget* window = gtk_offscreen_window_new();
  std::vector<BridgeEvent> events;             // snapshots, patches, missing reports
  std::map<std::string, std::string> customs;  // custom messages: name to payload
};

class Engine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gtk_init(nullptr, nullptr);
    Gtk::Main::init_gtkmm_internals();
  }
};

}  // namespace

TEST_F(Engine, PatchesFollowTheTargetAndItsLoss) {
  Harness h(WebBridgeOptions("#t", true, 0.3));
  // A second install into the same manager is refused: still one observer.
  h.bridge->install(webkit_web_view_get_user_content_manager(h.view.get()));
  // 2^32 + 10 ms: a browser timer takes that as 10 ms unless it is capped.
  Harness slow(WebBridgeOptions("#t", true, 4294967.306));
  slow.load("<div id=t>1</div>");
  h.load("<main><div id=t>same</div></main><p id=o>before</p>");
  ASSERT_TRUE(h.waitFor(1) && slow.waitFor(1));
  EXPECT_EQ(h.events[0].capture()->html, "<div id=\"t\">same</div>");
  EXPECT_EQ(h.events[0].capture()->pageURL, kBase);
  slow.run("t.textContent = '2';");
  h.run("o.textContent = 'after'; t.textContent = 'same';");
  spinFor(600ms);
  EXPECT_EQ(h.events.size(), 1u);  // the target's HTML is unchanged

  // Ten changes within one window: one patch at its end.
  h.run("for (let i = 0; i < 10; i++) setTimeout(() => t.append(i), i * 10);");
  ASSERT_TRUE(h.waitFor(2));
  spinFor(500ms);
  ASSERT_EQ(h.events.size(), 2u);
  EXPECT_EQ(h.events[1].kind(), Kind::patch);
  EXPECT_EQ(h.events[1].capture()->html, "<div id=\"t\">same0123456789</div>");

  // The target's loss is reported once; its return is a patch even with
  // the content as before.
  h.run("t.remove();");
  ASSERT_TRUE(h.waitFor(3));
  EXPECT_EQ(h.events[2], BridgeEvent::missing("#t", 3));
  EXPECT_TRUE(h.bridge->isTargetMissing());
  h.run("document.querySelector('main').append('x');");
  spinFor(600ms);
  EXPECT_EQ(h.events.size(), 3u);
  h.run("document.querySelector('main').innerHTML = '<div id=t>same0123456789</div>';");
  ASSERT_TRUE(h.waitFor(4));
  EXPECT_EQ(h.events[3].kind(), Kind::patch);
  EXPECT_FALSE(h.bridge->isTargetMissing());
  EXPECT_EQ(slow.events.size(), 1u);  // the capped window has not ended
}

TEST_F(Engine, FieldsAndRowsReadThePage) {
  WebBridgeOptions options("#list", true, 0.05);
  options.omit = {"script", ".noise"};
  options.includeText = true;
  options.maxHTMLLength = 500;
  options.fields = {
      {"link", FieldRule("a.rel", Value::attribute("href"))},
      {"noHref", FieldRule("a.bare", Value::attribute("href"))},
      {"noSrc", FieldRule("img", Value::attribute("src"))},
      {"lang", FieldRule("", Value::attribute("lang"))},
      {"title", FieldRule("h1")},
      {"port", FieldRule("#port")},
      {"noise", FieldRule(".noise")},
      {"deep", FieldRule("#deep", Value::position())},
  };
  options.rows = {
      {"items", RowRule("li.item",
                        {{"name", FieldRule(".name")},
                         {"id", FieldRule("", Value::attribute("data-id"))},
                         {"section", FieldRule("h2", Value::text(), false, 0, std::nullopt, true)},
                         {"list", FieldRule("", Value::attribute("id"), false, 0, "ul")}},
                        2)}};
  Harness h(options);
  h.load(R"html(<style>body{margin:0}</style>
    <div id=scroller style="height:50px;overflow:auto"><div style="height:200px"></div><div id=deep>d</div></div>
    <script>scroller.scrollTop = 30;</script>
    <h1> Hello
       <i>world</i> </h1>
    <a class=rel href="/x">x</a><a class=bare>y</a><img>
    <p id=port></p>
    <script>port.textContent = typeof (window.webkit && webkit.messageHandlers.webBridge) + typeof WebBridge;</script>
    <h2>First</h2>
    <ul id=list>
      <li class=item data-id=1><span class=name>A</span><span>a</span></li>
      <li class=item><span class=name>B</span></li>
      <li class=item data-id=3><span class=name>C</span></li>
      <li class=noise>noise</li>
    </ul>)html");
  ASSERT_TRUE(h.waitFor(1));
  const DOMSnapshot& s = *h.events[0].capture();
  EXPECT_EQ(s.value("link"), "http://127.0.0.1:9/x");
  EXPECT_EQ(s.value("noHref"), std::nullopt);
  EXPECT_EQ(s.value("noSrc"), std::nullopt);
  EXPECT_EQ(s.value("lang"), "ko");  // "" at document level is the document element
  EXPECT_EQ(s.value("title"), "Hello world");
  EXPECT_EQ(s.value("port"), "undefinedundefined");  // no page API, no port in the page's world
  EXPECT_EQ(s.value("deep"), "200");                 // from the document's top, however scrolled
  using Row = std::map<std::string, std::string>;
  EXPECT_EQ(s.rows.at("items"),
            (std::vector<Row>{{{"name", "A"}, {"id", "1"}, {"section", "First"}, {"list", "list"}},
                              {{"name", "B"}, {"section", "First"}, {"list", "list"}}}));
  EXPECT_EQ(s.html.find("noise"), std::string::npos);  // omitted from the copy,
  EXPECT_EQ(s.value("noise"), "noise");                // not from the page

  // Over the length limit the HTML is dropped, and patches follow the text,
  // fields and rows instead.
  h.run("list.firstElementChild.append('x'.repeat(500));");
  ASSERT_TRUE(h.waitFor(2));
  EXPECT_EQ(h.events[1].capture()->html, "");
  EXPECT_TRUE(h.events[1].capture()->isTruncated);
  EXPECT_NE(h.events[1].capture()->text->find(std::string(500, 'x')), std::string::npos);
  h.run("document.querySelector('h1').textContent = 'Bye';");
  ASSERT_TRUE(h.waitFor(3));
  EXPECT_EQ(h.events[2].capture()->value("title"), "Bye");
}

// The page API both ways, and what a page script may try against the
// bridge's own world: every handler name it can find or guess. Then pull,
// send and streams.
TEST_F(Engine, PageAPIForgedMessagesAndPull) {
  WebBridgeOptions options("#t", true, 0.05);
  options.exposeToPage = true;
  Harness h(options);
  EventStream stream = h.bridge->events();
  h.load(R"(<div id=t><b>real</b></div><script>
    const off = WebBridge.on(() => WebBridge.send('removed listener called'));
    off();
    WebBridge.on(() => { throw new Error('a listener that fails'); });
    WebBridge.on((name, payload) => WebBridge.send('echo:' + name, payload));
    WebBridge.send(5, {a: [1, 'x']});
    // Posts forged captures under every handler name found or guessed;
    // answers the names that took them.
    window.forge = () => ['webBridge', 'webBridgeIsolatedWorld', 'WebBridge',
                          ...Object.getOwnPropertyNames(webkit.messageHandlers)].filter((n) => {
      try {
        for (const type of ['snapshot', 'patch', 'missing'])
          webkit.messageHandlers[n].postMessage({v: 1, type, seq: 99, selector: '#t', html: 'FORGED'});
        return true;
      } catch (e) {
        return false;
      }
    });
    WebBridge.send('probe', forge());
  </script>)");
  auto next = [](EventStream& s) -> corvid::Task<std::optional<BridgeEvent>> { co_return co_await s.next(); };
  EXPECT_TRUE(runOnMainLoop(next(stream), 5s));
  ASSERT_TRUE(spinUntil([&] { return h.customs.count("probe") && h.bridge->snapshot(); }, 5s));
  EXPECT_EQ(h.customs["5"], R"({"a":[1,"x"]})");
  EXPECT_EQ(h.customs["probe"], R"(["webBridge"])");

  runOnMainLoop(h.bridge->send("list", std::vector<int>{1, 2}));
  h.run("WebBridge.send('probe again', forge()); t.textContent = 'changed';");
  ASSERT_TRUE(spinUntil([&] { return h.customs.count("echo:list") && h.customs.count("probe again"); }, 5s));
  spinFor(300ms);
  EXPECT_EQ(h.customs["echo:list"], "[1,2]");
  EXPECT_EQ(h.customs["probe again"], R"(["webBridge"])");  // with the observer running
  EXPECT_EQ(h.customs.count("removed listener called"), 0u);
  ASSERT_EQ(h.events.size(), 2u);  // nothing forged came through
  EXPECT_EQ(h.events[0].capture()->html, "<div id=\"t\"><b>real</b></div>");
  EXPECT_EQ(h.events[1].capture()->html, "<div id=\"t\">changed</div>");

  EXPECT_EQ(runOnMainLoop(h.bridge->pull()), "<div id=\"t\">changed</div>");
  EXPECT_EQ(runOnMainLoop(h.bridge->pull("#none")), std::nullopt);
  EXPECT_THROW(runOnMainLoop(h.bridge->pull("[[", WebBridgePullFormat::innerText)), EngineError);
  EXPECT_THROW(runOnMainLoop(h.bridge->pull("\xff")), std::invalid_argument);
  EXPECT_THROW(runOnMainLoop(h.bridge->send("x", Json("\xff"))), Json::type_error);
  h.bridge.reset();
  EXPECT_TRUE(stream.isFinished());
  h.run("WebBridge.send('late'); t.textContent = 'later';");  // the handler stays and ignores them
  spinFor(200ms);
}

TEST_F(Engine, OwnViewsAndBridgedWebView) {
  WebBridgeOptions options("#t");
  options.observe = false;
  auto bridge = std::make_shared<WebBridge>(options);
  std::vector<BridgeEvent> events;
  bridge->onEvent = [&](const BridgeEvent& e) { events.push_back(e); };
  EXPECT_THROW(runOnMainLoop(bridge->pull()), std::system_error);  // no web view yet
  // A new view nobody holds yet stays floating through pull and send; once
  // it is gone the bridge knows no web view again.
  WebKitWebView* floating = bridge->makeWebView();
  webkit_web_view_load_html(floating, page("<div id=t>f</div>").c_str(), kBase);
  ASSERT_TRUE(spinUntil([&] { return events.size() == 1; }, 5s));
  EXPECT_EQ(runOnMainLoop(bridge->pull(std::nullopt, WebBridgePullFormat::innerText)), "f");
  runOnMainLoop(bridge->send("x", Json()));
  EXPECT_TRUE(g_object_is_floating(floating));
  GRef<WebKitWebView>::sink(floating);  // taken over and dropped at once
  EXPECT_EQ(bridge->webView(), nullptr);
  EXPECT_THROW(runOnMainLoop(bridge->send("x", Json())), std::system_error);

  // The widget loads again only when the content changes. Not observing,
  // the bridge does not report the change after load.
  const auto a = BridgedWebView::Content::html(
      page("<div id=t>a</div><script>setTimeout(() => { t.textContent = 'z'; }, 20);</script>"), kBase);
  auto* widget = Gtk::manage(new BridgedWebView(bridge, a));
  GtkWidget* window = gtk_offscreen_window_new();
  gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(widget->gobj()));
  gtk_widget_show_all(window);
  ASSERT_TRUE(spinUntil([&] { return events.size() == 2; }, 5s));
  widget->setContent(a);
  spinFor(300ms);
  EXPECT_EQ(events.size(), 2u);
  // A page without the target: one missing report, at start.
  widget->setContent(BridgedWebView::Content::html(page("<p>none</p>"), kBase));
  ASSERT_TRUE(spinUntil([&] { return events.size() == 3; }, 5s));
  spinFor(200ms);
  EXPECT_EQ(events.size(), 3u);
  EXPECT_EQ(events[2], BridgeEvent::missing("#t", 1));
  gtk_widget_destroy(window);  // takes the gtkmm widget with it
}
