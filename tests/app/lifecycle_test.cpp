#include <gtest/gtest.h>

#include "app/lifecycle.h"
#include "app/session_member.h"
#include "base/korean_time.h"
#include "base/log.h"
#include "base/settings.h"
#include "base/virtual_loop.h"
#include "push/push_client.h"
#include "support/fake_platform.h"

using namespace corvid;
using namespace std::chrono_literals;

namespace {

// A quit controller whose stopped-status report goes to a relay that never
// answers unless a test says how long it takes.
struct QuitTest : ::testing::Test {
  VirtualLoop loop;
  std::size_t pairings = 1;
  bool answer = true;
  int confirmations = 0, reports = 0, statuses = 0, saves = 0;
  Duration reportTakes = 24h;
  std::optional<Time> terminatedAt;
  std::function<void()> whileAsking;
  std::unique_ptr<QuitController> quit = std::make_unique<QuitController>(QuitController::Dependencies{
      loop, [this] { return pairings; }, [this] { return confirm(); }, [this] { return report(); },
      [this] { terminatedAt = loop.now(); }, [this] { return status(); }});
  // The application's system quit: the quit decision, then its reply.
  SessionMember member{{*quit, [this] { ++saves; },
                        [this] {
                          if (quit->shouldTerminate(true) == QuitReply::terminateNow)
                            terminatedAt = loop.now();
                        }}};

  bool confirm() {
    ++confirmations;
    if (whileAsking) whileAsking();
    return answer;
  }
  Task<void> status() {
    ++statuses;
    co_return;
  }
  Task<void> report() {
    ++reports;
    co_await sleepFor(loop, reportTakes);
  }
};

}  // namespace

TEST_F(QuitTest, ConfirmedQuitReportsFirstAndEndsWithinTheLimitForASilentRelay) {
  EXPECT_EQ(quit->shouldTerminate(false), QuitReply::terminateLater);
  EXPECT_EQ(reports, 1);
  EXPECT_FALSE(terminatedAt);  // the report is out before the application may end
  loop.advance(1499ms);
  EXPECT_FALSE(terminatedAt);
  loop.advance(1ms);  // 1.5 seconds: the quit goes on without the relay
  EXPECT_TRUE(terminatedAt);
}

TEST_F(QuitTest, AsksOnlyWithPhonesAndASystemQuitSkipsTheQuestionAndReportsOnce) {
  pairings = 0;
  EXPECT_EQ(quit->shouldTerminate(false), QuitReply::terminateNow);
  pairings = 1;
  answer = false;
  EXPECT_EQ(quit->shouldTerminate(false), QuitReply::terminateCancel);
  EXPECT_EQ(reports, 0);
  reportTakes = 200ms;
  const Time start = loop.now();
  EXPECT_EQ(quit->shouldTerminate(true), QuitReply::terminateLater);
  EXPECT_EQ(quit->shouldTerminate(true), QuitReply::terminateLater);  // asked again: no second report
  loop.advance(2s);
  EXPECT_EQ(confirmations, 1);
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(terminatedAt, start + 200ms);  // as soon as the report is done
}

TEST_F(QuitTest, ACheckpointGoesOnAndTheSessionsEndReportsDuringTheSaveAndQuitsAtDie) {
  member.saveYourself({.shutdown = false});
  EXPECT_EQ(saves, 1);
  EXPECT_EQ(reports, 0);

  // The relay never answers: the save is answered after the limit, and the
  // application still runs until the manager says die.
  const Time start = loop.now();
  member.saveYourself({.shutdown = true});
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(saves, 1);
  loop.advance(kStoppedReportLimit);
  EXPECT_EQ(saves, 2);
  EXPECT_FALSE(terminatedAt);
  EXPECT_EQ(confirmations, 0);
  member.die();
  EXPECT_EQ(terminatedAt, start + kStoppedReportLimit);
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(confirmations, 0);
}

TEST_F(QuitTest, ACalledOffEndAnswersTheSaveAndTellsTheCurrentStatus) {
  member.saveYourself({.shutdown = true});
  loop.advance(500ms);
  member.shutdownCancelled();  // while the report is still under way
  EXPECT_EQ(saves, 1);
  EXPECT_EQ(statuses, 1);
  loop.advance(5s);
  EXPECT_EQ(saves, 1);
  EXPECT_FALSE(terminatedAt);
  // After a reported end that was called off, a quit asks again.
  reportTakes = 100ms;
  member.saveYourself({.shutdown = true});
  loop.advance(1s);
  member.shutdownCancelled();
  EXPECT_EQ(statuses, 2);
  answer = false;
  EXPECT_EQ(quit->shouldTerminate(false), QuitReply::terminateCancel);
  EXPECT_EQ(reports, 2);
}

