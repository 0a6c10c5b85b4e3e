// Hears that the application's X connection broke (the X server ended, the
// display's socket closed).
//
// GDK would end the process at once when Xlib reports the fatal I/O error.
// Instead `onLost` runs, from inside that error handler; it must end the
// process itself (the process ends anyway should it return). Nothing of
// GTK may run from there: Xlib hands out no more requests on the dead
// display, GTK does not expect that, and returning into it would crash.
#pragma once

#include <gdk/gdk.h>

#include <functional>

namespace corvid::linux_platform {

class DisplayLossWatch {
 public:
  // Watches `display` when it is an X11 display; otherwise does nothing.
  DisplayLossWatch(GdkDisplay* display, std::function<void()> onLost);
  ~DisplayLossWatch();
  DisplayLossWatch(const DisplayLossWatch&) = delete;
  DisplayLossWatch& operator=(const DisplayLossWatch&) = delete;

 private:
  std::function<void()> onLost_;
  bool watching_ = false;
};

}  // namespace corvid::linux_platform
