// Rules of the badge, the message delivery and the session announcements
// whose failure a user would see: repeated or missing pushes, and the texts
// on the phone and the desktop.
#include <gtest/gtest.h>

#include "tests/watcher/harness.h"

using namespace corvid;
using namespace corvid::testing;
using namespace std::chrono_literals;

namespace {

using P = FakeInbox;
using Texts = std::vector<std::string>;
using Shown = std::pair<std::string, std::string>;  // title and body of a desktop notification

struct Delivery : ::testing::Test {
  WatcherHarness h;
  double t0 = 0;

  Watcher& start() {
    h.storePairing("secret-1");
    Watcher& w = h.make();
    t0 = unixMillis(h.loop.now()) - 600000;
    h.page.rows = {P::thread("1", "m1", t0, Json::array())};
    h.loop.advance(2s);  // the baseline read: badge 0, session ok
    return w;
  }
  Texts pushKinds() const { return h.field("/v1/push", "kind"); }
  Texts lines(const std::string& prefix) const {
    Texts out;
    for (const auto& l : h.log.lines) {
      if (l.rfind(prefix, 0) == 0) out.push_back(l);
    }
    return out;
  }
  void at(const std::string& url) { h.web().currentURL = url; }
};

const std::string kInbox = "https://www.instagram.com/direct/inbox/";

}  // namespace

TEST_F(Delivery, TheBadgeIsPushedOnceWhileTicksOverlapAndNeverAsUnknown) {
  start();
  h.transport.delay = 5s;  // the badge push is out while the next ticks read
  h.page.badge = 2;
  h.loop.advance(12s);
  EXPECT_EQ(pushKinds(), Texts{"badge"});
  EXPECT_EQ(h.sent("/v1/push").at(0),
            Json::parse(R"({"kind":"badge","title":"","body":"","threadKey":"","username":"","badge":2})"));

  // The page loses its inbox link (-1): logged, never pushed; back at the
  // count last pushed: nothing to say; then read on the phone: 0.
  h.transport.delay = 0ms;
  h.page.badge = -1;
  h.loop.advance(4s);
  h.page.badge = 2;
  h.loop.advance(4s);
  EXPECT_EQ(pushKinds(), Texts{"badge"});
  h.page.badge = 0;
  h.loop.advance(2s);
  EXPECT_EQ(h.field("/v1/push", "kind"), (Texts{"badge", "badge"}));
  EXPECT_EQ(h.sent("/v1/push").back()["badge"], 0);
  EXPECT_EQ(lines("badge: "),
            (Texts{"badge: -1 → 0 (title -1, link false)", "badge: 0 → 2 (title -1, link false)",
                   "badge: 2 → -1 (title -1, link false)", "badge: -1 → 2 (title -1, link false)",
                   "badge: 2 → 0 (title -1, link false)"}));
  EXPECT_EQ(lines("push: "), (Texts{"push: badge sent 1/1 badge 2", "push: badge sent 1/1 badge 0"}));
}

TEST_F(Delivery, AMessageThatReachesNoPhoneLeavesTheLastEventAndTheBadgePushedAlone) {
  Watcher& w = start();
  h.transport.respond = [](const HttpRequest& r) {
    return pathOf(r) == "/v1/push" ? answer(500) : answer(200);
  };
  h.page.rows[0] = P::thread("1", "m2", t0 + 1000, Json::array({P::message("m2", t0 + 1000, "hi")}));
  h.page.badge = 1;
  h.loop.advance(2s);
  EXPECT_FALSE(w.lastEventAt());
  EXPECT_EQ(lines("events: "), Texts{"events: 1 pushed 0"});

  EXPECT_EQ(lines("push: message sent"), Texts{"push: message sent 0/1 badge 1 failures 1"});

  // The relay is back: the badge the message should have carried goes as a
  // badge push, once (the message itself is the outbox's to send again).
  h.transport.respond = [](const HttpRequest&) { return answer(200); };
  h.loop.advance(4s);
  Texts badges;
  for (const Json& body : h.sent("/v1/push")) {
    if (body["kind"] == "badge") badges.push_back(body["badge"].dump());
  }
  EXPECT_EQ(badges, Texts{"1"});

  // A message that reaches the phone sets the time of the last event.
  h.page.rows[0] = P::thread("1", "m3", t0 + 2000, Json::array({P::message("m3", t0 + 2000, "again")}));
  h.page.badge = 2;
  h.loop.advance(2s);
  EXPECT_EQ(w.lastEventAt(), h.loop.now());
  EXPECT_EQ(lines("push: message sent").back(), "push: message sent 1/1 badge 2");
  EXPECT_EQ(lines("events: ").back(), "events: 1 pushed 1");
}