TEST_F(QuitTest, TheSessionsEndAndOtherQuitsTogetherReportOnce) {
  // No phone: the save is answered at once and die quits without a report.
  pairings = 0;
  member.saveYourself({.shutdown = true});
  EXPECT_EQ(saves, 1);
  pairings = 1;

  // A signal arrives while the session's end is being reported: the quit
  // follows the one report.
  reportTakes = 300ms;
  const Time start = loop.now();
  member.saveYourself({.shutdown = true, .fast = true});
  EXPECT_EQ(quit->shouldTerminate(true), QuitReply::terminateLater);
  loop.advance(1s);
  EXPECT_EQ(saves, 2);
  EXPECT_EQ(terminatedAt, start + 300ms);
  EXPECT_EQ(reports, 1);

  // The session begins to end while the quit question shows; "종료" then
  // quits at once without a second report.
  terminatedAt.reset();
  reports = 0;
  quit = std::make_unique<QuitController>(
      QuitController::Dependencies{loop, [] { return std::size_t{1}; }, [this] { return confirm(); },
                                   [this] { return report(); }, [this] { terminatedAt = loop.now(); }});
  whileAsking = [this] {
    quit->sessionEnding([this] { ++saves; });
    loop.advance(2s);
  };
  EXPECT_EQ(quit->shouldTerminate(false), QuitReply::terminateNow);
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(saves, 3);
}

TEST(NotificationClicks, IdentifiersBeginningWithLoginOpenTheLoginWindow) {
  EXPECT_EQ(notificationRoute("login-1764947250"), NotificationRoute::instagramLogin);
  EXPECT_EQ(notificationRoute("login"), NotificationRoute::instagramLogin);
  EXPECT_EQ(notificationRoute("Login-1"), NotificationRoute::main);
  EXPECT_EQ(notificationRoute(""), NotificationRoute::main);
  EXPECT_EQ(notificationRoute("message-1764947250"), NotificationRoute::instagramInspect);
}

namespace {

// The tray menu's test notification over a relay on a fake transport, on a
// computer that reports no name.
struct MenuTestNotification : ::testing::Test {
  VirtualLoop loop;
  MemorySettings settings;
  MemoryLog log;
  corvid::testing::FakeTransport transport{loop};
  corvid::testing::FakeNotifier notifier;
  KoreanTimeFormat utc{"UTC"};
  PushClient push{PushClient::Dependencies{settings, log, loop, transport, [] { return std::string(); },
                                           "https://relay.test", 15s, &utc}};

  void send() {
    spawn(sendTestFromMenu(push, notifier, loop));
    loop.runDue();
  }
};

}  // namespace

TEST_F(MenuTestNotification, TheOutcomeReachesTheDesktopOnceTheTestHasFinished) {
  push.setPairings({{"s1", "iPhone", "production", loop.now()}});
  transport.delay = 2s;
  send();
  ASSERT_EQ(transport.requests.size(), 1u);
  EXPECT_EQ(corvid::testing::jsonOf(transport.requests[0])["body"], "PC에서 보낸 시험 알림입니다");
  EXPECT_TRUE(notifier.posted.empty());  // not while the request is out
  loop.advance(2s);
  ASSERT_EQ(notifier.texts.size(), 1u);
  EXPECT_EQ(notifier.texts[0].first, "시험 알림 보내기");
  EXPECT_EQ(notifier.texts[0].second, push.testNote()->text);
  EXPECT_TRUE(notifier.texts[0].second.starts_with("보냈습니다 ("));
  EXPECT_TRUE(notifier.posted[0].starts_with("test-"));
  EXPECT_EQ(notificationRoute(notifier.posted[0]), NotificationRoute::main);

  // A failure shows the failure text.
  transport.delay = 0s;
  transport.respond = [](const HttpRequest&) { return corvid::testing::noAnswer(HttpFailureKind::timedOut); };
  send();
  ASSERT_EQ(notifier.texts.size(), 2u);
  EXPECT_TRUE(push.testNote()->isError);
  EXPECT_EQ(notifier.texts[1].second, push.testNote()->text);
}
