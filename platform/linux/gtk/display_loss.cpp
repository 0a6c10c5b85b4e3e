#include "platform/linux/gtk/display_loss.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <unistd.h>

namespace corvid::linux_platform {

namespace {

XIOErrorHandler previousHandler = nullptr;
std::function<void()>* onLost = nullptr;

// Called by Xlib from inside some GDK call; never returns into it.
int ioError(Display*) {
  static bool lost = false;
  if (!lost) {
    lost = true;
    if (onLost && *onLost) (*onLost)();
  }
  _exit(1);
}

}  // namespace

DisplayLossWatch::DisplayLossWatch(GdkDisplay* display, std::function<void()> lostCallback)
    : onLost_(std::move(lostCallback)) {
  if (!display || !GDK_IS_X11_DISPLAY(display) || onLost) return;
  watching_ = true;
  onLost = &onLost_;
  previousHandler = XSetIOErrorHandler(&ioError);
}

DisplayLossWatch::~DisplayLossWatch() {
  if (!watching_) return;
  onLost = nullptr;
  XSetIOErrorHandler(previousHandler);
}

}  // namespace corvid::linux_platform
