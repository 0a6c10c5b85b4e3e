// What the main window shows: the status section with its onboarding step
// and action area, the paired iPhones and the code entry, the Instagram
// account, the general switches and the advanced group. Each rule is a pure
// function over plain values; `mainWindowModel` puts them together for one
// rendering, and `mainWindowInputs` reads the values from the Watcher.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/korean_time.h"
#include "base/time.h"
#include "push/push_client.h"
#include "ui/symbols.h"
#include "watcher/health.h"
#include "watcher/platform.h"

namespace corvid {

class Watcher;

// Setup is complete once the Watcher has watched at least once and a phone
// can be reached: a pairing or an ntfy topic. The launch line, the launch
// decision, the onboarding step and the login-window handling all use this
// one condition.
bool isSetupComplete(bool everWatched, std::size_t pairingCount, bool hasNtfyTopic = false);
bool isSetupComplete(const Watcher& watcher);

// Every operation a control of the main window can start.
enum class MainAction {
  showInstagramLogin,     // the Instagram window in login mode
  showInstagramInspect,   // the Instagram window in inspect mode
  retryStatus,            // a task awaiting the Watcher's sendCurrentStatus()
  reloadFromCard,         // the Watcher's reload with reason "card"
  reloadFromSettings,     // the Watcher's reload with reason "settings"
  enableLaunchAtLogin,    // launchError = setLaunchAtLogin(true)
  confirmLogout,          // show the logout confirmation
  openLoginItemSettings,  // the desktop's settings for applications started at login
  sendTest,               // a task awaiting the push client's test notification
  connect,                // the connect step with the typed code
  confirmUnpair,          // show the unpair confirmation for one pairing
  resetServer,            // serverURL = default origin, then the server-change handling
  revealLog,              // show the activity log file in the file manager
  newNtfyTopic,           // fill the topic field with a new random topic
  sendNtfyTest,           // a task awaiting the push client's ntfy test notification
};

inline constexpr const char* kCardReloadReason = "card";
inline constexpr const char* kSettingsReloadReason = "settings";

struct ActionButton {
  std::string label;
  MainAction action = MainAction::showInstagramLogin;
  bool operator==(const ActionButton&) const = default;
};

// A text with its colour.
struct Caption {
  std::string text;
  Tint tint = Tint::secondary;
  bool operator==(const Caption&) const = default;
};

// --- status section -------------------------------------------------------

// "시작하기 · 1/2단계" while a login is needed, "시작하기 · 2/2단계" while no
// phone is paired, nothing once setup is complete or otherwise.
std::optional<std::string> setupStep(const Health& health, bool setupComplete);

// The action area under the status texts.
struct StatusActionArea {
  enum class Layout {
    none,        // nothing
    prominent,   // one prominent, large button
    single,      // one ordinary button
    row,         // a row of buttons
    suggestion,  // a note (callout, secondary) above one button, stacked
  };
  Layout layout = Layout::none;
  std::string note;
  std::vector<ActionButton> buttons;
  bool operator==(const StatusActionArea&) const = default;
};
StatusActionArea statusActionArea(const Health& health, LoginItemStatus launchAtLogin);

// --- iPhone section -------------------------------------------------------

inline constexpr std::size_t kCodeLength = 6;

// The code field after a change: only the numbers (Unicode decimal digits,
// not only 0-9), at most the first six. `changed` tells whether the field
// must be given the filtered text; `connect` whether the connect step runs
// now (the sixth digit arrived and no pairing is in flight).
struct CodeEdit {
  std::string code;
  bool changed = false;
  bool connect = false;
  bool operator==(const CodeEdit&) const = default;
};
CodeEdit filterCode(std::string_view typed, bool isPairing);

// The length of a code in characters (not bytes).
std::size_t codeLength(std::string_view code);
// The connect step runs only for a code of exactly six characters (a step
// while a pairing is in flight is refused by the push client).
bool connectStepRuns(std::string_view code);
// "연결" is enabled for six characters while no pairing is in flight.
bool connectButtonEnabled(std::string_view code, bool isPairing);

// "시험 알림 보내기" is enabled while a phone can be reached: a pairing or
// an ntfy topic.
bool sendTestEnabled(std::size_t pairingCount, bool hasNtfyTopic = false);
// The label of the code row: "코드로 연결" without pairing, else "iPhone 추가".
std::string codeRowLabel(std::size_t pairingCount);

struct PairingRow {
  Symbol symbol = Symbol::phone;
  std::string deviceModel;
  bool developmentBadge = false;  // environment other than "production"
  std::string dateLine;           // the pairing date in "ko_KR" + "에 연결"
  bool operator==(const PairingRow&) const = default;
};
PairingRow pairingRow(const PushClient::Pairing& pairing,
                      const KoreanTimeFormat& format = KoreanTimeFormat::shared());

// A pairing or test note: red when it is an error, secondary otherwise.
std::optional<Caption> noteCaption(const std::optional<PushClient::Note>& note);

// --- ntfy section ---------------------------------------------------------

// The topic field as typed: "주소가 올바르지 않습니다" (red) for a text that is
// neither empty nor a usable topic URL, which is then not stored.
std::optional<Caption> ntfyTopicCaption(std::string_view typed);

// --- Instagram section ----------------------------------------------------

struct SessionInputs {
  std::string sessionState;
  bool hasRead = false;  // lastReadAt is set
  std::string viewerUsername;
};
// "ok", or neither "ok" nor "logged_out" with a successful read.
bool looksLoggedIn(const SessionInputs& in);
std::string accountText(const SessionInputs& in);
// "로그아웃…" (confirm the logout) when logged in, else "로그인…".
ActionButton accountButton(const SessionInputs& in);

std::string inboxText(const Health& health, int threads, const std::optional<Time>& lastReadAt, Time now,
                      const KoreanTimeFormat& format = KoreanTimeFormat::shared());

// --- general section ------------------------------------------------------

Caption launchAtLoginCaption(LoginItemStatus status, const std::optional<std::string>& launchError);
// On while enabled or waiting for approval.
bool launchAtLoginSwitchOn(LoginItemStatus status);
// Only while the login item waits for approval.
bool showsLoginItemSettingsButton(LoginItemStatus status);

// --- advanced group -------------------------------------------------------

// "기본값" shows while the server URL differs from the default origin.
bool showsDefaultServerButton(std::string_view serverURL, std::string_view defaultOrigin);
std::string statisticsCaption(int threads, int unread, int igBadge, int sentCount);
// "Corvid for Linux " + the version text.
std::string versionLine(std::string_view versionText);

// --- confirmations --------------------------------------------------------

struct Confirmation {
  std::string_view title;
  std::string_view confirmButton;  // destructive
  std::string_view cancelButton;
  std::string_view message;
};
inline constexpr Confirmation kLogoutConfirmation{
    "Instagram에서 로그아웃할까요?", "로그아웃", "취소",
    "이 컴퓨터의 Corvid에 저장된 Instagram 로그인 정보를 지웁니다. 다시 로그인할 때까지 iPhone으로 알림이 가지 "
    "않습니다."};
inline constexpr Confirmation kUnpairConfirmation{
    "이 iPhone의 연결을 해제할까요?", "연결 해제", "취소",
    "해제하면 이 iPhone으로 알림이 가지 않습니다. 다시 쓰려면 새 코드로 연결하세요."};

// --- fixed texts ----------------------------------------------------------

namespace main_window_text {
inline constexpr std::string_view kWindowTitle = "Corvid";
inline constexpr std::string_view kPhoneHeader = "iPhone";
inline constexpr std::string_view kPhoneFooter =
    "코드는 iPhone의 Corvid 앱에서 설정 › Mac으로 알림 받기를 열면 보이며, 10분 동안 쓸 수 있습니다.";
inline constexpr std::string_view kCodePrompt = "6자리 코드";
inline constexpr std::string_view kConnectButton = "연결";
inline constexpr std::string_view kSendTestButton = "시험 알림 보내기";
inline constexpr std::string_view kDevelopmentBadge = "개발용";
inline constexpr std::string_view kUnpairButton = "연결 해제…";
inline constexpr std::string_view kInstagramHeader = "Instagram";
inline constexpr std::string_view kInstagramFooter =
    "Corvid 안에서만 쓰는 로그인입니다. Firefox나 Chrome의 Instagram 로그인과는 따로 저장됩니다.";
inline constexpr std::string_view kAccountLabel = "계정";
inline constexpr std::string_view kInboxLabel = "받은편지함";
inline constexpr std::string_view kGeneralHeader = "일반";
inline constexpr std::string_view kLaunchAtLoginLabel = "컴퓨터를 켤 때 자동으로 실행";
inline constexpr std::string_view kLoginItemSettingsButton = "로그인 항목 설정 열기";
inline constexpr std::string_view kSnippetLabel = "알림에 메시지 미리보기 표시";
inline constexpr std::string_view kSnippetCaption = "끄면 보낸 사람 이름과 “새 메시지”만 보냅니다.";
inline constexpr std::string_view kDesktopMessagesLabel = "이 컴퓨터에도 메시지 알림 표시";
inline constexpr std::string_view kNtfyHeader = "ntfy";
inline constexpr std::string_view kNtfyTopicLabel = "ntfy 주제";
inline constexpr std::string_view kNtfyTopicPrompt = "https://ntfy.sh/…";
inline constexpr std::string_view kNewNtfyTopicButton = "새 주제 만들기";
inline constexpr std::string_view kNtfyTokenLabel = "액세스 토큰";
inline constexpr std::string_view kNtfyTokenPrompt = "선택 사항";
inline constexpr std::string_view kNtfyTestButton = "ntfy로 시험 알림 보내기";
inline constexpr std::string_view kNtfyFooter =
    "ntfy 앱에서 이 주제를 구독하면 알림을 받습니다. 주제 이름을 아는 사람은 누구나 알림을 볼 수 있으니 추측하기 "
    "어려운 이름을 쓰세요. 메시지 미리보기를 끄면 내용은 보내지 않습니다.";
inline constexpr std::string_view kAdvancedHeader = "고급";
inline constexpr std::string_view kServerLabel = "알림 서버";
inline constexpr std::string_view kServerPrompt = "https://…";
inline constexpr std::string_view kDefaultServerButton = "기본값";
inline constexpr std::string_view kServerCaption = "서버를 바꾸면 iPhone을 다시 연결해야 합니다.";
inline constexpr std::string_view kInspectButton = "Instagram 화면";
inline constexpr std::string_view kReloadButton = "다시 불러오기";
inline constexpr std::string_view kRevealLogButton = "로그 보기";
}  // namespace main_window_text

// --- window and focus -----------------------------------------------------

// The form's smallest size; the window opens at 520 × 720.
inline constexpr int kMainWindowMinWidth = 460;
inline constexpr int kMainWindowMinHeight = 480;

// The code field takes the keyboard focus whenever the health turns to
// `noPhone` (also on the first rendering, when there is no earlier health).
bool codeFocusOnHealthChange(const std::optional<Health::Kind>& previous, const Health& current);

// --- one rendering --------------------------------------------------------

// The published values the main window shows.
struct MainWindowInputs {
  Health health;
  bool everWatched = false;
  std::string sessionState;
  std::optional<Time> lastReadAt;
  std::string viewerUsername;
  int threads = 0;
  int unread = 0;
  int igBadge = -1;
  LoginItemStatus launchAtLogin = LoginItemStatus::notRegistered;
  bool includeSnippet = true;
  std::vector<PushClient::Pairing> pairings;
  bool isPairing = false;
  std::optional<PushClient::Note> pairNote;
  std::optional<PushClient::Note> testNote;
  std::optional<Time> lastPushAt;
  std::string serverURL;
  std::string defaultServerOrigin;
  int sentCount = 0;
  std::string ntfyTopicURL;  // as stored; "" for none
  std::string ntfyAccessToken;
  bool hasNtfyTopic = false;
  std::optional<PushClient::Note> ntfyTestNote;
  bool desktopMessageNotifications = false;
  int waiting = 0;
};
MainWindowInputs mainWindowInputs(const Watcher& watcher);

// The view's own state that the texts depend on.
struct MainWindowViewState {
  std::string code;
  std::optional<std::string> launchError;
  // The topic field as typed; none until the user edits it (the field then
  // shows the stored topic).
  std::optional<std::string> ntfyTopicText;
};

struct MainWindowModel {
  // status section
  std::optional<std::string> setupStep;
  bool spinner = false;
  std::optional<Symbol> symbol;
  Tint tint = Tint::none;
  std::string title;
  std::string detail;
  std::vector<std::string> statusLines;
  StatusActionArea actions;
  // iPhone section
  std::vector<PairingRow> pairingRows;
  std::string codeRowLabel;
  bool showsPairingSpinner = false;
  bool connectEnabled = false;
  std::optional<Caption> pairNote;
  bool sendTestEnabled = false;
  std::optional<Caption> testNote;
  // ntfy section
  std::string ntfyTopicText;            // what the topic field holds
  std::optional<Caption> ntfyTopicCaption;
  std::optional<std::string> qrCodeText;  // the stored topic URL, while the field holds it
  bool ntfyTestEnabled = false;
  std::optional<Caption> ntfyTestNote;
  // Instagram section
  std::string accountText;
  ActionButton accountButton;
  std::string inboxText;
  // general section
  bool launchAtLoginOn = false;
  Caption launchAtLoginCaption;
  bool showsLoginItemSettingsButton = false;
  bool includeSnippet = true;
  bool desktopMessageNotifications = false;
  // advanced group
  std::string serverURL;
  bool showsDefaultServerButton = false;
  std::string statistics;
  std::string versionLine;
  // whether the code field should hold the keyboard focus (health noPhone)
  bool wantsCodeFocus = false;
};
MainWindowModel mainWindowModel(const MainWindowInputs& in, const MainWindowViewState& view,
                                std::string_view versionText, Time now,
                                const KoreanTimeFormat& format = KoreanTimeFormat::shared());

}  // namespace corvid
