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

struct ReadLoop : ::testing::Test {
  WatcherHarness h;
  FakeInbox page;
  double t0 = 0;  // page time of the fixture's messages, ms

  Watcher& start(bool paired = true) {
    if (paired) h.storePairing("secret-1");
    Watcher& w = h.make();
    page.attach(h.web());
    t0 = unixMillis(h.loop.now()) - 600000;
    return w;
  }

  struct Sent {
    std::string path;
    Json body;
  };
  std::vector<Sent> sent(const std::string& path = "") const {
    std::vector<Sent> out;
    for (const auto& r : h.transport.requests) {
      std::string p = r.url.substr(r.url.find("/v1/"));
      if (path.empty() || p == path) out.push_back({p, Json::parse(r.body)});
    }
    return out;
  }
  std::vector<std::string> pushKinds() const {
    std::vector<std::string> kinds;
    for (const auto& s : sent("/v1/push")) kinds.push_back(s.body["kind"]);
    return kinds;
  }
  int logged(const std::string& prefix) const {
    return static_cast<int>(std::count_if(h.log.lines.begin(), h.log.lines.end(),
                                          [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
  }
  void at(const std::string& url) { h.web().currentURL = url; }
};

}  // namespace

TEST_F(ReadLoop, FirstReadIsTheBaselineAndANewMessageIsPushedOnceWithItsBadge) {
  Watcher& w = start();
  page.badge = 2;
  page.rows = {FakeInbox::thread("1", "m1", t0, Json::array({FakeInbox::message("m1", t0, "hello")})),
               FakeInbox::thread("2", "n1", t0 - 10, Json::array())};
  h.loop.advance(2s);
  EXPECT_EQ(w.sessionState(), "ok");
  EXPECT_TRUE(pushKinds().empty());
  EXPECT_EQ(logged("baseline: threads 2 unread 0 recent 2/2"), 1);
  EXPECT_EQ(logged("session: unknown → ok"), 1);
  EXPECT_EQ(w.igBadge(), 2);
  EXPECT_EQ(w.threads(), 2);
  EXPECT_EQ(w.viewerUsername(), "me");
  EXPECT_TRUE(w.everWatched());
  EXPECT_EQ(h.settings.boolValue("everWatched"), true);

  // The friend writes; the page raises its badge a little later.
  page.rows[0] = FakeInbox::thread("1", "m2", t0 + 1000,
                                   Json::array({FakeInbox::message("m2", t0 + 1000, " new text "),
                                                FakeInbox::message("m1", t0, "hello")}),
                                   {{"unread", true}});
  h.loop.advance(2s);
  EXPECT_TRUE(pushKinds().empty());  // waiting for the badge
  page.badge = 3;
  h.loop.advance(2s);
  auto pushes = sent("/v1/push");
  ASSERT_EQ(pushes.size(), 1u);
  EXPECT_EQ(pushes[0].body, (Json{{"kind", "message"}, {"title", "Friend 1"}, {"body", "new text"},
                                  {"threadKey", "key-1"}, {"username", "friend_1"}, {"badge", 3},
                                  {"collapseId", collapseId("m2")}}));
  EXPECT_EQ(h.transport.requests.back().headers.size(), 2u);
  EXPECT_EQ(logged("events: 1 pushed 1"), 1);
  EXPECT_TRUE(w.lastEventAt());
  // The next reads neither repeat the message nor send the badge alone.
  h.loop.advance(20s);
  EXPECT_EQ(pushKinds(), (std::vector<std::string>{"message"}));
}

TEST_F(ReadLoop, OverlappingTicksDuringABadgeWaitPushOnce) {
  start();
  h.web().scriptDelay = 400ms;  // every page script takes its time
  page.rows = {FakeInbox::thread("1", "m1", t0, Json::array())};
  h.loop.advance(3s);
  page.rows[0] = FakeInbox::thread("1", "m2", t0 + 1000, Json::array({FakeInbox::message("m2", t0 + 1000, "hi")}));
  // The badge never changes, so the first tick that sees the message waits
  // the full 1.5 s while the next ticks read the same inbox.
  h.loop.advance(20s);
  EXPECT_EQ(pushKinds(), (std::vector<std::string>{"message"}));
}

TEST_F(ReadLoop, BurstOwnReplyAndReadElsewhere) {
  start();
  page.badge = 3;
  page.rows = {FakeInbox::thread("1", "a1", t0, Json::array()), FakeInbox::thread("2", "b1", t0, Json::array())};
  h.loop.advance(2s);

  // Three messages from one friend between two reads: three pushes, oldest first.
  page.badge = 4;
  page.rows[0] = FakeInbox::thread("1", "a4", t0 + 3000,
                                   Json::array({FakeInbox::message("a4", t0 + 3000, "three"),
                                                FakeInbox::message("a3", t0 + 2000, "two"),
                                                FakeInbox::message("a2", t0 + 1000, "one")}));
  // The viewer's own reply in the other thread: nothing to announce.
  page.rows[1] = FakeInbox::thread("2", "b2", t0 + 1500, Json::array(), {{"lastMine", true}});
  h.loop.advance(2s);
  std::vector<std::string> bodies;
  for (const auto& s : sent("/v1/push")) bodies.push_back(s.body["body"]);
  EXPECT_EQ(bodies, (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(logged("tick: threads 2 unread 0 changed 2 new 0 events 3 burst 1 skipped mine"), 1);

  // Read on the phone: the badge drops with no new message, once.
  page.badge = 0;
  h.loop.advance(6s);
  auto pushes = sent("/v1/push");
  ASSERT_EQ(pushes.size(), 4u);
  EXPECT_EQ(pushes[3].body, (Json{{"kind", "badge"}, {"title", ""}, {"body", ""}, {"threadKey", ""},
                                  {"username", ""}, {"badge", 0}}));
  EXPECT_EQ(logged("badge: 4 → 0 (title -1, link true)"), 1);
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
  EXPECT_EQ(logged("session: unknown → error (store missing)"), 1);
  EXPECT_EQ(sent("/v1/status").back().body["status"], "error");
  h.loop.advance(300s);
  EXPECT_EQ(logged("reload: store missing"), 1);
  EXPECT_LE(logged("tick: store missing"), 1 + 900 / 60);

  // A pending store counts as failed too, with its source in the line; the
  // next accepted read ends the outage.
  page.storeMissing = false;
  page.source = "pending";
  h.loop.advance(62s);
  EXPECT_NE(std::find_if(h.log.lines.begin(), h.log.lines.end(),
                         [](const std::string& l) { return l.find("source=pending") != std::string::npos; }),
            h.log.lines.end());
  page.source = "connection";
  h.loop.advance(2s);
  EXPECT_EQ(w.sessionState(), "ok");
  EXPECT_EQ(w.health(), Health::ok());
}

TEST_F(ReadLoop, LoginPageLogsOncePerMinuteAndSetsTheStateOnce) {
  Watcher& w = start(false);
  at("https://www.instagram.com/accounts/login/?next=/direct/inbox/");
  h.loop.advance(300s);
  EXPECT_EQ(w.sessionState(), "logged_out");
  EXPECT_EQ(logged("session: unknown → logged_out (login page)"), 1);
  EXPECT_EQ(logged("tick: login page (accounts)"), 5);  // at 2, 64, 126, 188 and 250 s
  EXPECT_TRUE(h.notifier.posted.empty());  // never watched on this machine
  EXPECT_EQ(w.health(), Health::loginNeeded(true));
}

TEST_F(ReadLoop, StrayPageWithAndWithoutSessionCookie) {
  Watcher& w = start();
  // The home page, with the web view not following our loads.
  at("https://www.instagram.com/");
  h.web().scripts = nullptr;
  auto reloadsNotInbox = [&] { return logged("reload: not inbox"); };
  h.web().cookies = {{"sessionid", ".instagram.com", "abc"}};
  h.loop.advance(2s);
  EXPECT_EQ(reloadsNotInbox(), 1);
  at("https://www.instagram.com/");
  h.loop.advance(14s);  // 16 s: exactly 14 s since the navigation
  EXPECT_EQ(reloadsNotInbox(), 1);
  at("https://www.instagram.com/");
  h.loop.advance(4s);
  EXPECT_EQ(reloadsNotInbox(), 2);
  w.setInspecting(true);
  at("https://www.instagram.com/explore/");
  h.loop.advance(60s);
  EXPECT_EQ(reloadsNotInbox(), 2);
  EXPECT_EQ(w.sessionState(), "unknown");

  // While still loading nothing is decided; afterwards, without a usable
  // session cookie, the session is lost.
  h.web().loading = true;
  h.web().cookies = {{"sessionid", ".instagram.com", ""}, {"sessionid", "notinstagram.com", "x"}};
  h.loop.advance(4s);
  EXPECT_EQ(w.sessionState(), "unknown");
  h.web().loading = false;
  h.loop.advance(2s);
  EXPECT_EQ(w.sessionState(), "logged_out");
  EXPECT_EQ(logged("session: unknown → logged_out (no session)"), 1);
}

TEST_F(ReadLoop, LostAndResumedSessionsAnnounceAndPushLostOncePerClockHour) {
  Watcher& w = start();
  int sessions = 0;
  w.onSessionOK = [&] { ++sessions; };
  page.rows = {FakeInbox::thread("1", "m1", t0, Json::array())};
  auto cycle = [&] {
    at("https://www.instagram.com/accounts/login/");
    h.loop.advance(2s);
    at(kInbox);
    h.loop.advance(2s);
  };
  h.loop.advance(2s);  // 09:00:02, ok
  cycle();             // lost at 09:00:04, back at 09:00:06
  cycle();             // lost again within the same clock hour
  EXPECT_EQ(pushKinds(), (std::vector<std::string>{"logged_out", "resumed", "resumed"}));
  ASSERT_EQ(h.notifier.posted.size(), 4u);
  EXPECT_EQ(h.notifier.posted[0].title, "Instagram 로그인이 풀렸습니다");
  EXPECT_EQ(h.notifier.posted[0].identifier.rfind("login-", 0), 0u);
  EXPECT_EQ(h.notifier.posted[1].title, "다시 지켜보는 중");
  EXPECT_EQ(h.notifier.posted[1].identifier.rfind("resumed-", 0), 0u);
  EXPECT_EQ(sessions, 3);
  auto lost = sent("/v1/push")[0].body;
  EXPECT_EQ(lost, (Json{{"kind", "logged_out"}, {"title", "Mac에서 Instagram 로그인이 풀렸습니다"},
                        {"body", "Mac의 Corvid 메뉴 › 다시 로그인…에서 로그인해 주세요"}, {"threadKey", ""},
                        {"username", ""}}));
  // Every state change is reported on /v1/status.
  std::vector<std::string> statuses;
  for (const auto& s : sent("/v1/status")) statuses.push_back(s.body["status"]);
  EXPECT_EQ(statuses, (std::vector<std::string>{"ok", "logged_out", "ok", "logged_out", "ok"}));

  h.loop.advanceTo(Time{} + 1772445600s + 5s);  // 10:00:05: another clock hour
  cycle();
  auto kinds = pushKinds();
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "logged_out"), 2);
}

TEST_F(ReadLoop, LogoutWipesTheSessionAndTheNextLoginIsANewBaseline) {
  Watcher& w = start();
  page.badge = 1;
  page.rows = {FakeInbox::thread("1", "m1", t0, Json::array())};
  h.loop.advance(2s);
  h.web().cookies = {{"sessionid", ".instagram.com", "abc"}};
  runTask(h.loop, w.logout());
  EXPECT_EQ(h.web().dataRemovals, 1);
  EXPECT_TRUE(h.web().cookies.empty());
  EXPECT_EQ(h.settings.boolValue("loggedOutByUser"), true);
  EXPECT_EQ(w.igBadge(), -1);
  EXPECT_FALSE(w.lastReadAt());
  EXPECT_EQ(h.log.lines[h.log.lines.size() - 2], "logout: by user");
  EXPECT_EQ(h.log.lines.back(), "reload: logout");

  at("https://www.instagram.com/accounts/login/");
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
  page.rows = {FakeInbox::thread("1", "m1", t0, Json::array())};
  h.loop.advance(301s);
  EXPECT_EQ(sent("/v1/status").size(), 1u);  // the session change at 2 s
  EXPECT_EQ(page.refetches, 0);
  h.loop.advance(1s);  // 302 s: the first refetch, and no heartbeat with it
  EXPECT_EQ(page.refetches, 1);
  EXPECT_EQ(sent("/v1/status").size(), 1u);
  h.loop.advance(2s);  // 304 s: more than 300 s since the report at 2 s
  auto reports = sent("/v1/status");
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[1].body, (Json{{"status", "ok"}, {"badge", 0}, {"unread", 0}, {"threads", 1}}));

  // The relay fails: reports every 30 s of accepted reads.
  h.transport.respond = [](const HttpRequest&) { return HttpResult{HttpResponse{503, ""}, {}}; };
  runTask(h.loop, w.sendCurrentStatus());
  EXPECT_TRUE(w.push().connectionProblem());
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
  h.transport.respond = [](const HttpRequest&) { return HttpResult{std::nullopt, {HttpFailureKind::timedOut, 0, ""}}; };
  runTask(h.loop, w.sendStoppedStatus());
  ASSERT_EQ(h.transport.requests.size(), 2u);
  EXPECT_EQ(h.transport.requests[0].headers[1].second, "Bearer a");
  EXPECT_EQ(h.transport.requests[1].headers[1].second, "Bearer b");
  EXPECT_EQ(Json::parse(h.transport.requests[1].body)["status"], "stopped");
  EXPECT_EQ(h.log.lines.front(), "quit: status stopped");
}

TEST_F(ReadLoop, LaunchAtLoginLogsAndReportsErrors) {
  Watcher& w = start();
  h.loginItem.statusAfterRegister = LoginItemStatus::requiresApproval;
  EXPECT_EQ(w.setLaunchAtLogin(true), std::nullopt);
  EXPECT_EQ(h.log.lines.back(), "launch at login: on → status 2");
  EXPECT_EQ(w.launchAtLogin(), LoginItemStatus::requiresApproval);
  h.loginItem.nextError = LoginItemError{13, "권한이 없습니다"};
  EXPECT_EQ(w.setLaunchAtLogin(false), "설정하지 못했습니다: 권한이 없습니다");
  EXPECT_EQ(h.log.lines.back(), "launch at login: off failed 13");
  EXPECT_EQ(w.launchAtLogin(), LoginItemStatus::requiresApproval);
}