TEST_F(Delivery, OnlyALostLoginAnnouncesResumingAndTheTextsOnPhoneAndDesktop) {
  Watcher& w = start();
  // error → ok: no announcement.
  h.page.storeMissing = true;
  h.loop.advance(602s);
  EXPECT_EQ(w.sessionState(), "error");
  h.page.storeMissing = false;
  h.loop.advance(2s);
  EXPECT_EQ(w.sessionState(), "ok");
  EXPECT_TRUE(pushKinds().empty());
  EXPECT_TRUE(h.notifier.posted.empty());

  // Lost on a stray page without a session cookie while watching.
  at("https://www.instagram.com/");
  h.loop.advance(2s);
  EXPECT_EQ(lines("session: ok → logged_out"), Texts{"session: ok → logged_out (no session)"});
  EXPECT_EQ(h.sent("/v1/push").at(0),
            Json::parse(R"({"kind":"logged_out","title":"컴퓨터에서 Instagram 로그인이 풀렸습니다",
      "body":"컴퓨터의 Corvid 메뉴 › 다시 로그인…에서 로그인해 주세요","threadKey":"","username":""})"));
  ASSERT_EQ(h.notifier.posted.size(), 1u);
  EXPECT_EQ(h.notifier.posted[0].rfind("login-", 0), 0u);
  EXPECT_EQ(h.notifier.texts[0],
            Shown("Instagram 로그인이 풀렸습니다",
                                                "눌러서 다시 로그인하세요. 그동안 iPhone으로 알림이 가지 않습니다."));

  // logged_out → error → ok: no announcement either.
  at(kInbox);
  h.page.storeMissing = true;
  h.loop.advance(600s);
  EXPECT_EQ(w.sessionState(), "error");
  h.page.storeMissing = false;
  h.loop.advance(2s);
  EXPECT_EQ(pushKinds(), Texts{"logged_out"});
  EXPECT_EQ(h.notifier.posted.size(), 1u);

  // logged_out → ok: the phone and the desktop hear it.
  at("https://www.instagram.com/accounts/login/");
  h.loop.advance(2s);
  at(kInbox);
  h.loop.advance(2s);
  EXPECT_EQ(pushKinds(), (Texts{"logged_out", "resumed"}));  // the same clock hour: one "logged_out"
  EXPECT_EQ(h.sent("/v1/push").back(), Json::parse(R"({"kind":"resumed","title":"Corvid 알림 재개",
      "body":"컴퓨터에서 다시 받은편지함을 지켜봅니다","threadKey":"","username":""})"));
  EXPECT_EQ(h.notifier.texts.back(),
            Shown("다시 지켜보는 중", "Instagram 받은편지함을 다시 지켜봅니다."));
  EXPECT_EQ(h.notifier.posted.back().rfind("resumed-", 0), 0u);
  EXPECT_EQ(lines("session: "), (Texts{"session: unknown → ok", "session: ok → error (store missing)",
                                       "session: error → ok", "session: ok → logged_out (no session)",
                                       "session: logged_out → error (store missing)", "session: error → ok",
                                       "session: ok → logged_out (login page)", "session: logged_out → ok"}));
}
