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
      {"١٢٣ ٤٥٦", false, {"١٢٣٤٥٦", true, true}},              // Arabic-Indic digits
      {"½①Ⅻ 12a", false, {"12", true, false}},                 // numeric but not decimal digits
      {"12\xff\xfe"
       "34",
       false,
       {"1234", true, false}},  // malformed bytes
      {"", false, {"", false, false}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    EXPECT_EQ(filterCode(c.typed, c.isPairing), c.expected);
  }
}

TEST(CodeEntry, ConnectNeedsSixCharactersAndNoPairingInFlight) {
  EXPECT_EQ(codeLength("١٢٣٤٥٦"), 6u);  // twelve bytes, six characters
  EXPECT_TRUE(connectStepRuns("١٢٣٤٥٦"));
  EXPECT_FALSE(connectStepRuns("12345"));  // Return with five digits does nothing
  EXPECT_TRUE(connectButtonEnabled("123456", false));
  EXPECT_FALSE(connectButtonEnabled("123456", true));
  EXPECT_FALSE(connectButtonEnabled("12345", false));
}

TEST(MainWindow, OnboardingStepFollowsHealthUntilSetupIsComplete) {
  EXPECT_FALSE(isSetupComplete(true, 0));
  EXPECT_FALSE(isSetupComplete(false, 1));
  EXPECT_TRUE(isSetupComplete(true, 1));
  EXPECT_EQ(setupStep(Health::loginNeeded(true), false), "시작하기 · 1/2단계");
  EXPECT_EQ(setupStep(Health::loginNeeded(false), false), "시작하기 · 1/2단계");
  EXPECT_EQ(setupStep(Health::noPhone(), false), "시작하기 · 2/2단계");
  EXPECT_EQ(setupStep(Health::starting(), false), std::nullopt);
  EXPECT_EQ(setupStep(Health::loginNeeded(false), true), std::nullopt);
}

TEST(MainWindow, StatusActionAreaPerHealth) {
  using Layout = StatusActionArea::Layout;
  using L = LoginItemStatus;
  struct Case {
    Health health;
    L loginItem;
    StatusActionArea expected;
  };
  const StatusActionArea suggestion{
      Layout::suggestion,
      "Mac을 켤 때 자동으로 실행되게 하면 재시동한 뒤에도 알림을 놓치지 않습니다.",
      {{"자동 실행 켜기", MainAction::enableLaunchAtLogin}}};
  const Case cases[] = {
      {Health::loginNeeded(true),
       L::enabled,
       {Layout::prominent, {}, {{"Instagram 로그인…", MainAction::showInstagramLogin}}}},
      {Health::loginNeeded(false),
       L::enabled,
       {Layout::prominent, {}, {{"다시 로그인…", MainAction::showInstagramLogin}}}},
      {Health::serverProblem("x"),
       L::notRegistered,
       {Layout::single, {}, {{"다시 시도", MainAction::retryStatus}}}},
      {Health::readProblem(),
       L::notRegistered,
       {Layout::row,
        {},
        {{"다시 불러오기", MainAction::reloadFromCard},
         {"Instagram 화면 보기", MainAction::showInstagramInspect}}}},
      {Health::ok(), L::notRegistered, suggestion},
      {Health::ok(), L::notFound, suggestion},
      {Health::ok(), L::enabled, {}},
      {Health::ok(), L::requiresApproval, {}},
      {Health::starting(), L::notRegistered, {}},
      {Health::offline(), L::notRegistered, {}},
      {Health::noPhone(), L::notRegistered, {}},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(statusActionArea(cases[i].health, cases[i].loginItem), cases[i].expected);
  }
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
      {{"unknown", false, ""}, "확인 중…", "로그인…"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.session.sessionState + " " + c.text);
    EXPECT_EQ(accountText(c.session), c.text);
    ActionButton b = accountButton(c.session);
    EXPECT_EQ(b.label, c.button);
    EXPECT_EQ(b.action,
              looksLoggedIn(c.session) ? MainAction::confirmLogout : MainAction::showInstagramLogin);
  }
}

TEST(MainWindow, InboxTextPerHealth) {
  std::optional<Time> read = kNow - seconds(12);
  EXPECT_EQ(inboxText(Health::loginNeeded(false), 4, read, kNow, utc()), "로그인하면 지켜보기 시작합니다");
  EXPECT_EQ(inboxText(Health::starting(), 4, read, kNow, utc()), "여는 중…");
  EXPECT_EQ(inboxText(Health::offline(), 4, read, kNow, utc()), "인터넷 연결을 기다리는 중");
  EXPECT_EQ(inboxText(Health::readProblem(), 4, read, kNow, utc()), "읽지 못함 · 자동으로 다시 시도하는 중");
  for (Health h : {Health::serverProblem("x"), Health::noPhone(), Health::ok()}) {
    EXPECT_EQ(inboxText(h, 4, read, kNow, utc()), "지켜보는 중 · 대화 4개 · 12초 전 확인");
  }
}

