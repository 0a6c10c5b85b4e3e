#include <gtest/gtest.h>

#include "app/lifecycle.h"
#include "base/virtual_loop.h"

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
  loop.advance(kStoppedReportLimit);
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
