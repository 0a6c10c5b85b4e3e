// What the tray icon, the menu and the main window say about the overall
// health: titles, detail lines, symbols, colours and the status lines with
// relative times. All texts are fixed Korean texts; the only variable parts
// are numbers, times and the relay's own problem text. The menu and the main
// window both use these functions, so the two always agree.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "base/korean_time.h"
#include "base/time.h"
#include "ui/symbols.h"
#include "watcher/health.h"

namespace corvid {

class Watcher;

// The status title: the one-line verdict.
std::string statusTitle(const Health& health);
// The menu's short detail line; none for `ok`.
std::optional<std::string> menuDetail(const Health& health);
// The main window's longer explanation.
std::string windowDetail(const Health& health);

// Whether the tray icon shows its attention dot: for every health except
// `starting` and `ok`.
bool needsAttention(const Health& health);

// The main window's status picture: a spinner while starting, else a symbol.
struct StatusSymbol {
  bool spinner = false;
  std::optional<Symbol> symbol;
  bool operator==(const StatusSymbol&) const = default;
};
StatusSymbol statusSymbol(const Health& health);
Tint statusTint(const Health& health);

// What the status lines are made of.
struct StatusLineInputs {
  std::optional<Time> lastReadAt;
  std::string sessionState;
  int igBadge = -1;  // negative when unknown
  int unread = 0;
  std::size_t pairingCount = 0;
  std::optional<Time> lastPushAt;
  int waiting = 0;  // notifications waiting to be sent again
  bool hasNtfyTopic = false;
};
StatusLineInputs statusLineInputs(const Watcher& watcher);

// Zero to three lines: the inbox line (after a read, while not logged out),
// the phone line (while a phone is paired or an ntfy topic is set:
// "iPhone 1대 연결됨 · ntfy", "ntfy로 알림"), then the waiting line (while
// notifications wait to be sent again).
std::vector<std::string> statusLines(const StatusLineInputs& in, Time now,
                                     const KoreanTimeFormat& format = KoreanTimeFormat::shared());

// "아직 없음", "방금", "12초 전", "5분 전", then the clock time for today and
// the month-day time for earlier days ("today" in the local calendar of
// `format`).
std::string relativeTime(const std::optional<Time>& date, Time now,
                         const KoreanTimeFormat& format = KoreanTimeFormat::shared());

}  // namespace corvid
