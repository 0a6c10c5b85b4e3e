// The Watcher at work: ticks over a fake inbox page, a fake relay and
// virtual time.
#include <gtest/gtest.h>

#include "tests/watcher/harness.h"

using namespace corvid;
using namespace corvid::testing;
using namespace std::chrono_literals;

namespace {

const std::string kInbox = "https://www.instagram.com/direct/inbox/";
const std::string kLogin = "https://www.instagram.com/accounts/login/";
using P = FakeInbox;

struct ReadLoop : ::testing::Test {
  WatcherHarness h;
  double t0 = 0;  // page time of the fixture's messages, ms

  Watcher& start() {
    h.storePairing("secret-1");
    Watcher& w = h.make();
    t0 = unixMillis(h.loop.now()) - 600000;
    h.page.rows = {P::thread("1", "m1", t0, Json::array())};
    return w;
  }
  std::vector<std::string> pushKinds() const { return h.field("/v1/push", "kind"); }
  void at(const std::string& url) { h.web().currentURL = url; }
};

}  // namespace

TEST(WatcherSpine, StartsOnThePersistentInboxAndMigratesEverWatched) {
  WatcherHarness a;
  a.storePairing();
  Watcher& w = a.make();
  EXPECT_TRUE(a.engine.configuration.persistentDataStore);
  a.web().delegate->webContentProcessDidTerminate();
  EXPECT_EQ(a.web().loads.size(), 2u);
  // A pairing from before "everWatched" existed means someone watched; only memory changes.
  EXPECT_TRUE(w.everWatched());
  EXPECT_FALSE(a.settings.contains("everWatched"));

  WatcherHarness b;
  b.settings.setBool("everWatched", false);  // a stored false wins over the migration
  b.storePairing();
  EXPECT_FALSE(b.make().everWatched());
}

TEST(WatcherSpine, NetworkBackReloadsOnlyAfterMoreThanSixtySecondsWithoutARead) {
  WatcherHarness h;
  h.make();
  h.page.storeMissing = true;
  h.network.update(false);
  h.loop.advance(60s);
  h.network.update(true);  // exactly 60 s: nothing yet
  EXPECT_EQ(h.web().loads.size(), 1u);
  h.loop.advance(1s);
  h.network.update(true);  // 61 s, and every further update while reads fail
  h.network.update(true);
  h.network.update(false);  // offline updates never reload
  EXPECT_EQ(h.web().loads.size(), 3u);
}

