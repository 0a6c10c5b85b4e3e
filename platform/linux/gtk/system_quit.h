// Hears that the system is shutting down or restarting: logind's
// PrepareForShutdown(true) on the system bus. While the application runs
// it holds a logind "shutdown" inhibitor in "delay" mode, so that logind
// waits (up to its InhibitDelayMaxSec) until the stop sequence has told the
// phones; the lock goes with the process.
//
// Without a system bus or logind nothing happens; the session's end still
// reaches the application through the session manager (query-end) or as
// SIGTERM.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <string>

namespace corvid::linux_platform {

class ShutdownWatch {
 public:
  // `busAddress`: a D-Bus address to use instead of the system bus (tests).
  explicit ShutdownWatch(std::function<void()> onShutdown, std::string busAddress = {});
  ~ShutdownWatch();
  ShutdownWatch(const ShutdownWatch&) = delete;
  ShutdownWatch& operator=(const ShutdownWatch&) = delete;

  // The delay lock's descriptor, -1 while none is held.
  int lockFd() const { return lockFd_; }

 private:
  void connected(GDBusConnection* bus);
  void takeLock();

  std::function<void()> onShutdown_;
  GCancellable* cancel_;
  GDBusConnection* bus_ = nullptr;
  guint subscription_ = 0;
  int lockFd_ = -1;
};

}  // namespace corvid::linux_platform
