// The tray menu as a list of plain items, rebuilt from the current values
// on every change: the status in words, the status lines, the one item that
// fixes the current problem, the test notification, the main window and
// quitting.
#pragma once

#include <string>
#include <vector>

#include "base/time.h"
#include "watcher/health.h"

namespace corvid {

class Watcher;

enum class MenuAction {
  none,
  showInstagramLogin,  // the Instagram window in login mode
  retryStatus,         // a task awaiting the Watcher's sendCurrentStatus()
  reloadInbox,         // the Watcher's reload with reason "menu"
  showMain,            // the main window
  sendTest,            // a task awaiting the push client's test notification
  quit,                // ask the application to quit (the quit decision applies)
};

struct MenuItem {
  enum class Kind { text, separator, button };
  Kind kind = Kind::text;
  std::string label;
  // Text items are never selectable; buttons may be disabled.
  bool enabled = false;
  MenuAction action = MenuAction::none;
  // A GTK accelerator text ("<Control>comma"), empty for none.
  std::string accelerator;
  bool operator==(const MenuItem&) const = default;
};

struct MenuInputs {
  Health health;
  std::vector<std::string> statusLines;
  // A phone can be reached: a pairing or an ntfy topic.
  bool hasPairing = false;
};
// Reads the health once, so title, detail and fix-it item agree.
MenuInputs menuInputs(const Watcher& watcher, Time now);

std::vector<MenuItem> menuItems(const MenuInputs& in);

// The reload reason of the menu's "받은편지함 다시 불러오기".
inline constexpr const char* kMenuReloadReason = "menu";

}  // namespace corvid
