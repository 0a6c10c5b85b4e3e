// The page scripts in WebKitGTK, through the real web engine adapter, on the
// test inbox page (tests/pages) served from 127.0.0.1: the rules themselves
// are tested in node (page_scripts.test.mjs).
#include <gtest/gtest.h>

#include "page_server.h"
#include "platform/linux/glib/glib_loop.h"
#include "platform/linux/web/webkit_engine.h"
#include "platform_glib/test_support.h"
#include "scripts/page_scripts.h"

using namespace corvid;
using namespace corvid::linux_platform;
using namespace corvid::testing;

namespace {

template <class T>
T run(Task<T> task) {
  return runOnMainLoop(std::move(task), 30s);
}

Json eval(WebView& view, const std::string& body) {
  return run(view.callAsyncJavaScript(body, Json::object(), kPageWorld)).value.value_or(Json());
}

// Polls `condition` (a script body answering a boolean) until it holds.
bool waitFor(WebView& view, const std::string& condition) {
  return spinUntil([&] { return eval(view, condition) == true; }, 20s);
}

std::string threadKey(int i) {
  std::string n = std::to_string(i);
  return "3402823669" + std::string(10 - n.size(), '0') + n;
}

}  // namespace

TEST(PageScriptsInEngine, SnapshotRefetchAndBadgeOnTheInboxPage) {
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display";
  TempDir root("corvid-scripts");
  WebKitEngine engine(WebKitEngineOptions{root / "data", root / "cache", 20s, 30s});
  auto view = engine.createWebView({.persistentDataStore = false}, 420, 800);
  PageServer server({"--threads", "40"});
  view->load(server.url("/direct/inbox/?first=10"));
  ASSERT_TRUE(waitFor(*view, "return !!window.__corvidTest && window.__corvidTest.rowKeys().length > 0"));

  // The pinned thread first, then the connection, as the page shows them.
  Json snap = run(scripts::runInboxSnapshot(*view)).value_or(Json());
  EXPECT_EQ(snap["tabs"], "Primary,General,Requests");
  Json rendered = eval(*view, "return window.__corvidTest.rowKeys()");
  ASSERT_EQ(snap["threads"].size(), 10u);
  for (size_t i = 0; i < 10; i++) EXPECT_EQ(snap["threads"][i]["key"], rendered[i]) << i;
  EXPECT_EQ(snap["threads"][1]["resolvedIsUnread"], true);
  EXPECT_EQ(snap["threads"][1]["recent"].size(), 4u);      // 5 messages, one of them the viewer's
  EXPECT_EQ(snap["threads"][4]["username"], "friend_30");  // reached through an inbox item

  // A second page, then a new message: the refetched first page keeps the
  // second behind it, and the page pages on from where it was.
  ASSERT_EQ(eval(*view, "return await window.__corvidTest.loadMore()"), true);
  server.sendEvent({{"type", "message"}, {"thread", threadKey(15)}, {"text", "Hello\n  there"}});
  ASSERT_TRUE(waitFor(*view, "return window.__corvidTest.applied >= 1"));
  Json result = run(scripts::runStoreRefetch(*view)).value_or(Json());
  EXPECT_EQ(result["conns"], Json::parse(R"([{"fresh": 11, "appended": 10, "cursorRestored": true}])"))
      << result;
  snap = run(scripts::runInboxSnapshot(*view)).value_or(Json());
  EXPECT_EQ(snap["total"], 20);
  EXPECT_EQ(snap["threads"][1]["key"], threadKey(15));  // right below the pin
  EXPECT_EQ(snap["threads"][1]["recent"][0]["snippet"], "Hello there");
  ASSERT_EQ(eval(*view, "return await window.__corvidTest.loadMore()"), true);
  EXPECT_EQ(run(scripts::runInboxSnapshot(*view)).value_or(Json())["total"], 30);

  // The badge: the count the inbox link shows, and the title's.
  EXPECT_EQ(run(scripts::runBadge(*view)), Json::parse(R"({"badge": 3, "titleCount": 3, "hasLink": true})"));
  const std::pair<const char*, Json> cases[] = {
      {R"(<a href="/direct/inbox/?x=1"><div><span> 12 </span></div></a>)", {12, -1}},
      {R"(<a href="/direct/inbox/"><div aria-label="3 new notifications"></div><span>9</span></a>)", {3, -1}},
      {R"(<a href="/direct/inbox/" aria-label="Direct - 7 New Notifications"><span>2</span></a>)", {7, -1}},
      {R"(<title>(5) Instagram</title><a href="/direct/inbox/"><span>1234</span></a>)", {0, 5}},
      {R"(<title>Instagram (1)</title><a href="/accounts/login/">Log in</a>)", {-1, -1}},
  };
  int loaded = 0;  // marks each page, so that the wait does not find the one before
  for (const auto& [html, expected] : cases) {
    const std::string marker = "m" + std::to_string(++loaded);
    view->loadHTML(std::string(html) + "<i id=" + marker + "></i>", server.url("/direct/inbox/"));
    ASSERT_TRUE(waitFor(
        *view, "return document.readyState === 'complete' && !!document.getElementById('" + marker + "')"));
    Json badge = run(scripts::runBadge(*view)).value_or(Json());
    EXPECT_EQ((Json{badge["badge"], badge["titleCount"]}), expected) << html;
  }
}

