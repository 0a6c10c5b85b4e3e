// The page scripts in WebKitGTK, through the real web engine adapter, on the
// test inbox page (tests/pages) served from 127.0.0.1.
#include <glib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "page_server.h"
#include "platform/linux/glib/glib_loop.h"
#include "platform/linux/web/webkit_engine.h"
#include "scripts/page_scripts.h"

using namespace corvid;
using namespace corvid::linux_platform;
using namespace std::chrono_literals;
using corvid::testing::PageServer;

namespace {

// One engine for all tests, its data in a temporary folder.
std::string root;
std::unique_ptr<WebKitEngine> engine;

class EngineEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display";
    char* dir = g_dir_make_tmp("corvid-scripts-XXXXXX", nullptr);
    root = dir;
    g_free(dir);
    engine = std::make_unique<WebKitEngine>(WebKitEngineOptions{root + "/data", root + "/cache", 20s, 30s});
  }
  void TearDown() override {
    engine.reset();
    std::filesystem::remove_all(root);
  }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

std::unique_ptr<WebView> newView() {
  WebViewConfiguration configuration;
  configuration.persistentDataStore = false;
  return engine->createWebView(configuration, 420, 800);
}

template <class T>
T run(Task<T> task) {
  return runOnMainLoop(std::move(task), 30s);
}

// The value of a page-world script; a failed call fails the test.
Json eval(WebView& view, const std::string& body, const Json& args = Json::object()) {
  ScriptResult r = run(view.callAsyncJavaScript(body, args, kPageWorld));
  EXPECT_FALSE(r.failed()) << r.error.value_or("") << " in " << body;
  return r.value.value_or(Json());
}

// Polls `condition` (a script body answering a boolean) until it holds.
bool waitFor(WebView& view, const std::string& condition, Duration limit = 20s) {
  GLibScheduler scheduler;
  auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    ScriptResult r = run(view.callAsyncJavaScript(condition, Json::object(), kPageWorld));
    if (!r.failed() && r.value && *r.value == true) return true;
    run(sleepFor(scheduler, 100ms));
  }
  return false;
}

// Loads the test inbox and waits for its thread rows.
void openInbox(WebView& view, const PageServer& server, const std::string& query = "") {
  view.load(server.url("/direct/inbox/" + query));
  ASSERT_TRUE(waitFor(view, "return !!window.__corvidTest && window.__corvidTest.rowKeys().length > 0"));
}

Json snapshot(WebView& view) {
  auto result = run(scripts::runInboxSnapshot(view));
  return result ? *result : Json();
}

// The row of `key` in a snapshot, or null.
Json rowOf(const Json& snap, const std::string& key) {
  for (const auto& row : snap["threads"]) {
    if (row["key"] == key) return row;
  }
  return Json();
}

// Thread keys of the test model: "3402823669" followed by the index in 10 digits.
std::string threadKey(int i) {
  std::string n = std::to_string(i);
  return "3402823669" + std::string(10 - n.size(), '0') + n;
}

}  // namespace

TEST(PageScriptsInEngine, SnapshotReadsTheRelayStoreOfTheInboxPage) {
  PageServer server({"--threads", "30"});
  auto view = newView();
  openInbox(*view, server);
  Json snap = snapshot(*view);
  ASSERT_TRUE(snap.is_object());
  EXPECT_EQ(snap["source"], "connection");
  EXPECT_EQ(snap["viewerUsername"], "corvid.viewer");
  EXPECT_EQ(snap["hasNext"], true);
  EXPECT_EQ(snap["tabs"], "Primary,General,Requests");
  // The pinned thread first, then the connection's order, as the page shows it.
  Json rendered = eval(*view, "return window.__corvidTest.rowKeys()");
  ASSERT_EQ(snap["threads"].size(), 20u);
  for (size_t i = 0; i < 20; i++) EXPECT_EQ(snap["threads"][i]["key"], rendered[i]) << i;
  EXPECT_EQ(snap["threads"][0]["key"], threadKey(5));

  Json unread = rowOf(snap, threadKey(0));
  EXPECT_EQ(unread["unread"], true);
  EXPECT_EQ(unread["resolvedIsUnread"], true);
  EXPECT_EQ(unread["recent"].size(), 4u);  // 5 messages, one of them the viewer's
  EXPECT_EQ(rowOf(snap, threadKey(2))["unread"], false);
  EXPECT_EQ(rowOf(snap, threadKey(3))["username"], "friend_30");  // reached through an inbox item
}

TEST(PageScriptsInEngine, StoreChangesShowInTheNextSnapshot) {
  PageServer server({"--threads", "12"});
  auto view = newView();
  openInbox(*view, server);
  ASSERT_EQ(snapshot(*view)["source"], "connection");

  // An incoming message through the page's hook, then a reply of the viewer.
  Json id = eval(*view, "return window.__corvidTest.addIncoming({thread: key, text: 'Hello\\n  there'})",
                 {{"key", threadKey(7)}});
  Json snap = snapshot(*view);
  EXPECT_EQ(snap["threads"][1]["key"], threadKey(7));  // right below the pin
  Json row = rowOf(snap, threadKey(7));
  EXPECT_EQ(row["lastId"], "mid.$" + id.get<std::string>());
  EXPECT_EQ(row["recent"][0]["snippet"], "Hello there");
  EXPECT_EQ(row["unread"], true);
  eval(*view, "window.__corvidTest.ownReply({thread: key, text: 'ok'})", {{"key", threadKey(7)}});
  row = rowOf(snapshot(*view), threadKey(7));
  EXPECT_EQ(row["lastMine"], true);
  EXPECT_EQ(row["unread"], false);

  // A burst queued by the server reaches the page on its next poll.
  server.sendEvent({{"type", "burst"}, {"thread", threadKey(9)}, {"count", 3}, {"text", "Burst"}});
  ASSERT_TRUE(waitFor(*view, "return window.__corvidTest.applied >= 3"));
  row = rowOf(snapshot(*view), threadKey(9));
  EXPECT_EQ(row["unreadCount"], 3);
  EXPECT_EQ(row["recent"][0]["snippet"], "Burst 3");
  EXPECT_EQ(row["recent"][2]["snippet"], "Burst 1");
}

