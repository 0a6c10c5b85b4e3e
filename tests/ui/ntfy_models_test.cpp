// What a configured ntfy topic changes in the health, the status texts, the
// menu and the main window, and the QR code of the topic.
#include <gtest/gtest.h>

#include "ui/main_window_model.h"
#include "ui/menu_model.h"
#include "ui/qr_code.h"
#include "ui/status.h"
#include "watcher/health.h"

using namespace corvid;
using namespace std::chrono;

namespace {

const Time kNow = Time{} + seconds(1764947250);
const KoreanTimeFormat utc("UTC");

}  // namespace

TEST(NtfyModels, ATopicCountsAsAPhoneAndItsProblemShows) {
  HealthInputs in{"ok", false, kNow - seconds(1), kNow - seconds(500), true, false, false, {}, {}, false, {}};
  EXPECT_EQ(deriveHealth(in, kNow), Health::noPhone());
  in.hasNtfyTopic = true;
  EXPECT_EQ(deriveHealth(in, kNow), Health::ok());
  in.ntfyProblem = "ntfy 주제에 보낼 권한이 없습니다. 토큰을 확인하세요.";
  EXPECT_EQ(deriveHealth(in, kNow), Health::serverProblem(*in.ntfyProblem));
  in.hasPairings = true;
  in.deliveryProblem = "d";  // the relay's problem comes first
  EXPECT_EQ(deriveHealth(in, kNow), Health::serverProblem("d"));

  EXPECT_FALSE(isSetupComplete(true, 0, false));
  EXPECT_TRUE(isSetupComplete(true, 0, true));
  EXPECT_FALSE(isSetupComplete(false, 0, true));
  EXPECT_TRUE(sendTestEnabled(0, true));
  EXPECT_FALSE(sendTestEnabled(0, false));
  MenuInputs menu{Health::ok(), {}, true};
  EXPECT_TRUE(menuItems(menu)[2].enabled);  // title, separator, "시험 알림 보내기"

  StatusLineInputs lines{std::nullopt, "ok", -1, 0, 0, std::nullopt, 0, true};
  EXPECT_EQ(statusLines(lines, kNow, utc), std::vector<std::string>{"ntfy로 알림"});
  lines.pairingCount = 1;
  lines.lastPushAt = kNow - seconds(3);
  EXPECT_EQ(statusLines(lines, kNow, utc), std::vector<std::string>{"iPhone 1대 연결됨 · ntfy · 마지막 알림 방금"});
}

TEST(NtfyModels, TheSectionKeepsWhatIsTypedAndShowsTheCodeOfTheStoredTopic) {
  MainWindowInputs in;
  in.health = Health::ok();
  in.ntfyTopicURL = "https://ntfy.sh/corvid-x";
  in.hasNtfyTopic = true;
  in.ntfyTestNote = PushClient::Note{"보내는 중…", false};
  MainWindowModel m = mainWindowModel(in, {}, "1.0 (1)", kNow, utc);
  EXPECT_EQ(m.ntfyTopicText, "https://ntfy.sh/corvid-x");
  EXPECT_FALSE(m.ntfyTopicCaption);
  EXPECT_EQ(m.qrCodeText, "https://ntfy.sh/corvid-x");
  EXPECT_TRUE(m.ntfyTestEnabled);
  EXPECT_EQ(m.ntfyTestNote, (Caption{"보내는 중…", Tint::secondary}));
  // Being typed: kept as typed, not valid, no code of the old topic.
  m = mainWindowModel(in, {"", {}, "http://ntfy.sh/corvid-y"}, "1.0 (1)", kNow, utc);
  EXPECT_EQ(m.ntfyTopicText, "http://ntfy.sh/corvid-y");
  EXPECT_EQ(m.ntfyTopicCaption, (Caption{"주소가 올바르지 않습니다", Tint::red}));
  EXPECT_FALSE(m.qrCodeText);
  EXPECT_FALSE(ntfyTopicCaption(" "));  // empty: ntfy off, nothing wrong

  auto code = qrCode("https://ntfy.sh/corvid-abcdefghij0123456789");
  ASSERT_TRUE(code);
  EXPECT_EQ(code->size, 33);  // version 4 at level M
  // The three finder patterns: dark corners with a light ring inside.
  for (auto [x, y] : {std::pair{0, 0}, std::pair{code->size - 7, 0}, std::pair{0, code->size - 7}}) {
    EXPECT_TRUE(code->dark(x, y) && code->dark(x + 6, y + 6) && code->dark(x + 3, y + 3));
    EXPECT_FALSE(code->dark(x + 1, y + 1));
  }
  EXPECT_FALSE(qrCode(""));
}
