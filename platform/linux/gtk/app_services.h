// Every service the application owns, built in dependency order (and
// destroyed in reverse): paths, main loop, logs, settings, the web engine,
// the network, idle and login-item adapters, the HTTP transport, desktop
// notifications and the Watcher. The windows and the tray sit on top of it
// (application.cpp); tools that show a window build it too.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/activity_log.h"
#include "platform/linux/glib/durable_files.h"
#include "platform/linux/glib/glib_loop.h"
#include "platform/linux/glib/key_file_settings.h"
#include "platform/linux/glib/login_item.h"
#include "platform/linux/glib/network_monitor.h"
#include "platform/linux/glib/paths.h"
#include "platform/linux/glib/process_activity.h"
#include "platform/linux/glib/system_log.h"
#include "platform/linux/net/soup_transport.h"
#include "platform/linux/notify/desktop_notifier.h"
#include "platform/linux/web/webkit_engine.h"
#include "watcher/watcher.h"

namespace corvid::linux_platform {

// The watched service's web origin: "https://www.instagram.com", or the
// value of CORVID_SERVICE_ORIGIN (tests and local test pages) without a
// trailing slash.
std::string serviceOrigin();

inline constexpr const char* kApplicationId = "io.github.corvid.Corvid";

// Needs an initialised GTK (the web engine makes widgets).
struct AppServices {
  AppServices();
  ~AppServices();
  AppServices(const AppServices&) = delete;
  AppServices& operator=(const AppServices&) = delete;

  AppPaths paths = appPaths();
  GLibScheduler scheduler;
  SystemClock clock;
  GLibSystemLog systemLog;
  FileActivityLog activityLog{paths.activityLog, clock};
  KeyFileSettings settings{paths.settingsFile, systemLog, activityLog};
  StateFile outboxFile{paths.outboxFile, "outbox", systemLog, activityLog};
  WebKitEngine engine{WebKitEngineOptions{paths.webData.string(), paths.webCache.string()}};
  GLibNetworkMonitor network;
  LogindIdleInhibitor activity{activityLog};
  // The login item behind the Watcher's setLaunchAtLogin; the main window's
  // "로그인 항목 설정 열기" calls its openSettings().
  XdgAutostartLoginItem loginItem;
  SoupTransport transport;
  // Where a click on one of our desktop notifications goes: set by the
  // application once its windows exist. The click itself is handed over
  // from the main loop, outside libnotify's signal emission.
  std::function<void(const std::string& identifier)> notificationClicked;
  LibnotifyNotifier notifier;
  std::unique_ptr<Watcher> watcher;

  // The Watcher's own web view, as the GTK widget the Instagram window shows.
  WebKitView& webView();
};

}  // namespace corvid::linux_platform
