// Membership in the desktop session through XSMP, the X session management
// protocol that the session managers of Xfce, KDE Plasma, LXQt and others
// speak (GTK 3 no longer does). When SESSION_MANAGER names a manager, the
// client registers with it over ICE, hears its save, die and
// shutdown-cancelled messages on the GLib main loop, and answers saves.
//
// The client asks the manager never to restart it (Corvid starts itself at
// login through its own autostart entry) and never asks to interact: the
// end of the session asks the user nothing.
#pragma once

#include <functional>
#include <string>

#include "app/session_member.h"

namespace corvid::linux_platform {

class SessionClient {
 public:
  struct Handlers {
    std::function<void(SessionSave)> saveYourself;  // answer with saveYourselfDone()
    std::function<void()> die;
    std::function<void()> shutdownCancelled;
  };

  // Registers with the manager that SESSION_MANAGER names; without one, or
  // when it cannot be reached, the client stays unconnected and silent.
  // `program`: the command that starts the application.
  SessionClient(Handlers handlers, std::string program);
  ~SessionClient();  // leaves the session
  SessionClient(const SessionClient&) = delete;
  SessionClient& operator=(const SessionClient&) = delete;

  bool connected() const { return connection_ != nullptr; }
  // The identifier the manager gave, empty while unconnected.
  const std::string& clientId() const { return clientId_; }

  // Answers the pending save; does nothing when none is pending (or the
  // manager has gone).
  void saveYourselfDone(bool success = true);

  // The ICE connection `iceConnection` failed: when it is this client's, the
  // manager has gone and the client leaves the session.
  void connectionFailed(void* iceConnection);

 private:
  struct Callbacks;
  void setProperties();

  Handlers handlers_;
  std::string program_;
  void* connection_ = nullptr;  // SmcConn
  std::string clientId_;
  bool savePending_ = false;
};

}  // namespace corvid::linux_platform
