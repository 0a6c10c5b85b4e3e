// The Instagram window's content: a banner that says what the window is for
// (and, while inspecting, a button back to the inbox), a separator, and the
// Watcher's own web view.
//
// The web view is the Watcher's single view: it is lent to the window while
// the window shows (WebKitView::hostIn) and given back to its off-screen
// home when the window hides (unhost), without a reload, so the page keeps
// full-rate timers and the Watcher keeps reading it while no window shows
// it. The banner follows the router's mode and the Watcher's session state,
// re-rendered once per main-loop turn after either announces a change.
#pragma once

#include <gtk/gtk.h>

#include <memory>

#include "app/window_router.h"
#include "base/scheduler.h"
#include "platform/linux/gtk/window_host.h"
#include "platform/linux/web/webkit_engine.h"
#include "watcher/watcher.h"

namespace corvid::linux_platform {

class InstagramWindowContent : public WindowContent {
 public:
  InstagramWindowContent(Watcher& watcher, WindowRouter& router, Scheduler& scheduler, WebKitView& webView);
  ~InstagramWindowContent() override;
  InstagramWindowContent(const InstagramWindowContent&) = delete;
  InstagramWindowContent& operator=(const InstagramWindowContent&) = delete;

  GtkWidget* widget() const override;
  void windowShown() override;
  void windowHidden() override;

  // The banner as last rendered (for tests and screenshots).
  const InstagramBanner& banner() const;

  // The content's size limits (the window may grow without bound).
  static constexpr int kMinWidth = 420, kMinHeight = 560;

  struct View;

 private:
  std::unique_ptr<View> view_;
};

}  // namespace corvid::linux_platform
