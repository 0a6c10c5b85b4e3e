#include <gtest/gtest.h>

#include <filesystem>

#include "ui/status.h"

using namespace corvid;
using namespace std::chrono;

namespace {

// 2025-12-05 15:07:30 UTC; the texts below are formatted in UTC.
const Time kNow = Time{} + seconds(1764947250);

const KoreanTimeFormat& utc() {
  static const KoreanTimeFormat format("UTC");
  return format;
}

}  // namespace

TEST(StatusPresentation, EveryHealthHasItsTextsSymbolTintAndDot) {
  struct Case {
    Health health;
    std::optional<Symbol> symbol;  // none: a spinner
    Tint tint;
    bool attention;
    const char* title;
    std::optional<std::string> menuDetail;
    const char* windowDetail;
  };
  const Case cases[] = {
      {Health::loginNeeded(true), Symbol::loginProblem, Tint::accent, true, "Instagram에 로그인하세요",
       "로그인하면 지켜보기 시작합니다",
       "이 Mac에서 받은편지함을 지켜보려면 한 번 로그인해야 합니다. 로그인 정보는 이 Mac에만 저장됩니다."},
      {Health::loginNeeded(false), Symbol::loginProblem, Tint::red, true, "Instagram 로그인이 풀렸습니다",
       "다시 로그인할 때까지 알림이 멈춥니다", "다시 로그인할 때까지 iPhone으로 알림이 가지 않습니다."},
      {Health::serverProblem("알림 서버에 연결하지 못했습니다."), Symbol::serverProblem, Tint::orange, true,
       "알림을 보내지 못하고 있습니다", "알림 서버에 연결하지 못했습니다.",
       "알림 서버에 연결하지 못했습니다. 잠시 뒤 다시 시도합니다."},
      {Health::starting(), std::nullopt, Tint::none, false, "시작하는 중", "받은편지함을 여는 중",
       "Instagram 받은편지함을 여는 중입니다."},
      {Health::offline(), Symbol::offline, Tint::orange, true, "인터넷에 연결되어 있지 않습니다",
       "연결되면 자동으로 다시 지켜봅니다", "인터넷이 연결되면 자동으로 다시 지켜봅니다."},
      {Health::readProblem(), Symbol::warning, Tint::orange, true, "받은편지함을 읽지 못하고 있습니다",
       "자동으로 다시 불러오는 중",
       "자동으로 다시 불러오는 중입니다. 계속되면 Instagram 화면을 열어 확인해 보세요."},
      {Health::noPhone(), Symbol::connectPhone, Tint::accent, true, "iPhone을 연결하세요",
       "iPhone의 Corvid 앱에서 코드를 받아 연결하세요",
       "iPhone의 Corvid 앱에서 설정 › Mac으로 알림 받기를 열면 6자리 코드가 보입니다. 아래 iPhone 칸에 "
       "입력하세요."},
      {Health::ok(), Symbol::ok, Tint::green, false, "지켜보는 중", std::nullopt,
       "새 DM이 오면 iPhone으로 알림을 보냅니다. 이 창을 닫아도 메뉴 막대에서 계속 작동합니다."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    EXPECT_EQ(statusTitle(c.health), c.title);
    EXPECT_EQ(menuDetail(c.health), c.menuDetail);
    EXPECT_EQ(windowDetail(c.health), c.windowDetail);
    EXPECT_EQ(statusSymbol(c.health), (StatusSymbol{!c.symbol, c.symbol}));
    EXPECT_EQ(statusTint(c.health), c.tint);
    EXPECT_EQ(needsAttention(c.health), c.attention);
  }
}

TEST(StatusPresentation, EverySymbolNamesAnIconTheAdwaitaThemeShips) {
  const std::filesystem::path adwaita = "/usr/share/icons/Adwaita/scalable";
  if (!std::filesystem::exists(adwaita)) GTEST_SKIP() << "no Adwaita theme installed";
  for (Symbol s : {Symbol::loginProblem, Symbol::serverProblem, Symbol::offline, Symbol::warning,
                   Symbol::connectPhone, Symbol::ok, Symbol::inspecting, Symbol::person, Symbol::phone}) {
    std::string name(iconName(s));
    bool found = false;
    for (const auto& context : std::filesystem::directory_iterator(adwaita)) {
      found = found || std::filesystem::exists(context.path() / (name + ".svg"));
    }
    EXPECT_TRUE(found) << name;
  }
}

TEST(RelativeTime, CountsSecondsAndMinutesThenShowsTheClockOrTheDate) {
  const std::pair<Duration, const char*> cases[] = {
      {-seconds(30), "방금"},  // a date in the future
      {milliseconds(9999), "방금"},
      {seconds(10), "10초 전"},
      {milliseconds(59999), "59초 전"},
      {seconds(60), "1분 전"},
      {seconds(3599), "59분 전"},
      {seconds(3600), "오후 2:07"},        // today: the clock time
      {hours(16), "12월 4일 오후 11:07"},  // yesterday: month and day
  };
  for (const auto& [ago, text] : cases) EXPECT_EQ(relativeTime(kNow - ago, kNow, utc()), text);
  EXPECT_EQ(relativeTime(std::nullopt, kNow, utc()), "아직 없음");

  // The day boundary counts only after an hour.
  Time yesterday2359 = Time{} + seconds(1764892740);  // 2025-12-04 23:59:00 UTC
  EXPECT_EQ(relativeTime(yesterday2359, yesterday2359 + minutes(31), utc()), "31분 전");
  EXPECT_EQ(relativeTime(yesterday2359, yesterday2359 + minutes(61), utc()), "12월 4일 오후 11:59");
}

TEST(StatusLines, InboxLineThenPhoneLine) {
  StatusLineInputs in;
  EXPECT_TRUE(statusLines(in, kNow, utc()).empty());
  in.lastReadAt = kNow - seconds(5);
  in.sessionState = "ok";
  in.unread = 3;
  EXPECT_EQ(statusLines(in, kNow, utc()), std::vector<std::string>{"받은편지함 확인 방금 · 안 읽은 대화 3"});
  in.igBadge = 0;  // a known badge wins even over a larger unread count
  in.pairingCount = 2;
  EXPECT_EQ(statusLines(in, kNow, utc()),
            (std::vector<std::string>{"받은편지함 확인 방금 · 안 읽은 대화 0", "iPhone 2대 연결됨"}));
  in.lastPushAt = kNow - minutes(5);
  in.sessionState = "logged_out";  // the inbox line goes, the phone line stays
  EXPECT_EQ(statusLines(in, kNow, utc()), std::vector<std::string>{"iPhone 2대 연결됨 · 마지막 알림 5분 전"});
}
