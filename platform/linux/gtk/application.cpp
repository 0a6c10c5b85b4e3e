#include "platform/linux/gtk/application.h"

#include <glib-unix.h>

#include <cstdlib>

#include "app/activity_log.h"
#include "app/lifecycle.h"
#include "platform/linux/glib/glib_loop.h"
#include "platform/linux/glib/key_file_settings.h"
#include "platform/linux/glib/login_item.h"
#include "platform/linux/glib/network_monitor.h"
#include "platform/linux/glib/paths.h"
#include "platform/linux/glib/process_activity.h"
#include "platform/linux/glib/system_log.h"
#include "platform/linux/net/computer_name.h"
#include "platform/linux/net/soup_transport.h"
#include "platform/linux/notify/desktop_notifier.h"
#include "platform/linux/web/webkit_engine.h"
#include "watcher/watcher.h"

#ifndef CORVID_DEFAULT_RELAY_ORIGIN
#error "CORVID_DEFAULT_RELAY_ORIGIN must be defined by the build"
#endif

namespace corvid::linux_platform {

std::string serviceOrigin() {
  const char* env = std::getenv("CORVID_SERVICE_ORIGIN");
  std::string origin = env && *env ? env : "https://www.instagram.com";
  while (!origin.empty() && origin.back() == '/') origin.pop_back();
  return origin;
}

// Every service the app owns, in the order they are made (and destroyed in
// reverse).
struct AppServices {
  AppPaths paths = appPaths();
  GLibScheduler scheduler;
  SystemClock clock;
  GLibSystemLog systemLog;
  FileActivityLog activityLog{paths.activityLog, clock};
  KeyFileSettings settings{paths.settingsFile, systemLog, activityLog};
  WebKitEngine engine{WebKitEngineOptions{paths.webData.string(), paths.webCache.string()}};
  GLibNetworkMonitor network;
  LogindIdleInhibitor activity{activityLog};
  XdgAutostartLoginItem loginItem;
  SoupTransport transport;
  LibnotifyNotifier notifier{
      LibnotifyNotifier::Options{"Corvid", CorvidApplication::kApplicationId, "corvid"},
      [](const std::string&) {}};
  std::unique_ptr<Watcher> watcher;

  AppServices() {
    routeUnhandledTaskErrors(systemLog);
    watcher = std::make_unique<Watcher>(WatcherDependencies{
        scheduler, clock, settings, activityLog, systemLog, engine, network, activity, loginItem, transport,
        notifier, [] { return systemComputerName(); }, CORVID_DEFAULT_RELAY_ORIGIN, serviceOrigin()});
  }
};

CorvidApplication::CorvidApplication() {
  app_ = gtk_application_new(kApplicationId, G_APPLICATION_DEFAULT_FLAGS);
  g_signal_connect(app_, "startup", G_CALLBACK(onStartup), this);
  g_signal_connect(app_, "activate", G_CALLBACK(onActivate), this);
  g_signal_connect(app_, "shutdown", G_CALLBACK(onShutdown), this);
}

CorvidApplication::~CorvidApplication() {
  services_.reset();
  g_clear_object(&app_);
}

int CorvidApplication::run(int argc, char** argv) {
  return g_application_run(G_APPLICATION(app_), argc, argv);
}

void CorvidApplication::onStartup(GApplication*, gpointer self) {
  static_cast<CorvidApplication*>(self)->startup();
}
void CorvidApplication::onActivate(GApplication*, gpointer self) {
  static_cast<CorvidApplication*>(self)->activate();
}
void CorvidApplication::onShutdown(GApplication*, gpointer self) {
  static_cast<CorvidApplication*>(self)->services_.reset();
}

void CorvidApplication::startup() {
  // Corvid keeps running with no window open.
  g_application_hold(G_APPLICATION(app_));
  services_ = std::make_unique<AppServices>();
  auto quit = [](gpointer app) -> gboolean {
    g_application_quit(G_APPLICATION(app));
    return G_SOURCE_REMOVE;
  };
  g_unix_signal_add(SIGTERM, quit, app_);
  g_unix_signal_add(SIGINT, quit, app_);
}

void CorvidApplication::activate() {
  if (launched_) return;
  launched_ = true;
  services_->activityLog.log(launchLine(*services_->watcher));
}

}  // namespace corvid::linux_platform
