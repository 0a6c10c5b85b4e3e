// The two application windows as GTK 3 windows, behind the window router.
//
// Each window is made once, when the router first asks, and never destroyed
// before the host: closing it (the title bar's close button, Escape is not
// bound) hides it, so its content keeps its state. A close the user starts
// arrives as delete-event; the host tells the router (windowWillClose) and
// hides the window itself. Frames are saved under the autosave names in the
// state file whenever a window moves or resizes (coalesced) and when it
// hides, and restored when the window is made. A window always opens within
// the visible area of a monitor (its work area, without the panels): a
// window larger than that shrinks to it, a saved frame is moved and shrunk
// into it (a frame on a monitor that is gone comes back on the primary
// one), and once the window manager has framed the window its title bar
// and borders are fitted in too.
//
// On Linux there is no Dock: the activation policy the router sets is only
// recorded. The application keeps running with its tray icon while no
// window shows (it holds itself).
#pragma once

#include <gtk/gtk.h>

#include <array>
#include <functional>
#include <memory>

#include "app/window_placement.h"
#include "app/window_router.h"
#include "base/scheduler.h"
#include "platform/linux/gtk/window_frames.h"

namespace corvid::linux_platform {

// What a window shows. Made once with its window and kept with it.
class WindowContent {
 public:
  virtual ~WindowContent() = default;
  // The widget to put into the window (owned by the content).
  virtual GtkWidget* widget() const = 0;
  // Each time the window is shown, and each time it hides (also when the
  // router closes it).
  virtual void windowShown() {}
  virtual void windowHidden() {}
};

class GtkWindowHost : public WindowHost {
 public:
  using ContentFactory = std::function<std::unique_ptr<WindowContent>(AppWindow)>;

  // `app` may be null (tools, tests): the windows are then plain
  // GtkWindows, without the application's accelerators.
  GtkWindowHost(GtkApplication* app, Scheduler& scheduler, std::filesystem::path stateFile,
                ContentFactory content);
  ~GtkWindowHost() override;
  GtkWindowHost(const GtkWindowHost&) = delete;
  GtkWindowHost& operator=(const GtkWindowHost&) = delete;

  // The router that hears of closes; set once the router exists.
  void setRouter(WindowRouter* router) { router_ = router; }

  void createWindow(AppWindow window, const WindowParameters& parameters) override;
  void setTitle(AppWindow window, const std::string& title) override;
  void present(AppWindow window) override;
  void close(AppWindow window) override;
  bool isVisible(AppWindow window) const override;
  void setActivationPolicy(ActivationPolicy policy) override { policy_ = policy; }

  ActivationPolicy activationPolicy() const { return policy_; }
  // The window once made, else null.
  GtkWindow* window(AppWindow window) const;
  // The first visible window, main before Instagram (a parent for dialogs).
  GtkWindow* visibleWindow() const;
  // Writes pending frame changes now.
  void saveFrames();

  // How long moves and resizes are collected before the frame is written.
  static constexpr Duration kFrameSaveDelay = std::chrono::milliseconds(500);

  struct Slot;

 private:
  void hide(Slot& slot);
  void saveFrame(Slot& slot);
  void keepOnScreen(Slot& slot);
  static Size minimumSize(Slot& slot);

  GtkApplication* app_;
  Scheduler& scheduler_;
  WindowFrameStore frames_;
  ContentFactory content_;
  WindowRouter* router_ = nullptr;
  ActivationPolicy policy_ = ActivationPolicy::accessory;
  std::array<std::unique_ptr<Slot>, 2> slots_;
};

}  // namespace corvid::linux_platform
