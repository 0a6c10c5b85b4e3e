#include "platform/linux/gtk/app_services.h"

#include <cstdlib>
#include <stdexcept>

#include "platform/linux/net/computer_name.h"

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

AppServices::AppServices()
    : notifier(LibnotifyNotifier::Options{"Corvid", kApplicationId, "corvid"}, [this](const std::string& id) {
        scheduler.post([this, id] {
          if (notificationClicked) notificationClicked(id);
        });
      }) {
  routeUnhandledTaskErrors(systemLog);
  watcher = std::make_unique<Watcher>(WatcherDependencies{
      scheduler, clock, settings, activityLog, systemLog, engine, network, activity, loginItem, transport,
      notifier, [] { return systemComputerName(); }, CORVID_DEFAULT_RELAY_ORIGIN, serviceOrigin(), &outboxFile});
}

AppServices::~AppServices() = default;

WebKitView& AppServices::webView() {
  auto* view = dynamic_cast<WebKitView*>(&watcher->webView());
  if (!view) throw std::logic_error("the Watcher's web view is not a WebKitView");
  return *view;
}

}  // namespace corvid::linux_platform
