#include <gtest/gtest.h>

#include "app/lifecycle.h"
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
  int confirmations = 0, reports = 0;
  Duration reportTakes = 24h;
  std::optional<Time> terminatedAt;
  std::unique_ptr<QuitController> quit = std::make_unique<QuitController>(
      QuitController::Dependencies{loop, [this] { return pairings; }, [this] { return confirm(); },
                                   [this] { return report(); }, [this] { terminatedAt = loop.now(); }});

  bool confirm() {
    ++confirmations;
    return answer;
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