TEST(MainWindow, LaunchAtLoginCaptionSwitchAndSettingsButton) {
  using L = LoginItemStatus;
  std::optional<std::string> error = "설정하지 못했습니다: denied";
  EXPECT_EQ(launchAtLoginCaption(L::requiresApproval, error),
            (Caption{"시스템 설정 › 일반 › 로그인 항목에서 Corvid를 허용해야 합니다.", Tint::orange}));
  EXPECT_EQ(launchAtLoginCaption(L::notRegistered, error), (Caption{*error, Tint::red}));
  EXPECT_EQ(launchAtLoginCaption(L::enabled, std::nullopt),
            (Caption{"켜 두면 Mac을 다시 켠 뒤에도 바로 알림을 보냅니다.", Tint::secondary}));
  for (L s : {L::notRegistered, L::enabled, L::requiresApproval, L::notFound}) {
    EXPECT_EQ(launchAtLoginSwitchOn(s), s == L::enabled || s == L::requiresApproval);
    EXPECT_EQ(showsLoginItemSettingsButton(s), s == L::requiresApproval);
  }
}

TEST(MainWindow, PhoneSectionRowsAndNotes) {
  EXPECT_EQ(codeRowLabel(0), "코드로 연결");
  EXPECT_EQ(codeRowLabel(1), "iPhone 추가");
  EXPECT_FALSE(sendTestEnabled(0));
  EXPECT_TRUE(sendTestEnabled(1));

  PushClient::Pairing production{"s1", "iPhone15,2", "production", kNow};
  PushClient::Pairing development{"s2", "iPhone16,1", "development", kNow - hours(24)};
  EXPECT_EQ(pairingRow(production, utc()),
            (PairingRow{Symbol::phone, "iPhone15,2", false, "12월 5일 오후 3:07에 연결"}));
  EXPECT_EQ(pairingRow(development, utc()),
            (PairingRow{Symbol::phone, "iPhone16,1", true, "12월 4일 오후 3:07에 연결"}));

  EXPECT_EQ(noteCaption(std::nullopt), std::nullopt);
  EXPECT_EQ(noteCaption(PushClient::Note{"연결했습니다", false}), (Caption{"연결했습니다", Tint::secondary}));
  EXPECT_EQ(noteCaption(PushClient::Note{"실패", true}), (Caption{"실패", Tint::red}));
}

TEST(MainWindow, AdvancedGroupTexts) {
  EXPECT_EQ(statisticsCaption(12, 3, -1, 7),
            "대화 12 · 안 읽음 3 · Instagram 배지 - · 이번 실행에서 보낸 알림 7");
  EXPECT_EQ(statisticsCaption(12, 3, 0, 0),
            "대화 12 · 안 읽음 3 · Instagram 배지 0 · 이번 실행에서 보낸 알림 0");
  EXPECT_FALSE(showsDefaultServerButton("https://relay.example", "https://relay.example"));
  EXPECT_TRUE(showsDefaultServerButton("https://other.example", "https://relay.example"));
  EXPECT_EQ(versionLine("1.0 (1)"), "Corvid for Mac 1.0 (1)");
}

TEST(MainWindow, OneRenderingOfAFreshInstall) {
  MainWindowInputs in;
  in.health = Health::loginNeeded(true);
  in.sessionState = "logged_out";
  in.serverURL = in.defaultServerOrigin = "https://relay.example";
  MainWindowModel m = mainWindowModel(in, {"12", std::nullopt}, "1.0 (1)", kNow, utc());
  EXPECT_EQ(m.setupStep, "시작하기 · 1/2단계");
  EXPECT_EQ(m.symbol, Symbol::loginProblem);
  EXPECT_EQ(m.title, "Instagram에 로그인하세요");
  EXPECT_TRUE(m.statusLines.empty());
  EXPECT_EQ(m.actions.buttons.at(0).label, "Instagram 로그인…");
  EXPECT_EQ(m.codeRowLabel, "코드로 연결");
  EXPECT_FALSE(m.connectEnabled);
  EXPECT_FALSE(m.sendTestEnabled);
  EXPECT_EQ(m.accountText, "로그인 안 됨");
  EXPECT_EQ(m.accountButton.label, "로그인…");
  EXPECT_FALSE(m.showsDefaultServerButton);
  EXPECT_EQ(m.statistics, "대화 0 · 안 읽음 0 · Instagram 배지 - · 이번 실행에서 보낸 알림 0");
  EXPECT_EQ(m.versionLine, "Corvid for Mac 1.0 (1)");
  EXPECT_FALSE(m.wantsCodeFocus);
}

TEST(MainWindow, CodeFieldTakesTheFocusWhenTheHealthTurnsToNoPhone) {
  using K = Health::Kind;
  EXPECT_TRUE(codeFocusOnHealthChange(std::nullopt, Health::noPhone()));  // first rendering
  EXPECT_TRUE(codeFocusOnHealthChange(K::loginNeeded, Health::noPhone()));
  EXPECT_FALSE(codeFocusOnHealthChange(K::noPhone, Health::noPhone()));  // no second grab while typing
  EXPECT_FALSE(codeFocusOnHealthChange(K::noPhone, Health::ok()));
  EXPECT_FALSE(codeFocusOnHealthChange(std::nullopt, Health::starting()));
}