TEST_F(ReadLoop, ABurstWaitsForTheBadgeAndPushesOldestFirstAReadElsewherePushesTheBadge) {
  start();
  h.page.badge = 2;
  h.page.rows.push_back(P::thread("2", "b1", t0, Json::array()));
  h.loop.advance(2s);
  EXPECT_EQ(h.settings.boolValue("everWatched"), true);  // stored with the first "ok"

  // Three messages from one friend between two reads, newest first, and the
  // viewer's own reply in the other thread; the page raises its badge later.
  h.page.rows[0] =
      P::thread("1", "a4", t0 + 3000,
                Json::array({P::message("a4", t0 + 3000, "three"), P::message("a3", t0 + 2000, "two"),
                             P::message("a2", t0 + 1000, " one ")}));
  h.page.rows[1] = P::thread("2", "b2", t0 + 1500, Json::array(), {{"lastMine", true}});
  h.loop.advance(2s);
  EXPECT_TRUE(pushKinds().empty());  // waiting for the badge
  h.page.badge = 3;
  h.loop.advance(2s);
  EXPECT_EQ(h.field("/v1/push", "body"), (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(h.sent("/v1/push")[0], Json::parse(R"({"kind":"message","title":"Friend 1","body":"one",
      "threadKey":"key-1","username":"friend_1","badge":3,"collapseId":"m-2c3a4249d77070058649dbd822dcaf79"})"));

  // The next reads do not repeat the messages; read on the phone, the badge
  // drops with no new message: one badge push.
  h.page.badge = 0;
  h.loop.advance(26s);
  EXPECT_EQ(pushKinds(), (std::vector<std::string>{"message", "message", "message", "badge"}));
  EXPECT_EQ(h.sent("/v1/push").back()["badge"], 0);
}

TEST_F(ReadLoop, OverlappingTicksDuringABadgeWaitOrAStatusReportPushAndReportOnce) {
  start();
  h.web().scriptDelay = 400ms;  // every page script takes its time
  h.transport.delay = 3s;       // and so does the relay
  h.loop.advance(6s);
  EXPECT_EQ(h.field("/v1/status", "status"), std::vector<std::string>{"ok"});
  h.page.rows[0] = P::thread("1", "m2", t0 + 1000, Json::array({P::message("m2", t0 + 1000, "hi")}));
  // The badge never changes, so the first tick that sees the message waits
  // the full 1.5 s while the next ticks read the same inbox.
  h.loop.advance(20s);
  EXPECT_EQ(pushKinds(), (std::vector<std::string>{"message"}));
}

TEST_F(ReadLoop, FailedReadsFromLaunchReloadOnceAfter120sAndTurnToErrorAfter600s) {
  Watcher& w = start();
  h.page.storeMissing = true;
  h.loop.advance(120s);  // age exactly 120 s at this tick: not yet
  EXPECT_EQ(h.logged("reload: store missing"), 0);
  h.loop.advance(2s);
  EXPECT_EQ(h.logged("reload: store missing"), 1);
  h.loop.advance(478s);
  EXPECT_EQ(w.sessionState(), "unknown");
  h.loop.advance(2s);  // 602 s
  EXPECT_EQ(h.sent("/v1/status").back()["status"], "error");
  h.loop.advance(300s);
  EXPECT_EQ(h.logged("reload: store missing"), 1);

  h.page.storeMissing = false;  // the next accepted read ends the outage
  h.loop.advance(2s);
  EXPECT_EQ(w.health(), Health::ok());
}

TEST_F(ReadLoop, LoginPageLogsOncePerMinuteAndSetsTheStateOnce) {
  h.make();  // never watched on this machine
  at(kLogin + "?next=/direct/inbox/");
  h.loop.advance(300s);
  EXPECT_EQ(h.logged("session: unknown → logged_out (login page)"), 1);
  EXPECT_EQ(h.logged("tick: login page (accounts)"), 5);  // at 2, 64, 126, 188 and 250 s
  EXPECT_TRUE(h.notifier.posted.empty());
}

TEST_F(ReadLoop, StrayPageWithAndWithoutSessionCookie) {
  Watcher& w = start();
  h.web().scripts = nullptr;
  h.web().cookies = {{"sessionid", "i.instagram.com", "abc"}};
  // The home page, with the web view not following our loads: back to the
  // inbox, at most every 15 s.
  for (auto [wait, reloads] : {std::pair{2s, 1}, std::pair{14s, 1}, std::pair{4s, 2}}) {
    at("https://www.instagram.com/");
    h.loop.advance(wait);
    EXPECT_EQ(h.logged("reload: not inbox"), reloads);
  }
  w.setInspecting(true);  // while inspecting any page is fine
  at("https://www.instagram.com/explore/");
  h.loop.advance(60s);
  EXPECT_EQ(h.logged("reload: not inbox"), 2);
  EXPECT_EQ(w.sessionState(), "unknown");

  // While still loading nothing is decided; afterwards, without a usable
  // session cookie of the service's own domain, the session is lost.
  h.web().loading = true;
  h.web().cookies = {{"sessionid", ".instagram.com", ""}, {"sessionid", "notinstagram.com", "x"}};
  h.loop.advance(4s);
  EXPECT_EQ(w.sessionState(), "unknown");
  h.web().loading = false;
  h.loop.advance(2s);
  EXPECT_EQ(h.logged("session: unknown → logged_out (no session)"), 1);
}

TEST_F(ReadLoop, LostAndResumedSessionsAnnounceOnceAnHourALogoutNeverAndStartsANewBaseline) {
  Watcher& w = start();
  h.page.badge = 1;
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
  EXPECT_EQ(h.notifier.posted[0].rfind("login-", 0), 0u);
  EXPECT_EQ(h.field("/v1/status", "status"),
            (std::vector<std::string>{"ok", "logged_out", "ok", "logged_out", "ok"}));

  h.loop.advanceTo(Time{} + 1772445600s + 5s);  // 10:00:05: another clock hour
  cycle();
  EXPECT_EQ(pushKinds().size(), 5u);  // "logged_out" and "resumed" again

  runTask(h.loop, w.logout());
  EXPECT_EQ(h.web().dataRemovals, 1);
  at(kLogin);
  h.loop.advance(2s);
  EXPECT_EQ(w.health(), Health::loginNeeded(true));
  at(kInbox);
  h.loop.advance(2s);
  EXPECT_EQ(pushKinds().size(), 5u);  // no "logged_out", no "resumed", no badge push
  EXPECT_EQ(h.notifier.posted.size(), 6u);
  EXPECT_EQ(h.settings.boolValue("loggedOutByUser"), false);
  EXPECT_EQ(h.logged("baseline: "), 2);
}

TEST_F(ReadLoop, HeartbeatEvery300SecondsOrEvery30WhileTheRelayHasAProblem) {
  Watcher& w = start();
  h.loop.advance(301s);
  EXPECT_EQ(h.sent("/v1/status").size(), 1u);  // the session change at 2 s
  h.loop.advance(3s);  // 302 s: the first store refetch instead; 304 s: more than 300 s since 2 s
  EXPECT_EQ(h.page.refetches, 1);
  EXPECT_EQ(h.sent("/v1/status").size(), 2u);
  EXPECT_EQ(h.sent("/v1/status").back(), Json::parse(R"({"status":"ok","badge":0,"unread":0,"threads":1})"));

  // The relay fails: reports every 30 s of accepted reads, none while reads fail.
  h.transport.respond = [](const HttpRequest&) { return answer(503, ""); };
  runTask(h.loop, w.sendCurrentStatus());
  std::size_t before = h.sent("/v1/status").size();
  h.loop.advance(120s);  // ticks every 2 s: reports 32, 64 and 96 s later
  EXPECT_EQ(h.sent("/v1/status").size() - before, 3u);
  h.page.storeMissing = true;
  h.loop.advance(100s);
  EXPECT_EQ(h.sent("/v1/status").size() - before, 3u);
}

TEST_F(ReadLoop, AStoreWriteStartsAReadAtOnceAndOverlappingTicksAnnounceOnce) {
  start();
  h.page.epoch = 1;
  h.loop.advance(2500ms);  // the baseline read at 2 s starts following the store
  h.page.rows[0] = P::thread("1", "m2", t0 + 1000, Json::array({P::message("m2", t0 + 1000, "hi")}), {{"unread", true}});
  h.page.badge = 1;
  h.page.epoch = 2;
  h.loop.advance(200ms);  // long before the next tick at 4 s
  EXPECT_EQ(h.field("/v1/push", "body"), std::vector<std::string>{"hi"});

  // Slow page scripts: a write just before a tick makes the hinted read and
  // the tick read the same new message side by side.
  h.web().scriptDelay = 300ms;
  h.loop.advance(1150ms);  // 3.85 s
  h.page.rows[0] = P::thread("1", "m3", t0 + 2000, Json::array({P::message("m3", t0 + 2000, "again"),
                                                                P::message("m2", t0 + 1000, "hi")}),
                             {{"unread", true}});
  h.page.epoch = 3;
  h.loop.advance(20s);
  EXPECT_EQ(h.field("/v1/push", "body"), (std::vector<std::string>{"hi", "again"}));
  EXPECT_GE(h.page.storeWaits, 3);

  // A store that takes a write every 50 ms is read at most every 250 ms,
  // besides the timer's ticks.
  h.web().scriptDelay = 0ms;
  const int before = h.page.fullReads;
  for (int i = 0; i < 200; ++i) {
    *h.page.epoch += 1;
    h.loop.advance(50ms);
  }
  EXPECT_LE(h.page.fullReads - before, 10000 / 250 + 5 + 1);
  EXPECT_GE(h.page.fullReads - before, 30);
}

TEST_F(ReadLoop, AMessageIntoAnUnreadThreadSkipsTheBadgeWaitOneIntoAReadThreadStillWaits) {
  start();
  h.page.rows.push_back(P::thread("2", "b1", t0, Json::array(), {{"unread", true}}));
  h.page.badge = 1;
  h.loop.advance(2s);  // the baseline

  // The thread was unread already: the badge cannot rise, the tick at 4 s
  // pushes at once.
  h.page.rows[1] = P::thread("2", "b2", t0 + 1000, Json::array({P::message("b2", t0 + 1000, "again")}),
                             {{"unread", true}});
  h.loop.advance(2s);
  EXPECT_EQ(h.field("/v1/push", "body"), std::vector<std::string>{"again"});

  // A read thread: the tick at 6 s gives the badge the full 1.5 s.
  h.page.rows[0] = P::thread("1", "m2", t0 + 2000, Json::array({P::message("m2", t0 + 2000, "hello")}),
                             {{"unread", true}});
  h.loop.advance(3400ms);
  EXPECT_EQ(pushKinds().size(), 1u);
  h.loop.advance(100ms);
  EXPECT_EQ(h.field("/v1/push", "body"), (std::vector<std::string>{"again", "hello"}));
}

TEST_F(ReadLoop, AnUnchangedStoreCountsAsAReadWithAFullReadEveryMinuteAndAfterAReload) {
  Watcher& w = start();
  h.page.epoch = 5;
  h.loop.advance(2s);  // the full baseline read
  const std::size_t statuses = h.sent("/v1/status").size();
  h.loop.advance(58s);
  EXPECT_EQ(h.page.fullReads, 1);
  EXPECT_EQ(h.page.unchangedReads, 29);
  EXPECT_EQ(w.lastReadAt(), std::optional<Time>(h.loop.now()));
  EXPECT_EQ(w.threads(), 1);
  h.loop.advance(2s);  // 60 s after the last full read
  EXPECT_EQ(h.page.fullReads, 2);
  w.reload("test");
  h.loop.advance(2s);
  EXPECT_EQ(h.page.fullReads, 3);
  at("https://www.instagram.com/direct/t/key-1/");  // a navigation inside the page
  h.loop.advance(2s);
  EXPECT_EQ(h.page.fullReads, 4);

  // A real change after many unchanged answers is announced once.
  h.page.rows[0] = P::thread("1", "m2", t0 + 1000, Json::array({P::message("m2", t0 + 1000, "hi")}), {{"unread", true}});
  h.page.badge = 1;
  h.page.epoch = 6;
  h.loop.advance(300s);
  EXPECT_EQ(pushKinds(), std::vector<std::string>{"message"});
  EXPECT_GT(h.sent("/v1/status").size(), statuses);  // heartbeats go on
  EXPECT_EQ(w.sessionState(), "ok");
  EXPECT_EQ(w.unread(), 1);
}

TEST(WatcherNtfy, WithATopicAloneMessagesGoToNtfyAndTheDesktopShowsThemWithoutWaiting) {
  WatcherHarness h;
  h.settings.setString("ntfyTopicURL", "https://ntfy.test/corvid-t");
  h.settings.setBool("desktopMessageNotifications", true);
  Watcher& w = h.make();
  const double t0 = unixMillis(h.loop.now()) - 600000;
  h.page.rows = {P::thread("1", "m1", t0, Json::array())};
  h.loop.advance(2s);
  EXPECT_EQ(w.health(), Health::ok());
  EXPECT_TRUE(h.transport.requests.empty());  // no relay pairing: no status report

  h.transport.delay = 1h;  // ntfy does not answer for now
  h.page.badge = 1;
  h.page.rows[0] = P::thread("1", "m3", t0 + 2000,
                             Json::array({P::message("m3", t0 + 2000, "둘"), P::message("m2", t0 + 1000, "하나")}));
  h.loop.advance(2s);
  // The first message shows on the desktop while its publish is in flight.
  ASSERT_EQ(h.notifier.texts.size(), 1u);
  EXPECT_EQ(h.notifier.texts[0], (std::pair<std::string, std::string>{"Friend 1", "하나"}));
  EXPECT_TRUE(h.notifier.posted[0].starts_with("message-"));
  ASSERT_EQ(h.transport.requests.size(), 1u);
  EXPECT_EQ(h.transport.requests[0].url, "https://ntfy.test/");
  EXPECT_EQ(jsonOf(h.transport.requests[0])["click"], "https://www.instagram.com/direct/t/key-1/");
  h.loop.advance(2h);
  EXPECT_EQ(h.notifier.texts.size(), 2u);
  EXPECT_EQ(h.transport.requests.size(), 2u);

  // Switched off: the next message goes to ntfy only.
  w.setDesktopMessageNotifications(false);
  EXPECT_EQ(h.settings.boolValue("desktopMessageNotifications"), false);
  h.transport.delay = 0ms;
  h.page.rows[0] = P::thread("1", "m4", t0 + 3000, Json::array({P::message("m4", t0 + 3000, "셋")}));
  h.loop.advance(4s);
  EXPECT_EQ(h.notifier.texts.size(), 2u);
  EXPECT_EQ(jsonOf(h.transport.requests.back())["message"], "셋");
}

TEST_F(ReadLoop, WaitingMessagesGoOutSoonAfterTheRelayAnswersAgainOrTheNetworkReturns) {
  Watcher& w = start();
  h.loop.advance(4s);
  const Time began = h.loop.now();
  // 503 for 30 s, then every request hangs until its time-out, then all is well.
  h.transport.respond = [&](const HttpRequest&) { return h.loop.now() - began < 30s ? answer(503) : answer(200); };
  h.transport.hangs = [&](const HttpRequest&) {
    auto t = h.loop.now() - began;
    return t >= 30s && t < 200s;
  };
  h.page.rows[0] = P::thread("1", "m2", t0 + 1000, Json::array({P::message("m2", t0 + 1000, "hi")}));
  h.loop.advance(6s);
  EXPECT_EQ(w.push().waitingCount(), 1);
  h.loop.advanceTo(began + 200s);
  ASSERT_EQ(w.push().waitingCount(), 1);
  while (w.push().waitingCount() > 0 && h.loop.now() - began < 300s) h.loop.advance(500ms);
  EXPECT_LE(h.loop.now() - began, 230s);  // within 30 s of the relay answering
  EXPECT_EQ(h.logged("push: retry message sent 1/1"), 1);
  EXPECT_EQ(w.push().sentCount(), 1);

  // The network comes back: what waits goes out at once.
  h.transport.hangs = nullptr;
  h.transport.respond = [](const HttpRequest&) { return answer(503); };
  h.page.rows[0] = P::thread("1", "m3", t0 + 2000, Json::array({P::message("m3", t0 + 2000, "again")}));
  h.loop.advance(6s);
  ASSERT_EQ(w.push().waitingCount(), 1);
  h.transport.respond = nullptr;
  h.network.update(true);
  h.loop.advance(200ms);
  EXPECT_EQ(w.push().waitingCount(), 0);
}
