#include <gtest/gtest.h>

#include "ui/main_window_model.h"

using namespace corvid;
using namespace std::chrono;

namespace {

const Time kNow = Time{} + seconds(1764947250);  // 2025-12-05 15:07:30 UTC

const KoreanTimeFormat& utc() {
  static const KoreanTimeFormat format("UTC");
  return format;
}

}  // namespace

TEST(CodeEntry, KeepsAtMostSixUnicodeDigitsAndConnectsOnTheSixth) {
  struct Case {
    const char* typed;
    bool isPairing;
    CodeEdit expected;
  };
  const Case cases[] = {
      {"12 34 56", false, {"123456", true, true}},  // pasted with spaces
      {"1234567", false, {"123456", true, true}},   // seven digits: the first six
      {"12345", false, {"12345", false, false}},
      {"123456", true, {"123456", false, false}},              // a pairing in flight: no second one
      {"１２３４５６", false, {"１２３４５６", false, true}},  // full-width digits are numbers
      {"½①Ⅻ 12a", false, {"12", true, false}},                 // numeric but not decimal digits
      {"12\xff\xfe\x33\x34", false, {"1234", true, false}},    // malformed bytes
  };
  for (const auto& c : cases) EXPECT_EQ(filterCode(c.typed, c.isPairing), c.expected) << c.typed;

  EXPECT_EQ(codeLength("١٢٣٤٥٦"), 6u);  // twelve bytes, six characters
  EXPECT_TRUE(connectStepRuns("١٢٣٤٥٦"));
  EXPECT_FALSE(connectStepRuns("12345"));  // Return with five digits does nothing
  EXPECT_TRUE(connectButtonEnabled("123456", false));
  EXPECT_FALSE(connectButtonEnabled("123456", true));
}

TEST(MainWindow, OnboardingStepFollowsHealthUntilSetupIsComplete) {
  EXPECT_FALSE(isSetupComplete(true, 0));
  EXPECT_FALSE(isSetupComplete(false, 1));
  EXPECT_TRUE(isSetupComplete(true, 1));
  EXPECT_EQ(setupStep(Health::loginNeeded(false), false), "시작하기 · 1/2단계");
  EXPECT_EQ(setupStep(Health::noPhone(), false), "시작하기 · 2/2단계");
  EXPECT_EQ(setupStep(Health::starting(), false), std::nullopt);
  EXPECT_EQ(setupStep(Health::loginNeeded(false), true), std::nullopt);
}

TEST(MainWindow, StatusActionAreaPerHealth) {
  using Layout = StatusActionArea::Layout;
  using L = LoginItemStatus;
  using A = MainAction;
  struct Case {
    Health health;
    L loginItem;
    Layout layout;
    std::vector<MainAction> actions;
  };
  const Case cases[] = {
      {Health::loginNeeded(false), L::enabled, Layout::prominent, {A::showInstagramLogin}},
      {Health::serverProblem("x"), L::notRegistered, Layout::single, {A::retryStatus}},
      {Health::readProblem(), L::notRegistered, Layout::row, {A::reloadFromCard, A::showInstagramInspect}},
      {Health::ok(), L::notRegistered, Layout::suggestion, {A::enableLaunchAtLogin}},
      {Health::ok(), L::notFound, Layout::suggestion, {A::enableLaunchAtLogin}},
      {Health::ok(), L::requiresApproval, Layout::none, {}},
      {Health::offline(), L::notRegistered, Layout::none, {}},
      {Health::noPhone(), L::notRegistered, Layout::none, {}},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    StatusActionArea area = statusActionArea(cases[i].health, cases[i].loginItem);
    std::vector<MainAction> actions;
    for (const auto& b : area.buttons) actions.push_back(b.action);
    EXPECT_EQ(area.layout, cases[i].layout) << i;
    EXPECT_EQ(actions, cases[i].actions) << i;
  }
  EXPECT_EQ(statusActionArea(Health::loginNeeded(false), L::enabled).buttons.at(0).label, "다시 로그인…");
}

TEST(MainWindow, AccountTextAndButtonFollowTheSession) {
  struct Case {
    SessionInputs session;
    const char* text;
    const char* button;
  };
  const Case cases[] = {
      {{"logged_out", true, "alice"}, "로그인 안 됨", "로그인…"},  // a known name does not count
      {{"ok", false, "alice"}, "alice", "로그아웃…"},
      {{"ok", false, ""}, "로그인됨", "로그아웃…"},
      {{"unknown", true, ""}, "로그인됨", "로그아웃…"},  // a read succeeded
      {{"error", false, ""}, "확인 중…", "로그인…"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.session.sessionState + " " + c.text);
    EXPECT_EQ(accountText(c.session), c.text);
    EXPECT_EQ(accountButton(c.session).label, c.button);
  }
  EXPECT_EQ(accountButton({"ok", false, ""}).action, MainAction::confirmLogout);
}