TEST(PageScriptsInEngine, AnEmptiedStoreIsLeftForTheEnvironmentThePageUsesNow) {
  PageServer server({"--threads", "6"});
  auto view = newView();
  openInbox(*view, server);
  ASSERT_EQ(snapshot(*view)["source"], "connection");
  eval(*view, "window.__firstEnv = window.__halvyRelayEnv; await window.__corvidTest.resetEnvironment()");
  Json snap = snapshot(*view);
  EXPECT_EQ(snap["threads"].size(), 6u);
  EXPECT_EQ(eval(*view, "return window.__halvyRelayEnv !== window.__firstEnv"), true);
}

TEST(PageScriptsInEngine, RefetchKeepsTheOlderThreadsBehindAFreshFirstPage) {
  PageServer server({"--threads", "40"});
  auto view = newView();
  openInbox(*view, server, "?first=10");
  // Without a snapshot first there is no environment to refetch through.
  EXPECT_EQ(run(scripts::runStoreRefetch(*view)).value_or(Json())["reason"], "no env");

  ASSERT_EQ(eval(*view, "return await window.__corvidTest.loadMore()"), true);
  ASSERT_TRUE(waitFor(*view, "return window.__corvidTest.rowKeys().length === 20"));
  ASSERT_EQ(snapshot(*view)["total"], 20);
  server.sendEvent({{"type", "message"}, {"thread", threadKey(15)}, {"text", "news"}});
  ASSERT_TRUE(waitFor(*view, "return window.__corvidTest.applied >= 1"));

  Json result = run(scripts::runStoreRefetch(*view)).value_or(Json());
  EXPECT_EQ(result["conns"], Json::parse(R"([{"fresh": 11, "appended": 10, "cursorRestored": true}])"))
      << result.dump();
  Json snap = snapshot(*view);
  EXPECT_EQ(snap["total"], 20);
  EXPECT_EQ(snap["threads"][1]["key"], threadKey(15));  // right below the pin
  ASSERT_TRUE(waitFor(*view, "return window.__corvidTest.rowKeys().length === 20"));
  // The page pages on from where it was.
  ASSERT_EQ(eval(*view, "return await window.__corvidTest.loadMore()"), true);
  EXPECT_EQ(snapshot(*view)["total"], 30);

  // A failing list query: reported, and the list stays as it was.
  eval(*view, "await fetch('/__test/config', {method: 'POST', body: JSON.stringify({failList: 'down'})})");
  result = run(scripts::runStoreRefetch(*view)).value_or(Json());
  EXPECT_EQ(result["reason"], "IGDInboxListQuery: HTTP 500 down");
  EXPECT_EQ(snapshot(*view)["total"], 30);
}

TEST(PageScriptsInEngine, BadgeReadsTheInboxLinkAndTheTitle) {
  PageServer server({"--threads", "6"});
  auto view = newView();
  openInbox(*view, server);
  EXPECT_EQ(run(scripts::runBadge(*view)), Json::parse(R"({"badge": 2, "titleCount": 2, "hasLink": true})"));
  eval(*view, "window.__corvidTest.addIncoming({thread: key})", {{"key", threadKey(4)}});
  EXPECT_EQ(run(scripts::runBadge(*view)).value_or(Json())["badge"], 3);

  // The link selector matches inbox links with a query; a login link is none.
  const std::pair<const char*, int> cases[] = {
      {R"(<a href="/direct/inbox/?x=1"><div><span> 12 </span></div></a>)", 12},
      {R"(<title>(1) Login</title><a href="/accounts/login/">Log in</a>)", -1},
  };
  for (const auto& [html, badge] : cases) {
    const std::string marker = "m" + std::to_string(badge + 1);
    view->loadHTML(std::string(html) + "<i id=" + marker + "></i>", server.url("/direct/inbox/"));
    ASSERT_TRUE(waitFor(
        *view, "return document.readyState === 'complete' && !!document.getElementById('" + marker + "')"));
    EXPECT_EQ(run(scripts::runBadge(*view)).value_or(Json())["badge"], badge) << html;
  }
}

TEST(PageScriptsInEngine, APageWithoutReactContentHasNoSnapshot) {
  PageServer server;
  auto view = newView();
  view->load(server.url("/direct/plain/"));
  ASSERT_TRUE(
      waitFor(*view, "return document.readyState === 'complete' && location.pathname === '/direct/plain/'"));
  ScriptResult raw =
      run(view->callAsyncJavaScript(scripts::inboxSnapshotSource(), scripts::snapshotArguments()));
  EXPECT_FALSE(raw.failed());
  EXPECT_EQ(raw.value, Json(nullptr));
}
