// Small platform services the Watcher uses besides the web engine.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/task.h"

namespace corvid {

// Reports whether the machine has a usable network path. `start` may call
// `handler` at once with the current state, and again on every update (also
// updates that do not change the state). Calls arrive on the main thread.
class NetworkMonitor {
 public:
  virtual ~NetworkMonitor() = default;
  virtual void start(std::function<void(bool online)> handler) = 0;
};

// Keeps the process and the machine from idling while the process lives.
// `begin` is called once; the activity is never ended.
class ProcessActivity {
 public:
  virtual ~ProcessActivity() = default;
  virtual void begin(std::string_view reason) = 0;
};

// The status of the application's own login item (launch at login). The
// raw values appear in the activity log.
enum class LoginItemStatus { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };

struct LoginItemError {
  int code = 0;
  std::string description;
};

class LoginItem {
 public:
  virtual ~LoginItem() = default;
  virtual LoginItemStatus status() = 0;
  // Nothing on success, else the platform's error.
  virtual std::optional<LoginItemError> registerItem() = 0;
  virtual std::optional<LoginItemError> unregisterItem() = 0;
  // Opens the desktop's settings for applications started at login.
  virtual void openSettings() = 0;
};

}  // namespace corvid

namespace corvid {

// Desktop notifications posted by the app itself (a lost login, resumed
// watching). Failures and refused permission drop the notification silently.
class DesktopNotifier {
 public:
  virtual ~DesktopNotifier() = default;
  // Asks for permission to show alerts with sound; answers whether granted.
  virtual Task<bool> requestAuthorization() = 0;
  // Shows a notification now. `identifier` is a prefix, "-", and whole
  // seconds since the Unix epoch; a click on it is routed by that prefix.
  virtual void post(const std::string& identifier, const std::string& title, const std::string& body) = 0;
};

}  // namespace corvid
