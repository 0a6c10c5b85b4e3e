// The system log through GLib's structured logging (journald where the
// process's output goes to the journal, else standard error).
#pragma once

#include "base/log.h"

namespace corvid::linux_platform {

// Writes each message at the "message" level (journald priority 5, notice)
// with the log domain "halvy.watch" and the field CATEGORY=watcher, so that
// `journalctl GLIB_DOMAIN=halvy.watch` finds them.
class GLibSystemLog : public SystemLog {
 public:
  static constexpr const char* kDomain = "halvy.watch";
  static constexpr const char* kCategory = "watcher";

  void message(std::string_view text) override;
};

// Sends the description of every exception that escapes a spawned task to
// `log` ("task: unhandled exception: " + description). `log` must outlive
// every task.
void routeUnhandledTaskErrors(SystemLog& log);

}  // namespace corvid::linux_platform