TEST(MainWindow, InboxTextPerHealth) {
  std::optional<Time> read = kNow - seconds(12);
  EXPECT_EQ(inboxText(Health::loginNeeded(false), 4, read, kNow, utc()), "로그인하면 지켜보기 시작합니다");
  EXPECT_EQ(inboxText(Health::readProblem(), 4, read, kNow, utc()), "읽지 못함 · 자동으로 다시 시도하는 중");
  for (Health h : {Health::serverProblem("x"), Health::noPhone(), Health::ok()}) {
    EXPECT_EQ(inboxText(h, 4, read, kNow, utc()), "지켜보는 중 · 대화 4개 · 12초 전 확인");
  }
}

TEST(MainWindow, LaunchAtLoginCaptionSwitchAndSettingsButton) {
  using L = LoginItemStatus;
  std::optional<std::string> error = "설정하지 못했습니다: denied";
  EXPECT_EQ(launchAtLoginCaption(L::requiresApproval, error).tint,
            Tint::orange);  // approval wins over an error
  EXPECT_EQ(launchAtLoginCaption(L::notRegistered, error), (Caption{*error, Tint::red}));
  EXPECT_EQ(launchAtLoginCaption(L::enabled, std::nullopt).tint, Tint::secondary);
  for (L s : {L::notRegistered, L::enabled, L::requiresApproval, L::notFound}) {
    EXPECT_EQ(launchAtLoginSwitchOn(s), s == L::enabled || s == L::requiresApproval);
    EXPECT_EQ(showsLoginItemSettingsButton(s), s == L::requiresApproval);
  }
}

TEST(MainWindow, PhoneRowsNotesAndStatistics) {
  PushClient::Pairing development{"s2", "iPhone16,1", "development", kNow - hours(24)};
  EXPECT_EQ(pairingRow(development, utc()),
            (PairingRow{Symbol::phone, "iPhone16,1", true, "12월 4일 오후 3:07에 연결"}));
  EXPECT_FALSE(pairingRow({"s1", "iPhone15,2", "production", kNow}, utc()).developmentBadge);
  EXPECT_EQ(noteCaption(std::nullopt), std::nullopt);
  EXPECT_EQ(noteCaption(PushClient::Note{"실패", true}), (Caption{"실패", Tint::red}));
  EXPECT_EQ(statisticsCaption(12, 3, -1, 7),
            "대화 12 · 안 읽음 3 · Instagram 배지 - · 이번 실행에서 보낸 알림 7");
  EXPECT_EQ(statisticsCaption(12, 3, 0, 0),
            "대화 12 · 안 읽음 3 · Instagram 배지 0 · 이번 실행에서 보낸 알림 0");
  EXPECT_FALSE(showsDefaultServerButton("https://relay.example", "https://relay.example"));
  EXPECT_TRUE(showsDefaultServerButton("https://other.example", "https://relay.example"));
}

TEST(MainWindow, OneRenderingOfAFreshInstall) {
  MainWindowInputs in;
  in.health = Health::loginNeeded(true);
  in.sessionState = "logged_out";
  in.serverURL = in.defaultServerOrigin = "https://relay.example";
  MainWindowModel m = mainWindowModel(in, {"12", std::nullopt}, "1.0 (1)", kNow, utc());
  EXPECT_EQ(m.setupStep, "시작하기 · 1/2단계");
  EXPECT_EQ(m.title, "Instagram에 로그인하세요");
  EXPECT_TRUE(m.statusLines.empty());
  EXPECT_EQ(m.actions.buttons.at(0).label, "Instagram 로그인…");
  EXPECT_FALSE(m.connectEnabled || m.sendTestEnabled || m.showsDefaultServerButton || m.wantsCodeFocus);
  EXPECT_EQ(m.accountText, "로그인 안 됨");
  EXPECT_EQ(m.versionLine, "Corvid for Mac 1.0 (1)");
}

TEST(MainWindow, CodeFieldTakesTheFocusWhenTheHealthTurnsToNoPhone) {
  using K = Health::Kind;
  EXPECT_TRUE(codeFocusOnHealthChange(std::nullopt, Health::noPhone()));  // first rendering
  EXPECT_TRUE(codeFocusOnHealthChange(K::loginNeeded, Health::noPhone()));
  EXPECT_FALSE(codeFocusOnHealthChange(K::noPhone, Health::noPhone()));  // no second grab while typing
  EXPECT_FALSE(codeFocusOnHealthChange(std::nullopt, Health::starting()));
}
