// The window router: the two windows of the application (the main window
// and the Instagram window), created once each and reused, the Instagram
// window's mode, the login window closing by itself after a login, and the
// switch between a regular application (while a window is visible) and a
// tray-only one.
//
// The router holds the rules; a WindowHost does the toolkit work. The GTK
// host creates the windows when asked, presents, hides and titles them, and
// reports a close the user starts (the window's delete-event) through
// windowWillClose() before hiding the window. Main thread only.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "base/log.h"
#include "base/observable.h"
#include "base/scheduler.h"
#include "base/time.h"
#include "ui/instagram_window_model.h"

namespace corvid {

class Watcher;

enum class AppWindow { main, instagram };

// Regular: the application shows in the task switcher while a window is
// up. Accessory: tray only.
enum class ActivationPolicy { regular, accessory };

// How a window is made: title at creation, content size, the name under
// which the host saves and restores its frame.
struct WindowParameters {
  std::string_view title;
  int width;
  int height;
  std::string_view frameAutosaveName;
};
inline constexpr WindowParameters kMainWindowParameters{"Corvid", 520, 720, "HalvyMain"};
inline constexpr WindowParameters kInstagramWindowParameters{"Instagram", 480, 800, "HalvyInstagram"};

// The toolkit side of the windows.
class WindowHost {
 public:
  virtual ~WindowHost() = default;
  // Creates the window with its content, hidden, centred (a frame saved
  // under the autosave name replaces the centred frame). Called at
  // most once per window; the window is never destroyed afterwards.
  virtual void createWindow(AppWindow window, const WindowParameters& parameters) = 0;
  virtual void setTitle(AppWindow window, const std::string& title) = 0;
  // Brings the window forward: deiconifies it, shows and raises it, gives it
  // the focus.
  virtual void present(AppWindow window) = 0;
  // Hides the window. The router runs its own close handling after this
  // call, so the host must not report this close through windowWillClose.
  virtual void close(AppWindow window) = 0;
  // Whether the window is shown (a minimised window counts as shown).
  virtual bool isVisible(AppWindow window) const = 0;
  virtual void setActivationPolicy(ActivationPolicy policy) = 0;
};

// What the router needs from the Watcher.
class RouterWatcher {
 public:
  virtual ~RouterWatcher() = default;
  // True while the Instagram window shows the page for inspection.
  virtual void setInspecting(bool inspecting) = 0;
  // Ends inspection and brings the page back to the inbox when needed.
  virtual void endInspecting() = 0;
  // At least one successful watch and at least one paired phone.
  virtual bool setupComplete() const = 0;
};

// RouterWatcher over the real Watcher.
class WatcherRouterLink : public RouterWatcher {
 public:
  explicit WatcherRouterLink(Watcher& watcher) : watcher_(watcher) {}
  void setInspecting(bool inspecting) override;
  void endInspecting() override;
  bool setupComplete() const override;

 private:
  Watcher& watcher_;
};

class WindowRouter : public ObservableObject {
 public:
  // How long the login window stays after a successful login, so that the
  // user sees its "로그인되었습니다" banner.
  static constexpr Duration kLoginCloseDelay = std::chrono::milliseconds(1500);

  WindowRouter(WindowHost& host, Scheduler& scheduler, ActivityLog& log, RouterWatcher& watcher);
  ~WindowRouter() override;

  // The mode in which the Instagram window was last opened (published).
  InstagramMode instagramMode() const { return instagramMode_; }
  bool windowCreated(AppWindow window) const;

  // Creates the main window if needed, logs "ui: settings window" and
  // brings it forward.
  void showMain();
  // Sets the mode and the Watcher's inspecting flag, creates the Instagram
  // window if needed, titles it for the mode, logs "ui: instagram window
  // (<mode>)" and brings it forward.
  void showInstagram(InstagramMode mode);
  // Each time the session becomes "ok": closes a visible login window 1.5
  // seconds later and, while setup is incomplete, opens the main window.
  void sessionBecameOK();
  // A window is closing: the Instagram window ends inspection; once no
  // window is visible any more the application becomes tray only.
  void windowWillClose(AppWindow window);

 private:
  void bringForward(AppWindow window);
  void loginCloseDelayEnded();
  bool visible(AppWindow window) const;

  WindowHost& host_;
  Scheduler& scheduler_;
  ActivityLog& log_;
  RouterWatcher& watcher_;
  Published<InstagramMode> instagramMode_{*this, InstagramMode::login};
  bool mainCreated_ = false;
  bool instagramCreated_ = false;
  Timer loginClose_;
  // Posted work holds the router through this token and does nothing once
  // the router is gone.
  std::shared_ptr<WindowRouter*> alive_;
};

}  // namespace corvid