TEST(PageScriptsInEngine, StoreWaitAndUnchangedAnswerFollowTheRelayStoreEpoch) {
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display";
  TempDir root("corvid-scripts");
  WebKitEngine engine(WebKitEngineOptions{root / "data", root / "cache", 20s, 30s});
  auto view = engine.createWebView({.persistentDataStore = false}, 420, 800);
  PageServer server({"--threads", "40"});
  view->load(server.url("/direct/inbox/"));
  ASSERT_TRUE(waitFor(*view, "return !!window.__corvidTest && window.__corvidTest.rowKeys().length > 0"));

  // A full read names the store and its epoch; asked about that read again,
  // the script answers "unchanged" until the store takes a write.
  Json full = run(scripts::runInboxSnapshot(*view)).value_or(Json());
  ASSERT_TRUE(full["mark"].is_string() && full["epoch"].is_number()) << full.dump().substr(0, 200);
  Json asked = scripts::snapshotArguments();
  asked["unchangedSince"] = {{"mark", full["mark"]}, {"epoch", full["epoch"]}};
  auto snapshot = [&] { return run(view->callAsyncJavaScript(scripts::inboxSnapshotSource(), asked)).value.value_or(Json()); };
  EXPECT_EQ(snapshot(), (Json{{"source", "unchanged"}, {"mark", full["mark"]}, {"epoch", full["epoch"]}}));

  // The wait runs in the page; it notes in the page when it returned, so
  // that the delay from the store write is the page's own.
  const std::string timed = "const r = await (async () => {\n" + std::string(scripts::storeWaitSource()) +
                            "\n})(); r.returnedAt = Date.now(); return r;";
  Json waitArguments = {{"since", full["epoch"]}, {"timeoutMs", 15000}, {"intervalMs", 100}};
  std::optional<ScriptResult> waited;
  spawn([](WebView& v, std::string body, Json arguments, std::optional<ScriptResult>& out) -> Task<void> {
    out = co_await v.callAsyncJavaScript(body, arguments, kPageWorld);
  }(*view, timed, waitArguments, waited));
  spinFor(700ms);
  EXPECT_FALSE(waited.has_value());  // nothing written yet
  server.sendEvent({{"type", "message"}, {"thread", threadKey(6)}, {"text", "wake up"}});
  ASSERT_TRUE(spinUntil([&] { return waited.has_value(); }, 20s));
  ASSERT_FALSE(waited->failed()) << *waited->error;
  const Json& r = *waited->value;
  EXPECT_EQ(r["state"], "changed");
  EXPECT_GT(r["epoch"].get<double>(), full["epoch"].get<double>());
  const double appliedAt = eval(*view, "return window.__corvidTest.appliedAt").get<double>();
  EXPECT_GT(appliedAt, 0);
  EXPECT_LE(r["returnedAt"].get<double>() - appliedAt, 300) << "the wait returned late";

  // After the write the same question gets a full read again.
  Json again = snapshot();
  EXPECT_EQ(again["source"], "connection");
  EXPECT_EQ(again["threads"][1]["key"], threadKey(6));
  EXPECT_EQ(run(scripts::runStoreWait(*view, r["epoch"].get<double>(), 200ms, 50ms)).value_or(Json())["state"],
            "timeout");

  // Without a Relay store there is nothing to follow; nor in a store without
  // an epoch.
  view->loadHTML("<p>no inbox here</p>", server.url("/direct/inbox/"));
  ASSERT_TRUE(waitFor(*view, "return document.readyState === 'complete' && !window.__corvidTest"));
  EXPECT_EQ(run(scripts::runStoreWait(*view, std::nullopt, 1s, 100ms)),
            Json::parse(R"({"state": "unsupported", "reason": "no store"})"));
  eval(*view, "window.__halvyRelayEnv = {getStore: () => ({}), execute() {}}; return true");
  EXPECT_EQ(run(scripts::runStoreWait(*view, std::nullopt, 1s, 100ms)),
            Json::parse(R"({"state": "unsupported", "reason": "no epoch"})"));
}
