// The Watcher at work: ticks over a fake inbox page, a fake relay and
// virtual time.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/watcher/fake_inbox.h"
#include "tests/watcher/harness.h"

using namespace corvid;
using namespace corvid::testing;
using namespace std::chrono_literals;

namespace {

const char* kInbox = "https://www.instagram.com/direct/inbox/";
const char* kLogin = "https://www.instagram.com/accounts/login/";

struct ReadLoop : ::testing::Test {
  WatcherHarness h;
  FakeInbox page;
  double t0 = 0;  // page time of the fixture's messages, ms

  Watcher& start(bool paired = true) {
    if (paired) h.storePairing("secret-1");
    Watcher& w = h.make();
    page.attach(h.web());
    t0 = unixMillis(h.loop.now()) - 600000;
    page.rows = {FakeInbox::thread("1", "m1", t0, Json::array())};
    return w;
  }
  // The bodies sent to `path`.
  std::vector<Json> sent(const std::string& path) const {
    std::vector<Json> out;
    for (const auto& r : h.transport.requests) {
      if (pathOf(r) == path) out.push_back(jsonOf(r));
    }
    return out;
  }
  std::vector<std::string> field(const std::string& path, const std::string& name) const {
    std::vector<std::string> out;
    for (const auto& body : sent(path)) out.push_back(body[name]);
    return out;
  }
  std::vector<std::string> pushKinds() const { return field("/v1/push", "kind"); }
  int logged(const std::string& prefix) const {
    return static_cast<int>(std::count_if(h.log.lines.begin(), h.log.lines.end(),
                                          [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
  }
  void at(const std::string& url) { h.web().currentURL = url; }
};

}  // namespace

TEST_F(ReadLoop, BaselineThenABurstWaitsForTheBadgeAndPushesOnceInTimeOrder) {
  Watcher& w = start();
  page.badge = 2;
  page.rows.push_back(FakeInbox::thread("2", "b1", t0, Json::array()));
  h.loop.advance(2s);
  EXPECT_EQ(w.sessionState(), "ok");
  EXPECT_EQ(logged("baseline: threads 2"), 1);
  EXPECT_EQ(w.igBadge(), 2);
  EXPECT_EQ(h.settings.boolValue("everWatched"), true);

  // Three messages from one friend between two reads, newest first, and the
  // viewer's own reply in the other thread; the page raises its badge later.
  page.rows[0] = FakeInbox::thread(
      "1", "a4", t0 + 3000,
      Json::array({FakeInbox::message("a4", t0 + 3000, "three"), FakeInbox::message("a3", t0 + 2000, "two"),
                   FakeInbox::message("a2", t0 + 1000, " one ")}));
  page.rows[1] = FakeInbox::thread("2", "b2", t0 + 1500, Json::array(), {{"lastMine", true}});
  h.loop.advance(2s);
  EXPECT_TRUE(pushKinds().empty());  // waiting for the badge
  page.badge = 3;
  h.loop.advance(2s);
  EXPECT_EQ(field("/v1/push", "body"), (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(sent("/v1/push")[0], (Json{{"kind", "message"},
                                       {"title", "Friend 1"},
                                       {"body", "one"},
                                       {"threadKey", "key-1"},
                                       {"username", "friend_1"},
                                       {"badge", 3},
                                       {"collapseId", collapseId("a2")}}));
  EXPECT_EQ(logged("tick: threads 2 unread 0 changed 2 new 0 events 3 burst 1 skipped mine"), 1);
  h.loop.advance(20s);  // the next reads neither repeat the messages nor send the badge alone
  EXPECT_EQ(pushKinds().size(), 3u);

  // Read on the phone: the badge drops with no new message, once.
  page.badge = 0;
  h.loop.advance(6s);
  EXPECT_EQ(pushKinds(), (std::vector<std::string>{"message", "message", "message", "badge"}));
  EXPECT_EQ(sent("/v1/push").back()["badge"], 0);
}

TEST_F(ReadLoop, OverlappingTicksDuringABadgeWaitPushOnce) {
  start();
  h.web().scriptDelay = 400ms;  // every page script takes its time
  h.loop.advance(3s);
  page.rows[0] =
      FakeInbox::thread("1", "m2", t0 + 1000, Json::array({FakeInbox::message("m2", t0 + 1000, "hi")}));
  // The badge never changes, so the first tick that sees the message waits
  // the full 1.5 s while the next ticks read the same inbox.
  h.loop.advance(20s);
  EXPECT_EQ(pushKinds(), (std::vector<std::string>{"message"}));
}

TEST_F(ReadLoop, FailedReadsFromLaunchReloadOnceAfter120sAndTurnToErrorAfter600s) {
  Watcher& w = start();
  page.storeMissing = true;
  h.loop.advance(2s);
  EXPECT_EQ(h.log.lines.front(), "tick: store missing 2s path=direct source=-");
  h.loop.advance(118s);  // age exactly 120 s at this tick: not yet
  EXPECT_EQ(logged("reload: store missing"), 0);
  h.loop.advance(2s);
  EXPECT_EQ(logged("reload: store missing"), 1);
  h.loop.advance(478s);
  EXPECT_EQ(w.sessionState(), "unknown");
  h.loop.advance(2s);  // 602 s
  EXPECT_EQ(w.sessionState(), "error");
  EXPECT_EQ(sent("/v1/status").back()["status"], "error");
  h.loop.advance(300s);
  EXPECT_EQ(logged("reload: store missing"), 1);
  EXPECT_LE(logged("tick: store missing"), 1 + 900 / 60);

  // A pending store counts as failed too; the next accepted read ends the outage.
  page.storeMissing = false;
  page.source = "pending";
  h.loop.advance(62s);
  EXPECT_EQ(w.sessionState(), "error");
  page.source = "connection";
  h.loop.advance(2s);
  EXPECT_EQ(w.health(), Health::ok());
}

TEST_F(ReadLoop, LoginPageLogsOncePerMinuteAndSetsTheStateOnce) {
  Watcher& w = start(false);
  at(std::string(kLogin) + "?next=/direct/inbox/");
  h.loop.advance(300s);
  EXPECT_EQ(logged("session: unknown → logged_out (login page)"), 1);
  EXPECT_EQ(logged("tick: login page (accounts)"), 5);  // at 2, 64, 126, 188 and 250 s
  EXPECT_TRUE(h.notifier.posted.empty());               // never watched on this machine
  EXPECT_EQ(w.health(), Health::loginNeeded(true));
}

TEST_F(ReadLoop, StrayPageWithAndWithoutSessionCookie) {
  Watcher& w = start();
  // The home page, with the web view not following our loads.
  h.web().scripts = nullptr;
  h.web().cookies = {{"sessionid", ".instagram.com", "abc"}};
  for (auto [wait, reloads] :
       {std::pair{2s, 1}, std::pair{14s, 1}, std::pair{4s, 2}}) {  // 14 s apart: not yet
    at("https://www.instagram.com/");
    h.loop.advance(wait);
    EXPECT_EQ(logged("reload: not inbox"), reloads);
  }
  w.setInspecting(true);  // while inspecting any page is fine
  at("https://www.instagram.com/explore/");
  h.loop.advance(60s);
  EXPECT_EQ(logged("reload: not inbox"), 2);
  EXPECT_EQ(w.sessionState(), "unknown");

  // While still loading nothing is decided; afterwards, without a usable
  // session cookie, the session is lost.
  h.web().loading = true;
  h.web().cookies = {{"sessionid", ".instagram.com", ""}, {"sessionid", "notinstagram.com", "x"}};
  h.loop.advance(4s);
  EXPECT_EQ(w.sessionState(), "unknown");
  h.web().loading = false;
  h.loop.advance(2s);
  EXPECT_EQ(logged("session: unknown → logged_out (no session)"), 1);
}

TEST_F(ReadLoop, LostAndResumedSessionsAnnounceAndPushLostOncePerClockHour) {
  Watcher& w = start();
  int sessions = 0;
  w.onSessionOK = [&] { ++sessions; };
  auto cycle = [&] {
    at(kLogin);
    h.loop.advance(2s);
    at(kInbox);
    h.loop.advance(2s);
  };
  h.loop.advance(2s);  // 09:00:02, ok
  cycle();             // lost at 09:00:04, back at 09:00:06
  cycle();             // lost again within the same clock hour
  EXPECT_EQ(pushKinds(), (std::vector<std::string>{"logged_out", "resumed", "resumed"}));
  ASSERT_EQ(h.notifier.posted.size(), 4u);  // each change also on the desktop; a click on "lost" logs in
  EXPECT_EQ(h.notifier.posted[0].identifier.rfind("login-", 0), 0u);
  EXPECT_EQ(sessions, 3);
  EXPECT_EQ(field("/v1/status", "status"),
            (std::vector<std::string>{"ok", "logged_out", "ok", "logged_out", "ok"}));

  h.loop.advanceTo(Time{} + 1772445600s + 5s);  // 10:00:05: another clock hour
  cycle();
  EXPECT_EQ(pushKinds().size(), 5u);  // "logged_out" and "resumed" again
}

TEST_F(ReadLoop, LogoutWipesTheSessionAndTheNextLoginIsANewBaseline) {
  Watcher& w = start();
  page.badge = 1;
  h.loop.advance(2s);
  h.web().cookies = {{"sessionid", ".instagram.com", "abc"}};
  runTask(h.loop, w.logout());
  EXPECT_TRUE(h.web().cookies.empty());
  EXPECT_EQ(h.settings.boolValue("loggedOutByUser"), true);
  EXPECT_EQ(w.igBadge(), -1);
  EXPECT_FALSE(w.lastReadAt());
  EXPECT_EQ(h.log.lines.back(), "reload: logout");

  at(kLogin);
  h.loop.advance(2s);
  EXPECT_EQ(w.health(), Health::loginNeeded(true));
  at(kInbox);
  h.loop.advance(2s);
  EXPECT_TRUE(pushKinds().empty());  // no "logged_out", no "resumed"
  EXPECT_TRUE(h.notifier.posted.empty());
  EXPECT_FALSE(w.loggedOutByUser());
  EXPECT_EQ(logged("baseline: "), 2);
  EXPECT_EQ(logged("badge: -1 → 1"), 2);  // a new badge baseline, no badge push
}

TEST_F(ReadLoop, HeartbeatEvery300SecondsOrEvery30WhileTheRelayHasAProblem) {
  Watcher& w = start();
  h.loop.advance(301s);
  EXPECT_EQ(sent("/v1/status").size(), 1u);  // the session change at 2 s
  h.loop.advance(1s);                        // 302 s: the first refetch, and no heartbeat with it
  EXPECT_EQ(page.refetches, 1);
  EXPECT_EQ(sent("/v1/status").size(), 1u);
  h.loop.advance(2s);  // 304 s: more than 300 s since the report at 2 s
  EXPECT_EQ(sent("/v1/status").back(), (Json{{"status", "ok"}, {"badge", 0}, {"unread", 0}, {"threads", 1}}));

  // The relay fails: reports every 30 s of accepted reads.
  h.transport.respond = [](const HttpRequest&) { return answer(503, ""); };
  runTask(h.loop, w.sendCurrentStatus());
  EXPECT_EQ(w.health().kind, Health::Kind::serverProblem);
  std::size_t before = sent("/v1/status").size();
  h.loop.advance(120s);  // ticks every 2 s: reports 32, 64 and 96 s later
  EXPECT_EQ(sent("/v1/status").size() - before, 3u);
  // No reports while reads fail.
  page.storeMissing = true;
  before = sent("/v1/status").size();
  h.loop.advance(100s);
  EXPECT_EQ(sent("/v1/status").size(), before);
}

TEST_F(ReadLoop, StoppedStatusGoesToEveryPairingInTurn) {
  h.settings.setString("pushPairings",
                       R"([{"secret":"a","deviceModel":"iPhone","environment":"production","pairedAt":1},)"
                       R"({"secret":"b","deviceModel":"iPhone","environment":"production","pairedAt":2}])");
  Watcher& w = h.make();
  h.transport.respond = [](const HttpRequest&) { return noAnswer(HttpFailureKind::timedOut); };
  runTask(h.loop, w.sendStoppedStatus());
  EXPECT_EQ(field("/v1/status", "status"), (std::vector<std::string>{"stopped", "stopped"}));
  EXPECT_EQ(headerOf(h.transport.requests[1], "Authorization"), "Bearer b");
}
