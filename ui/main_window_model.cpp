#include "ui/main_window_model.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "base/text.h"
#include "push/ntfy.h"
#include "ui/status.h"
#include "watcher/watcher.h"

namespace corvid {

using Kind = Health::Kind;

bool isSetupComplete(bool everWatched, std::size_t pairingCount, bool hasNtfyTopic) {
  return everWatched && (pairingCount > 0 || hasNtfyTopic);
}

bool isSetupComplete(const Watcher& w) {
  return isSetupComplete(w.everWatched(), w.push().pairings().size(), w.push().hasNtfyTopic());
}

std::optional<std::string> setupStep(const Health& health, bool setupComplete) {
  if (setupComplete) return std::nullopt;
  if (health.kind == Kind::loginNeeded) return "시작하기 · 1/2단계";
  if (health.kind == Kind::noPhone) return "시작하기 · 2/2단계";
  return std::nullopt;
}

StatusActionArea statusActionArea(const Health& h, LoginItemStatus launchAtLogin) {
  using Layout = StatusActionArea::Layout;
  switch (h.kind) {
    case Kind::loginNeeded:
      return {Layout::prominent,
              {},
              {{h.firstTime ? "Instagram 로그인…" : "다시 로그인…", MainAction::showInstagramLogin}}};
    case Kind::serverProblem:
      return {Layout::single, {}, {{"다시 시도", MainAction::retryStatus}}};
    case Kind::readProblem:
      return {Layout::row,
              {},
              {{"다시 불러오기", MainAction::reloadFromCard},
               {"Instagram 화면 보기", MainAction::showInstagramInspect}}};
    case Kind::ok:
      if (launchAtLogin == LoginItemStatus::notRegistered || launchAtLogin == LoginItemStatus::notFound) {
        return {Layout::suggestion,
                "컴퓨터를 켤 때 자동으로 실행되게 하면 재시동한 뒤에도 알림을 놓치지 않습니다.",
                {{"자동 실행 켜기", MainAction::enableLaunchAtLogin}}};
      }
      return {};
    case Kind::starting:
    case Kind::offline:
    case Kind::noPhone:
      return {};
  }
  return {};
}

CodeEdit filterCode(std::string_view typed, bool isPairing) {
  std::string code;
  std::size_t kept = 0;
  const auto* s = reinterpret_cast<const uint8_t*>(typed.data());
  int32_t length = static_cast<int32_t>(typed.size());
  int32_t i = 0;
  while (i < length && kept < kCodeLength) {
    int32_t start = i;
    UChar32 c;
    U8_NEXT(s, i, length, c);
    // Malformed bytes come out negative and are dropped like any other
    // non-number.
    if (c >= 0 && u_isdigit(c)) {
      code.append(typed.substr(start, i - start));
      ++kept;
    }
  }
  bool changed = code != typed;
  bool connect = kept == kCodeLength && !isPairing;
  return {std::move(code), changed, connect};
}

std::size_t codeLength(std::string_view code) {
  const auto* s = reinterpret_cast<const uint8_t*>(code.data());
  int32_t length = static_cast<int32_t>(code.size());
  int32_t i = 0;
  std::size_t count = 0;
  while (i < length) {
    UChar32 c;
    U8_NEXT(s, i, length, c);
    (void)c;
    ++count;
  }
  return count;
}

bool connectStepRuns(std::string_view code) { return codeLength(code) == kCodeLength; }

bool connectButtonEnabled(std::string_view code, bool isPairing) {
  return connectStepRuns(code) && !isPairing;
}

bool sendTestEnabled(std::size_t pairingCount, bool hasNtfyTopic) { return pairingCount > 0 || hasNtfyTopic; }

std::optional<Caption> ntfyTopicCaption(std::string_view typed) {
  if (trimmed(typed).empty() || ntfy::parseTopicURL(typed)) return std::nullopt;
  return Caption{std::string(ntfy::kInvalidURLText), Tint::red};
}

std::string codeRowLabel(std::size_t pairingCount) {
  return pairingCount == 0 ? "코드로 연결" : "iPhone 추가";
}

PairingRow pairingRow(const PushClient::Pairing& p, const KoreanTimeFormat& format) {
  return {Symbol::phone, p.deviceModel, p.environment != "production",
          format.monthDayTime(p.pairedAt) + "에 연결"};
}

std::optional<Caption> noteCaption(const std::optional<PushClient::Note>& note) {
  if (!note) return std::nullopt;
  return Caption{note->text, note->isError ? Tint::red : Tint::secondary};
}

bool looksLoggedIn(const SessionInputs& in) {
  if (in.sessionState == "ok") return true;
  return in.sessionState != "logged_out" && in.hasRead;
}

std::string accountText(const SessionInputs& in) {
  if (in.sessionState == "logged_out") return "로그인 안 됨";
  if (!in.viewerUsername.empty()) return in.viewerUsername;
  return looksLoggedIn(in) ? "로그인됨" : "확인 중…";
}

ActionButton accountButton(const SessionInputs& in) {
  if (looksLoggedIn(in)) return {"로그아웃…", MainAction::confirmLogout};
  return {"로그인…", MainAction::showInstagramLogin};
}

std::string inboxText(const Health& h, int threads, const std::optional<Time>& lastReadAt, Time now,
                      const KoreanTimeFormat& format) {
  switch (h.kind) {
    case Kind::loginNeeded:
      return "로그인하면 지켜보기 시작합니다";
    case Kind::starting:
      return "여는 중…";
    case Kind::offline:
      return "인터넷 연결을 기다리는 중";
    case Kind::readProblem:
      return "읽지 못함 · 자동으로 다시 시도하는 중";
    case Kind::serverProblem:
    case Kind::noPhone:
    case Kind::ok:
      break;
  }
  return "지켜보는 중 · 대화 " + std::to_string(threads) + "개 · " + relativeTime(lastReadAt, now, format) +
         " 확인";
}

Caption launchAtLoginCaption(LoginItemStatus status, const std::optional<std::string>& launchError) {
  if (status == LoginItemStatus::requiresApproval) {
    return {"시스템 설정 › 일반 › 로그인 항목에서 Corvid를 허용해야 합니다.", Tint::orange};
  }
  if (launchError) return {*launchError, Tint::red};
  return {"켜 두면 컴퓨터를 다시 켠 뒤에도 바로 알림을 보냅니다.", Tint::secondary};
}

bool launchAtLoginSwitchOn(LoginItemStatus status) {
  return status == LoginItemStatus::enabled || status == LoginItemStatus::requiresApproval;
}

bool showsLoginItemSettingsButton(LoginItemStatus status) {
  return status == LoginItemStatus::requiresApproval;
}

bool showsDefaultServerButton(std::string_view serverURL, std::string_view defaultOrigin) {
  return serverURL != defaultOrigin;
}

std::string statisticsCaption(int threads, int unread, int igBadge, int sentCount) {
  return "대화 " + std::to_string(threads) + " · 안 읽음 " + std::to_string(unread) + " · Instagram 배지 " +
         (igBadge < 0 ? std::string("-") : std::to_string(igBadge)) + " · 이번 실행에서 보낸 알림 " +
         std::to_string(sentCount);
}

std::string versionLine(std::string_view versionText) { return "Corvid for Linux " + std::string(versionText); }

bool codeFocusOnHealthChange(const std::optional<Health::Kind>& previous, const Health& current) {
  return current.kind == Kind::noPhone && previous != Kind::noPhone;
}

MainWindowInputs mainWindowInputs(const Watcher& w) {
  const PushClient& p = w.push();
  MainWindowInputs in;
  in.health = w.health();
  in.everWatched = w.everWatched();
  in.sessionState = w.sessionState();
  in.lastReadAt = w.lastReadAt();
  in.viewerUsername = w.viewerUsername();
  in.threads = w.threads();
  in.unread = w.unread();
  in.igBadge = w.igBadge();
  in.launchAtLogin = w.launchAtLogin();
  in.includeSnippet = w.includeSnippet();
  in.pairings = p.pairings();
  in.isPairing = p.isPairing();
  in.pairNote = p.pairNote();
  in.testNote = p.testNote();
  in.lastPushAt = p.lastPushAt();
  in.serverURL = p.serverURL();
  in.defaultServerOrigin = p.defaultServerOrigin();
  in.sentCount = p.sentCount();
  in.ntfyTopicURL = p.ntfyTopicURL();
  in.ntfyAccessToken = p.ntfyAccessToken();
  in.hasNtfyTopic = p.hasNtfyTopic();
  in.ntfyTestNote = p.ntfyTestNote();
  in.desktopMessageNotifications = w.desktopMessageNotifications();
  in.waiting = p.waitingCount();
  return in;
}

MainWindowModel mainWindowModel(const MainWindowInputs& in, const MainWindowViewState& view,
                                std::string_view versionText, Time now, const KoreanTimeFormat& format) {
  MainWindowModel m;
  std::size_t pairings = in.pairings.size();
  m.setupStep = setupStep(in.health, isSetupComplete(in.everWatched, pairings, in.hasNtfyTopic));
  StatusSymbol symbol = statusSymbol(in.health);
  m.spinner = symbol.spinner;
  m.symbol = symbol.symbol;
  m.tint = statusTint(in.health);
  m.title = statusTitle(in.health);
  m.detail = windowDetail(in.health);
  m.statusLines = statusLines(
      {in.lastReadAt, in.sessionState, in.igBadge, in.unread, pairings, in.lastPushAt, in.waiting,
       in.hasNtfyTopic},
      now, format);
  m.actions = statusActionArea(in.health, in.launchAtLogin);

  for (const auto& p : in.pairings) m.pairingRows.push_back(pairingRow(p, format));
  m.codeRowLabel = codeRowLabel(pairings);
  m.showsPairingSpinner = in.isPairing;
  m.connectEnabled = connectButtonEnabled(view.code, in.isPairing);
  m.pairNote = noteCaption(in.pairNote);
  m.sendTestEnabled = sendTestEnabled(pairings, in.hasNtfyTopic);
  m.testNote = noteCaption(in.testNote);

  m.ntfyTopicText = view.ntfyTopicText.value_or(in.ntfyTopicURL);
  m.ntfyTopicCaption = ntfyTopicCaption(m.ntfyTopicText);
  if (in.hasNtfyTopic && trimmed(m.ntfyTopicText) == in.ntfyTopicURL) m.qrCodeText = in.ntfyTopicURL;
  m.ntfyTestEnabled = in.hasNtfyTopic;
  m.ntfyTestNote = noteCaption(in.ntfyTestNote);

  SessionInputs session{in.sessionState, in.lastReadAt.has_value(), in.viewerUsername};
  m.accountText = accountText(session);
  m.accountButton = accountButton(session);
  m.inboxText = inboxText(in.health, in.threads, in.lastReadAt, now, format);

  m.launchAtLoginOn = launchAtLoginSwitchOn(in.launchAtLogin);
  m.launchAtLoginCaption = launchAtLoginCaption(in.launchAtLogin, view.launchError);
  m.showsLoginItemSettingsButton = showsLoginItemSettingsButton(in.launchAtLogin);
  m.includeSnippet = in.includeSnippet;
  m.desktopMessageNotifications = in.desktopMessageNotifications;

  m.serverURL = in.serverURL;
  m.showsDefaultServerButton = showsDefaultServerButton(in.serverURL, in.defaultServerOrigin);
  m.statistics = statisticsCaption(in.threads, in.unread, in.igBadge, in.sentCount);
  m.versionLine = versionLine(versionText);
  m.wantsCodeFocus = in.health.kind == Kind::noPhone;
  return m;
}

}  // namespace corvid
