#include "platform/linux/gtk/display_loss.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace corvid::linux_platform {

namespace {

DisplayLossWatch* watch = nullptr;
bool displayLost = false;
XIOErrorHandler previousHandler = nullptr;
std::function<void()>* pending = nullptr;

// Called by Xlib, possibly deep inside a GDK call: only note the loss and
// leave the rest to the main loop.
int ioError(Display*) {
  if (!displayLost) {
    displayLost = true;
    if (pending) {
      g_idle_add_full(
          G_PRIORITY_HIGH,
          [](gpointer) -> gboolean {
            if (pending && *pending) (*pending)();
            return G_SOURCE_REMOVE;
          },
          nullptr, nullptr);
    }
  }
  return 0;
}

// Returning keeps the process: Xlib marks the display dead and fails every
// later request on it instead of exiting.
void ioExit(Display*, void*) {}

}  // namespace

DisplayLossWatch::DisplayLossWatch(GdkDisplay* display, std::function<void()> onLost)
    : onLost_(std::move(onLost)) {
  if (!display || !GDK_IS_X11_DISPLAY(display) || watch) return;
  watch = this;
  watching_ = true;
  pending = &onLost_;
  previousHandler = XSetIOErrorHandler(&ioError);
  XSetIOErrorExitHandler(GDK_DISPLAY_XDISPLAY(display), &ioExit, nullptr);
}

DisplayLossWatch::~DisplayLossWatch() {
  if (!watching_) return;
  // The display stays handled as lost; only the callback goes.
  pending = nullptr;
  watch = nullptr;
  if (!displayLost) XSetIOErrorHandler(previousHandler);
}

bool DisplayLossWatch::lost() { return displayLost; }

}  // namespace corvid::linux_platform
