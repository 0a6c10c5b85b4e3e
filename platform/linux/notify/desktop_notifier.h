// Desktop notifications through libnotify and the session bus's
// notification server (org.freedesktop.Notifications).
//
// Permission is "granted" when a notification server answers on the
// session bus. Each notification is posted under the caller's identifier; a
// click on it (the server's "default" action, offered when the server has
// the "actions" capability) is reported with that identifier. Without a
// server, or on any error, a notification is dropped silently. Main thread
// only; the answers arrive on the default main context.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "watcher/platform.h"

namespace corvid::linux_platform {

class LibnotifyNotifier : public DesktopNotifier {
 public:
  struct Options {
    // The application name the server shows.
    std::string appName = "Corvid";
    // The desktop entry id (without ".desktop") for the "desktop-entry" hint;
    // empty for none.
    std::string desktopEntry;
    // An icon name or file for the notifications; empty for none.
    std::string iconName;
  };

  LibnotifyNotifier(Options options, std::function<void(const std::string& identifier)> onClick);
  ~LibnotifyNotifier() override;
  LibnotifyNotifier(const LibnotifyNotifier&) = delete;
  LibnotifyNotifier& operator=(const LibnotifyNotifier&) = delete;

  // Asks the notification server for its capabilities (asynchronously);
  // answers whether a server answered.
  Task<bool> requestAuthorization() override;
  void post(const std::string& identifier, const std::string& title, const std::string& body) override;

  // Notifications shown and not yet closed by the server.
  std::size_t openNotifications() const;

  // The label of the click action (servers rarely show it).
  static constexpr const char* kDefaultActionLabel = "열기";

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace corvid::linux_platform
