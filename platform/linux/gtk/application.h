// Corvid's GTK application: single instance, tray only until a window is
// asked for.
//
// Start (the primary instance): the services and the Watcher, the window
// router over GTK windows, the tray icon; on the first activation the
// launch line and, while setup is incomplete, the main window. Every later
// activation (launching `corvid` again, the desktop's launcher) is the
// reopen: it brings the main window forward.
//
// Actions on the application, for the desktop and for tests over D-Bus
// (org.gtk.Actions on the application's object path):
//   app.show-main                 the main window
//   app.show-instagram  "login"|"inspect"   the Instagram window in that mode
//   app.send-test                 the test notification to every phone
//   app.quit                      an ordinary quit (asks while a phone is paired)
// with the accelerators Ctrl+, (show-main) and Ctrl+Q (quit) in the windows.
//
// Quitting: an ordinary quit (menu, Ctrl+Q, app.quit) asks for confirmation
// while a phone is paired; a system quit (SIGTERM, SIGINT, the session
// manager's query-end or, over XSMP, its die, logind's PrepareForShutdown,
// the loss of the X display) does not. A confirmed quit reports "stopped"
// to every phone and exits after that or after 1.5 seconds, whichever
// comes first. An XSMP manager ending the session hears the report during
// its save and ends Corvid with die right after.
#pragma once

#include <gtk/gtk.h>

#include <memory>

#include "platform/linux/gtk/app_services.h"

namespace corvid::linux_platform {

class CorvidApplication {
 public:
  CorvidApplication();
  ~CorvidApplication();
  CorvidApplication(const CorvidApplication&) = delete;
  CorvidApplication& operator=(const CorvidApplication&) = delete;

  // Runs the application; a second start hands over to the running one.
  int run(int argc, char** argv);

  static constexpr const char* kApplicationId = linux_platform::kApplicationId;

  struct Shell;

 private:
  void startup();
  void activate();
  void shutdown();
  void addActions();
  // The quit decision: `systemQuit` skips the confirmation.
  void requestQuit(bool systemQuit);
  bool confirmQuit();
  void terminate();
  // The X display is gone: reports "stopped" (within the limit) without
  // GTK, then ends the process.
  [[noreturn]] void displayLost();

  GtkApplication* app_ = nullptr;
  std::unique_ptr<AppServices> services_;
  std::unique_ptr<Shell> shell_;
  bool launched_ = false;
};

}  // namespace corvid::linux_platform
