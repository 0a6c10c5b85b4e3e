#include "platform/linux/glib/network_monitor.h"

#include "base/task.h"

namespace corvid::linux_platform {

GLibNetworkMonitor::GLibNetworkMonitor(GNetworkMonitor* monitor)
    : monitor_(G_NETWORK_MONITOR(g_object_ref(monitor ? monitor : g_network_monitor_get_default()))) {}

GLibNetworkMonitor::~GLibNetworkMonitor() {
  if (signal_) g_signal_handler_disconnect(monitor_, signal_);
  g_object_unref(monitor_);
}

void GLibNetworkMonitor::start(std::function<void(bool online)> handler) {
  if (signal_) g_signal_handler_disconnect(monitor_, signal_);
  handler_ = std::move(handler);
  signal_ = g_signal_connect(monitor_, "network-changed", G_CALLBACK(&GLibNetworkMonitor::changed), this);
  if (handler_) handler_(g_network_monitor_get_network_available(monitor_));
}

void GLibNetworkMonitor::changed(GNetworkMonitor* monitor, gboolean, gpointer self) {
  auto* me = static_cast<GLibNetworkMonitor*>(self);
  // Ask the monitor rather than trusting the signal's argument: both agree
  // for GIO's monitors, and the property is what "usable path" means here.
  if (!me->handler_) return;
  try {
    me->handler_(g_network_monitor_get_network_available(monitor));
  } catch (...) {
    reportUnhandledTaskError(std::current_exception());  // never unwind through GLib
  }
}

}  // namespace corvid::linux_platform
