// The models behind the tray menu and the windows. Texts are spot-checked
// once per function; the rules that choose between them are tables.
#include <gtest/gtest.h>

#include "ui/instagram_window_model.h"
#include "ui/main_window_model.h"
#include "ui/menu_model.h"
#include "ui/status.h"

using namespace corvid;
using namespace std::chrono;

namespace {

const Time kNow = Time{} + seconds(1764947250);  // 2025-12-05 15:07:30 UTC
const KoreanTimeFormat utc("UTC");

}  // namespace

TEST(Status, EachHealthHasItsPictureMenuFixAndWindowActions) {
  using A = MainAction;
  using L = StatusActionArea::Layout;
  using M = MenuAction;
  using S = Symbol;
  using T = Tint;
  struct Case {
    Health health;
    std::optional<Symbol> symbol;  // none: a spinner
    Tint tint;
    bool attention;
    MenuAction menuFix;
    L layout;
    std::vector<MainAction> actions;  // with launch at login not registered
  };
  const Health first = Health::loginNeeded(true), lost = Health::loginNeeded(false);
  const Health server = Health::serverProblem("x"), reading = Health::readProblem();
  const std::vector<MainAction> readFixes = {A::reloadFromCard, A::showInstagramInspect};
  const Case cases[] = {
      {first, S::loginProblem, T::accent, true, M::showInstagramLogin, L::prominent, {A::showInstagramLogin}},
      {lost, S::loginProblem, T::red, true, M::showInstagramLogin, L::prominent, {A::showInstagramLogin}},
      {server, S::serverProblem, T::orange, true, M::retryStatus, L::single, {A::retryStatus}},
      {Health::starting(), std::nullopt, T::none, false, M::none, L::none, {}},
      {Health::offline(), S::offline, T::orange, true, M::none, L::none, {}},
      {reading, S::warning, T::orange, true, M::reloadInbox, L::row, readFixes},
      {Health::noPhone(), S::connectPhone, T::accent, true, M::showMain, L::none, {}},
      {Health::ok(), S::ok, T::green, false, M::none, L::suggestion, {A::enableLaunchAtLogin}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(statusTitle(c.health));
    EXPECT_EQ(statusSymbol(c.health), (StatusSymbol{!c.symbol, c.symbol}));
    EXPECT_EQ(statusTint(c.health), c.tint);
    EXPECT_EQ(needsAttention(c.health), c.attention);
    // The menu: title, detail (none when ok), separator, then the fix, if any.
    std::vector<MenuItem> items = menuItems({c.health, {}, false});
    const MenuItem& fix = items.at(c.health == Health::ok() ? 2 : 3);
    EXPECT_EQ(fix.action == M::sendTest ? M::none : fix.action, c.menuFix);
    StatusActionArea area = statusActionArea(c.health, LoginItemStatus::notRegistered);
    std::vector<MainAction> actions;
    for (const auto& b : area.buttons) actions.push_back(b.action);
    EXPECT_EQ(area.layout, c.layout);
    EXPECT_EQ(actions, c.actions);
  }
  EXPECT_NE(statusTitle(first), statusTitle(lost));
  EXPECT_EQ(windowDetail(Health::serverProblem("서버 오류.")), "서버 오류. 잠시 뒤 다시 시도합니다.");
  EXPECT_EQ(statusActionArea(lost, LoginItemStatus::enabled).buttons[0].label, "다시 로그인…");
  EXPECT_EQ(statusActionArea(Health::ok(), LoginItemStatus::requiresApproval).layout, L::none);

  // The whole menu when watching: each item as its label, "+" when it can be chosen, and its accelerator.
  std::vector<MenuItem> items = menuItems({Health::ok(), {"받은편지함 확인 방금"}, false});
  std::string shape;
  for (const auto& i : items) shape += i.label + (i.enabled ? "+" : "") + i.accelerator + "|";
  EXPECT_EQ(
      shape,
      "지켜보는 중|받은편지함 확인 방금||시험 알림 보내기||설정…+<Control>comma|Corvid 종료+<Control>q|");
  EXPECT_EQ(items.back().action, M::quit);
  EXPECT_TRUE(menuItems({Health::ok(), {}, true}).at(2).enabled);  // the test notification, with a phone
}

TEST(Status, RelativeTimesAndStatusLines) {
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
  for (const auto& [ago, text] : cases) EXPECT_EQ(relativeTime(kNow - ago, kNow, utc), text);
  EXPECT_EQ(relativeTime(std::nullopt, kNow, utc), "아직 없음");

  StatusLineInputs in{kNow - seconds(5), "ok", -1, 3, 0, std::nullopt};
  EXPECT_EQ(statusLines(in, kNow, utc), std::vector<std::string>{"받은편지함 확인 방금 · 안 읽은 대화 3"});
  in.igBadge = 0;  // a known badge wins even over a larger unread count
  in.pairingCount = 2;
  EXPECT_EQ(statusLines(in, kNow, utc),
            (std::vector<std::string>{"받은편지함 확인 방금 · 안 읽은 대화 0", "iPhone 2대 연결됨"}));
  in.lastPushAt = kNow - minutes(5);
  in.sessionState = "logged_out";  // the inbox line goes, the phone line stays
  EXPECT_EQ(statusLines(in, kNow, utc), std::vector<std::string>{"iPhone 2대 연결됨 · 마지막 알림 5분 전"});
  in.waiting = 4;  // notifications waiting to be sent again
  EXPECT_EQ(statusLines(in, kNow, utc),
            (std::vector<std::string>{"iPhone 2대 연결됨 · 마지막 알림 5분 전",
                                      "보내지 못한 알림 4개 · 연결되면 다시 보냅니다"}));
}

TEST(MainWindow, TheCodeFieldKeepsSixUnicodeDigitsAndTheSectionsFollowTheirRules) {
  const std::pair<const char*, CodeEdit> cases[] = {
      {"12 34 56", {"123456", true, true}},  // pasted with spaces
      {"1234567", {"123456", true, true}},   // seven digits: the first six
      {"12345", {"12345", false, false}},
      {"１２３４５６", {"１２３４５６", false, true}},  // full-width digits are numbers
      {"½①Ⅻ 12a", {"12", true, false}},                 // numeric but not decimal digits
      {"12\xff\xfe\x33\x34", {"1234", true, false}},    // malformed bytes
  };
  for (const auto& [typed, expected] : cases) EXPECT_EQ(filterCode(typed, false), expected) << typed;
  EXPECT_FALSE(filterCode("123456", true).connect);    // a pairing in flight: no second one
  EXPECT_TRUE(connectButtonEnabled("١٢٣٤٥٦", false));  // twelve bytes, six characters
  EXPECT_FALSE(connectButtonEnabled("١٢٣٤٥٦", true));
  EXPECT_TRUE(codeFocusOnHealthChange(Health::Kind::loginNeeded, Health::noPhone()));
  EXPECT_FALSE(codeFocusOnHealthChange(Health::Kind::noPhone, Health::noPhone()));  // no grab while typing

  EXPECT_EQ(setupStep(Health::loginNeeded(false), isSetupComplete(false, 1)), "시작하기 · 1/2단계");
  EXPECT_EQ(setupStep(Health::noPhone(), isSetupComplete(true, 0)), "시작하기 · 2/2단계");
  EXPECT_EQ(setupStep(Health::starting(), false), std::nullopt);
  EXPECT_EQ(setupStep(Health::noPhone(), isSetupComplete(true, 1)), std::nullopt);

  // Account: a read while not logged out counts as logged in; a known name shows only then.
  const std::tuple<SessionInputs, const char*, MainAction> sessions[] = {
      {{"logged_out", true, "alice"}, "로그인 안 됨", MainAction::showInstagramLogin},
      {{"ok", false, "alice"}, "alice", MainAction::confirmLogout},
      {{"unknown", true, ""}, "로그인됨", MainAction::confirmLogout},
      {{"error", false, ""}, "확인 중…", MainAction::showInstagramLogin},
  };
  for (const auto& [in, text, action] : sessions) {
    EXPECT_EQ(accountText(in), text);
    EXPECT_EQ(accountButton(in).action, action) << text;
  }
  EXPECT_EQ(inboxText(Health::ok(), 4, kNow - seconds(12), kNow, utc),
            "지켜보는 중 · 대화 4개 · 12초 전 확인");

  using L = LoginItemStatus;
  // Waiting for approval wins over an error, and shows the switch on with the settings button.
  EXPECT_EQ(launchAtLoginCaption(L::requiresApproval, "x").tint, Tint::orange);
  EXPECT_EQ(launchAtLoginCaption(L::notRegistered, "x"), (Caption{"x", Tint::red}));
  EXPECT_TRUE(launchAtLoginSwitchOn(L::requiresApproval) &&
              showsLoginItemSettingsButton(L::requiresApproval));
  EXPECT_TRUE(launchAtLoginSwitchOn(L::enabled) && !showsLoginItemSettingsButton(L::enabled));
  EXPECT_FALSE(launchAtLoginSwitchOn(L::notFound) || launchAtLoginSwitchOn(L::notRegistered));
  EXPECT_EQ(pairingRow({"s", "iPhone16,1", "development", kNow - hours(24)}, utc),
            (PairingRow{Symbol::phone, "iPhone16,1", true, "12월 4일 오후 3:07에 연결"}));
  EXPECT_FALSE(pairingRow({"s", "iPhone15,2", "production", kNow}, utc).developmentBadge);
  EXPECT_EQ(noteCaption(PushClient::Note{"실패", true}), (Caption{"실패", Tint::red}));
  EXPECT_EQ(statisticsCaption(12, 3, -1, 7),
            "대화 12 · 안 읽음 3 · Instagram 배지 - · 이번 실행에서 보낸 알림 7");
  EXPECT_FALSE(showsDefaultServerButton("https://relay.example", "https://relay.example"));
  // The Instagram window: inspecting ignores the login and offers the way back to the inbox.
  EXPECT_EQ(instagramBanner(InstagramMode::inspect, false), instagramBanner(InstagramMode::inspect, true));
  EXPECT_NE(instagramBanner(InstagramMode::login, true), instagramBanner(InstagramMode::login, false));
}
