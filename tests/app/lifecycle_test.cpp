#include <gtest/gtest.h>

#include "app/lifecycle.h"
#include "base/log.h"
#include "base/settings.h"
#include "base/virtual_loop.h"
#include "push/push_client.h"
#include "support/fake_platform.h"

using namespace corvid;
using namespace std::chrono_literals;

TEST(Launch, VersionTextAndLaunchLine) {
  EXPECT_EQ(versionText("2.3", "41"), "2.3 (41)");
  EXPECT_EQ(versionText("", ""), "1.0 (1)");
  EXPECT_EQ(launchLine("1.0 (1)", false, 0, LoginItemStatus::notRegistered),
            "app: launched 1.0 (1), setup incomplete, phones 0, login item 0");
  EXPECT_EQ(launchLine("1.0 (1)", true, 2, LoginItemStatus::requiresApproval),
            "app: launched 1.0 (1), setup complete, phones 2, login item 2");
}

namespace {

// A quit controller whose stopped-status report goes through a real push
// client to a relay that never answers (unless a test sets a delay).
struct QuitTest : ::testing::Test {
  VirtualLoop loop;
  MemorySettings settings;
  MemoryLog log;
  corvid::testing::FakeTransport transport{loop};
  PushClient push{
      {settings, log, loop, transport, [] { return std::string("PC"); }, "https://relay.test.invalid"}};
  std::size_t pairings = 1;
  bool answer = true;
  int confirmations = 0;
  std::optional<Duration> terminatedAfter;
  Time start = loop.now();
  std::unique_ptr<QuitController> quit;

  void SetUp() override {
    transport.delay = std::chrono::hours(24 * 365);
    auto confirm = [this] {
      ++confirmations;
      return answer;
    };
    auto report = [this]() -> Task<void> {
      JsonObject body;
      body["status"] = std::string("stopped");
      co_await push.request(std::string("/v1/status"), std::string("POST"), std::string("secret"), body);
    };
    quit = std::make_unique<QuitController>(
        QuitController::Dependencies{loop, [this] { return pairings; }, confirm, report,
                                     [this] { terminatedAfter = loop.now() - start; }});
  }
};

}  // namespace

TEST_F(QuitTest, WithoutPhonesQuitsAtOnceAndADeclinedConfirmationKeepsRunning) {
  pairings = 0;
  EXPECT_EQ(quit->shouldTerminate(false), QuitReply::terminateNow);
  EXPECT_EQ(confirmations, 0);
  pairings = 1;
  answer = false;
  EXPECT_EQ(quit->shouldTerminate(false), QuitReply::terminateCancel);
  loop.advance(5s);
  EXPECT_EQ(confirmations, 1);
  EXPECT_TRUE(transport.requests.empty());
  EXPECT_FALSE(terminatedAfter);
}

TEST_F(QuitTest, ConfirmedQuitWaitsAtMostOneAndAHalfSecondsForASilentRelay) {
  EXPECT_EQ(quit->shouldTerminate(false), QuitReply::terminateLater);
  EXPECT_EQ(transport.requests.size(), 1u);
  loop.advance(1499ms);
  EXPECT_FALSE(terminatedAfter);
  loop.advance(1ms);
  EXPECT_EQ(terminatedAfter, Duration(1500ms));
}

TEST_F(QuitTest, SystemQuitSkipsTheConfirmationAndEndsWhenTheReportIsDone) {
  transport.delay = 200ms;
  EXPECT_EQ(quit->shouldTerminate(true), QuitReply::terminateLater);
  EXPECT_EQ(quit->shouldTerminate(true), QuitReply::terminateLater);  // asked again: no second report
  loop.advance(2s);
  EXPECT_EQ(confirmations, 0);
  EXPECT_EQ(transport.requests.size(), 1u);
  EXPECT_EQ(terminatedAfter, Duration(200ms));
}

TEST_F(QuitTest, ControllerGoneDuringTheStopSequenceRepliesNothing) {
  EXPECT_EQ(quit->shouldTerminate(true), QuitReply::terminateLater);
  quit.reset();  // cancels the report and the sleep
  loop.advance(5s);
  EXPECT_FALSE(terminatedAfter);
}
