// Desktop notifications through the session bus's notification server
// (org.freedesktop.Notifications), called directly with GDBus.
//
// Permission is "granted" when a notification server answers on the
// session bus. Each notification is posted under the caller's identifier
// with the sound hint "message-new-instant"; a click on it (the server's
// "default" action, offered when the server has the "actions" capability)
// is reported with that identifier. Every bus call is asynchronous: a
// server that is slow or never answers holds up nothing but its own
// notification. Without a server, or on any error, a notification is
// dropped silently. Main thread only; the answers arrive on the default
// main context.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "watcher/platform.h"

namespace corvid::linux_platform {

class FreedesktopNotifier : public DesktopNotifier {
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

  FreedesktopNotifier(Options options, std::function<void(const std::string& identifier)> onClick);
  ~FreedesktopNotifier() override;
  FreedesktopNotifier(const FreedesktopNotifier&) = delete;
  FreedesktopNotifier& operator=(const FreedesktopNotifier&) = delete;

  // Asks the notification server for its capabilities (asynchronously);
  // answers whether a server answered.
  Task<bool> requestAuthorization() override;
  // Returns at once; the notification is shown when the bus and the server
  // have answered.
  void post(const std::string& identifier, const std::string& title, const std::string& body) override;

  // Notifications shown and not yet closed by the server.
  std::size_t openNotifications() const;

  // The label of the click action (servers rarely show it).
  static constexpr const char* kDefaultActionLabel = "열기";
  // The sound the server is asked to play with each notification.
  static constexpr const char* kSoundName = "message-new-instant";

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace corvid::linux_platform
