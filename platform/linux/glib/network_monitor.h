// Network reachability from GIO's network monitor.
#pragma once

#include <gio/gio.h>

#include "watcher/platform.h"

namespace corvid::linux_platform {

// A usable path is GNetworkMonitor's "network available" (a default route
// exists). The handler runs once inside `start` with the current state, then
// for every "network-changed" signal, also for those that do not change the
// state. The monitor's signals arrive on the main context of the thread that
// first asked for the monitor, which is the main thread.
class GLibNetworkMonitor : public NetworkMonitor {
 public:
  // `monitor` defaults to the system's monitor (g_network_monitor_get_default).
  explicit GLibNetworkMonitor(GNetworkMonitor* monitor = nullptr);
  ~GLibNetworkMonitor() override;
  GLibNetworkMonitor(const GLibNetworkMonitor&) = delete;
  GLibNetworkMonitor& operator=(const GLibNetworkMonitor&) = delete;

  void start(std::function<void(bool online)> handler) override;

 private:
  static void changed(GNetworkMonitor* monitor, gboolean available, gpointer self);

  GNetworkMonitor* monitor_;
  gulong signal_ = 0;
  std::function<void(bool)> handler_;
};

}  // namespace corvid::linux_platform
