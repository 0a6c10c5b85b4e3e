// Keeps the machine from idle sleep while Corvid runs: a logind inhibitor.
#pragma once

#include <gio/gio.h>

#include <string>

#include "base/log.h"
#include "watcher/platform.h"

namespace corvid::linux_platform {

// `begin` asks logind (org.freedesktop.login1.Manager.Inhibit on the system
// bus) for an "idle:sleep" inhibitor in "block" mode under the name "Corvid"
// and keeps the file descriptor it returns open until this object goes,
// normally at the end of the process. The call is asynchronous and never
// blocks the main loop. Without a system bus, without logind or when logind
// (or its policy) refuses, the activity is skipped with one activity-log line
// "app: no idle inhibitor (" + cause + ")".
class LogindIdleInhibitor : public ProcessActivity {
 public:
  // `busAddress`: a D-Bus address to use instead of the system bus (tests).
  explicit LogindIdleInhibitor(ActivityLog& log, std::string busAddress = {});
  ~LogindIdleInhibitor() override;
  LogindIdleInhibitor(const LogindIdleInhibitor&) = delete;
  LogindIdleInhibitor& operator=(const LogindIdleInhibitor&) = delete;

  // Only the first call does anything.
  void begin(std::string_view reason) override;

  // The inhibitor's descriptor once logind answered; -1 before or without one.
  int fd() const { return fd_; }
  // True once the request has ended, with or without an inhibitor.
  bool settled() const { return settled_; }

 private:
  struct Request;
  void connected(GDBusConnection* bus, GError* error);
  void answered(GVariant* reply, GUnixFDList* fds, GError* error);
  void skip(const std::string& cause);

  ActivityLog& log_;
  std::string address_;
  std::string reason_;
  bool begun_ = false;
  bool settled_ = false;
  int fd_ = -1;
  GCancellable* cancel_;
  Request* request_ = nullptr;
};

}  // namespace corvid::linux_platform
