// Keeps the application alive for a moment when its X connection breaks
// (the X server ended, the display's socket closed).
//
// GDK ends the process at once when Xlib reports a fatal I/O error on the
// display, which would cut short the report that tells the phones watching
// stopped. Instead the error is noted, Xlib is told not to end the process
// (XSetIOErrorExitHandler: from then on it fails every request on that
// display), and `onLost` runs from the main loop, which goes on without the
// display until the application has quit.
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

  // Whether the connection of the watched display broke.
  static bool lost();

 private:
  std::function<void()> onLost_;
  bool watching_ = false;
};

}  // namespace corvid::linux_platform
