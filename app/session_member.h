// Corvid as a member of the desktop session. A session manager (Xfce, KDE
// Plasma, LXQt and others speak XSMP) asks its members to save before it
// ends the session, then tells them to die; a save without shutdown is a
// checkpoint while the session goes on.
//
// The end of the session is a system quit: no question; while a phone is
// paired, "stopped" goes out during the save (within the usual 1.5 s), and
// the save is answered once it has; the die that follows ends the
// application at once. Should the end be called off, watching goes on and
// the phones hear the current status again.
#pragma once

#include <functional>

#include "app/lifecycle.h"

namespace corvid {

struct SessionSave {
  bool shutdown = false;  // the session ends after this save
  bool fast = false;      // the manager asks for a quick save
};

class SessionMember {
 public:
  struct Dependencies {
    QuitController& quit;
    // Answers the manager's save (it waits for every member's answer).
    std::function<void()> saveDone;
    // The application's system quit.
    std::function<void()> systemQuit;
  };

  explicit SessionMember(Dependencies deps) : deps_(std::move(deps)) {}

  void saveYourself(SessionSave save);
  void die();
  void shutdownCancelled();

 private:
  Dependencies deps_;
};

}  // namespace corvid
