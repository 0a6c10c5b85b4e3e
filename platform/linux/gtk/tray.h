// The tray icon: a StatusNotifierItem (AyatanaAppIndicator) with the status
// menu.
//
// The icon is one of two symbolic SVGs (with or without the attention dot)
// written at start into an icon theme folder of our own, handed to the
// indicator as its icon theme path: $XDG_RUNTIME_DIR/corvid/icons, or the
// cache folder's corvid/icons when there is no runtime folder. The menu is
// built from the menu model; icon and menu are re-rendered once per
// main-loop turn after the Watcher (which forwards the push client) or the
// router announces a change, and every few seconds for the relative times.
// A menu with the same items and other texts is changed in place, so that
// an open menu stays open. The item is registered once; when the tray host
// goes away and comes back (a new owner of the watcher's bus name) the
// library registers it once more, with the current icon and menu.
//
// Without any tray host (plain GNOME without an extension) the indicator
// shows nothing; the application stays reachable by launching it again.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/window_router.h"
#include "base/log.h"
#include "base/scheduler.h"
#include "base/time.h"
#include "ui/menu_model.h"
#include "watcher/watcher.h"

namespace corvid::linux_platform {

// The icon theme folder for the tray icons (see above).
std::filesystem::path trayIconThemeFolder();

class TrayIcon {
 public:
  struct Dependencies {
    Watcher& watcher;
    WindowRouter& router;
    Scheduler& scheduler;
    Clock& clock;
    SystemLog& systemLog;
    // Runs a menu item's action.
    std::function<void(MenuAction)> perform;
    std::string id;  // the item's id on the bus
  };

  explicit TrayIcon(Dependencies deps);
  ~TrayIcon();
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // What the tray shows now (for tests).
  const std::string& iconName() const;
  const std::vector<MenuItem>& items() const;
  // Whether a tray host has the item.
  bool connected() const;

  // How often the menu is rebuilt for the relative times ("12초 전").
  static constexpr Duration kRefreshInterval = std::chrono::seconds(5);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace corvid::linux_platform
