#include "app/window_router.h"

#include "ui/main_window_model.h"
#include "watcher/watcher.h"

namespace corvid {

void WatcherRouterLink::setInspecting(bool inspecting) { watcher_.setInspecting(inspecting); }
void WatcherRouterLink::endInspecting() { watcher_.endInspecting(); }
bool WatcherRouterLink::setupComplete() const { return isSetupComplete(watcher_); }

WindowRouter::WindowRouter(WindowHost& host, Scheduler& scheduler, ActivityLog& log, RouterWatcher& watcher)
    : host_(host),
      scheduler_(scheduler),
      log_(log),
      watcher_(watcher),
      alive_(std::make_shared<WindowRouter*>(this)) {}

WindowRouter::~WindowRouter() { *alive_ = nullptr; }

bool WindowRouter::windowCreated(AppWindow window) const {
  return window == AppWindow::main ? mainCreated_ : instagramCreated_;
}

bool WindowRouter::visible(AppWindow window) const {
  return windowCreated(window) && host_.isVisible(window);
}

void WindowRouter::bringForward(AppWindow window) {
  host_.setActivationPolicy(ActivationPolicy::regular);
  host_.present(window);
}

void WindowRouter::showMain() {
  if (!mainCreated_) {
    host_.createWindow(AppWindow::main, kMainWindowParameters);
    mainCreated_ = true;
  }
  log_.log("ui: settings window");
  bringForward(AppWindow::main);
}

void WindowRouter::showInstagram(InstagramMode mode) {
  instagramMode_ = mode;
  watcher_.setInspecting(mode == InstagramMode::inspect);
  if (!instagramCreated_) {
    host_.createWindow(AppWindow::instagram, kInstagramWindowParameters);
    instagramCreated_ = true;
  }
  host_.setTitle(AppWindow::instagram, instagramWindowTitle(mode));
  log_.log("ui: instagram window (" + std::string(modeName(mode)) + ")");
  bringForward(AppWindow::instagram);
}

void WindowRouter::sessionBecameOK() {
  if (instagramMode_.get() != InstagramMode::login || !visible(AppWindow::instagram)) return;
  // One pending close is enough: a second "ok" within the delay keeps the
  // first deadline.
  if (loginClose_) return;
  loginClose_ = scheduler_.after(kLoginCloseDelay, [this] { loginCloseDelayEnded(); });
}

void WindowRouter::loginCloseDelayEnded() {
  Timer done = std::move(loginClose_);  // this timer has fired; a new login may schedule again
  if (instagramMode_.get() != InstagramMode::login) return;
  if (visible(AppWindow::instagram)) {
    host_.close(AppWindow::instagram);
    windowWillClose(AppWindow::instagram);
  }
  if (!watcher_.setupComplete()) showMain();
}

void WindowRouter::windowWillClose(AppWindow window) {
  if (window == AppWindow::instagram) watcher_.endInspecting();
  // Asynchronously, so that the closing window no longer counts as visible.
  std::weak_ptr<WindowRouter*> weak = alive_;
  scheduler_.post([weak] {
    auto token = weak.lock();
    if (!token || !*token) return;
    WindowRouter& self = **token;
    if (self.visible(AppWindow::main) || self.visible(AppWindow::instagram)) return;
    self.host_.setActivationPolicy(ActivationPolicy::accessory);
  });
}

}  // namespace corvid
