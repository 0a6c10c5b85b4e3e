#include "ui/status.h"

#include <chrono>

#include "watcher/watcher.h"

namespace corvid {

using Kind = Health::Kind;

std::string statusTitle(const Health& h) {
  switch (h.kind) {
    case Kind::loginNeeded:
      return h.firstTime ? "Instagram에 로그인하세요" : "Instagram 로그인이 풀렸습니다";
    case Kind::serverProblem:
      return "알림을 보내지 못하고 있습니다";
    case Kind::starting:
      return "시작하는 중";
    case Kind::offline:
      return "인터넷에 연결되어 있지 않습니다";
    case Kind::readProblem:
      return "받은편지함을 읽지 못하고 있습니다";
    case Kind::noPhone:
      return "iPhone을 연결하세요";
    case Kind::ok:
      return "지켜보는 중";
  }
  return {};
}

std::optional<std::string> menuDetail(const Health& h) {
  switch (h.kind) {
    case Kind::loginNeeded:
      return h.firstTime ? "로그인하면 지켜보기 시작합니다" : "다시 로그인할 때까지 알림이 멈춥니다";
    case Kind::serverProblem:
      return h.message;
    case Kind::starting:
      return "받은편지함을 여는 중";
    case Kind::offline:
      return "연결되면 자동으로 다시 지켜봅니다";
    case Kind::readProblem:
      return "자동으로 다시 불러오는 중";
    case Kind::noPhone:
      return "iPhone의 Corvid 앱에서 코드를 받아 연결하세요";
    case Kind::ok:
      return std::nullopt;
  }
  return std::nullopt;
}

std::string windowDetail(const Health& h) {
  switch (h.kind) {
    case Kind::loginNeeded:
      return h.firstTime
                 ? "이 컴퓨터에서 받은편지함을 지켜보려면 한 번 로그인해야 합니다. 로그인 정보는 이 컴퓨터에만 "
                   "저장됩니다."
                 : "다시 로그인할 때까지 iPhone으로 알림이 가지 않습니다.";
    case Kind::serverProblem:
      // The relay text brings its own punctuation; the addition starts with a space.
      return h.message + " 잠시 뒤 다시 시도합니다.";
    case Kind::starting:
      return "Instagram 받은편지함을 여는 중입니다.";
    case Kind::offline:
      return "인터넷이 연결되면 자동으로 다시 지켜봅니다.";
    case Kind::readProblem:
      return "자동으로 다시 불러오는 중입니다. 계속되면 Instagram 화면을 열어 확인해 보세요.";
    case Kind::noPhone:
      return "iPhone의 Corvid 앱에서 설정 › Mac으로 알림 받기를 열면 6자리 코드가 보입니다. 아래 iPhone 칸에 "
             "입력하세요.";
    case Kind::ok:
      return "새 DM이 오면 iPhone으로 알림을 보냅니다. 이 창을 닫아도 시스템 트레이에서 계속 작동합니다.";
  }
  return {};
}

bool needsAttention(const Health& h) { return h.kind != Kind::starting && h.kind != Kind::ok; }

StatusSymbol statusSymbol(const Health& h) {
  switch (h.kind) {
    case Kind::loginNeeded:
      return {false, Symbol::loginProblem};
    case Kind::serverProblem:
      return {false, Symbol::serverProblem};
    case Kind::starting:
      return {true, std::nullopt};
    case Kind::offline:
      return {false, Symbol::offline};
    case Kind::readProblem:
      return {false, Symbol::warning};
    case Kind::noPhone:
      return {false, Symbol::connectPhone};
    case Kind::ok:
      return {false, Symbol::ok};
  }
  return {};
}

Tint statusTint(const Health& h) {
  switch (h.kind) {
    case Kind::loginNeeded:
      return h.firstTime ? Tint::accent : Tint::red;
    case Kind::serverProblem:
    case Kind::offline:
    case Kind::readProblem:
      return Tint::orange;
    case Kind::starting:
      return Tint::none;
    case Kind::noPhone:
      return Tint::accent;
    case Kind::ok:
      return Tint::green;
  }
  return Tint::none;
}

StatusLineInputs statusLineInputs(const Watcher& w) {
  const PushClient& push = w.push();
  return {w.lastReadAt(),          w.sessionState(),  w.igBadge(),         w.unread(),
          push.pairings().size(), push.lastPushAt(), push.waitingCount(), push.hasNtfyTopic()};
}

std::vector<std::string> statusLines(const StatusLineInputs& in, Time now, const KoreanTimeFormat& format) {
  std::vector<std::string> lines;
  if (in.lastReadAt && in.sessionState != "logged_out") {
    int count = in.igBadge >= 0 ? in.igBadge : in.unread;
    lines.push_back("받은편지함 확인 " + relativeTime(in.lastReadAt, now, format) + " · 안 읽은 대화 " +
                    std::to_string(count));
  }
  if (in.pairingCount > 0 || in.hasNtfyTopic) {
    std::string line;
    if (in.pairingCount == 0) {
      line = "ntfy로 알림";
    } else {
      line = "iPhone " + std::to_string(in.pairingCount) + "대 연결됨";
      if (in.hasNtfyTopic) line += " · ntfy";
    }
    if (in.lastPushAt) line += " · 마지막 알림 " + relativeTime(in.lastPushAt, now, format);
    lines.push_back(std::move(line));
  }
  if (in.waiting > 0) {
    lines.push_back("보내지 못한 알림 " + std::to_string(in.waiting) + "개 · 연결되면 다시 보냅니다");
  }
  return lines;
}

std::string relativeTime(const std::optional<Time>& date, Time now, const KoreanTimeFormat& format) {
  if (!date) return "아직 없음";
  // Whole seconds, truncated toward zero; a date in the future gives a
  // negative count and so reads "방금".
  long long s = std::chrono::duration_cast<std::chrono::seconds>(now - *date).count();
  if (s < 10) return "방금";
  if (s <= 59) return std::to_string(s) + "초 전";
  if (s <= 3599) return std::to_string(s / 60) + "분 전";
  if (format.sameDay(*date, now)) return format.clockTime(*date);
  return format.monthDayTime(*date);
}

}  // namespace corvid
