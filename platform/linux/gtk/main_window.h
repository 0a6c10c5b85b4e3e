// The content of the main window: setup, pairing, settings.
#pragma once

#include <gtk/gtk.h>

#include <filesystem>
#include <memory>

#include "app/window_router.h"
#include "base/scheduler.h"
#include "base/time.h"
#include "watcher/platform.h"
#include "watcher/watcher.h"

namespace corvid::linux_platform {

struct MainWindowDependencies {
  Watcher& watcher;
  WindowRouter& router;
  Scheduler& scheduler;
  Clock& clock;
  LoginItem& loginItem;
  DesktopNotifier& notifier;
  std::filesystem::path activityLogPath;
};

// Made once with the main window and kept for the process, so that view
// state (a half-typed code) survives closing and reopening the window.
class MainWindowContent {
 public:
  explicit MainWindowContent(MainWindowDependencies deps);
  ~MainWindowContent();
  MainWindowContent(const MainWindowContent&) = delete;
  MainWindowContent& operator=(const MainWindowContent&) = delete;

  // The widget to put into the window (owned by this object).
  GtkWidget* widget() const;
  // Call each time the window is shown.
  void windowShown();

  struct View;

 private:
  std::unique_ptr<View> view_;
};

}  // namespace corvid::linux_platform
