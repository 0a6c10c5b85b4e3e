#include "platform/linux/gtk/system_quit.h"

#include <gio/gunixfdlist.h>
#include <unistd.h>

namespace corvid::linux_platform {

namespace {

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kManagerPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";

}  // namespace

ShutdownWatch::ShutdownWatch(std::function<void()> onShutdown, std::string busAddress)
    : onShutdown_(std::move(onShutdown)), cancel_(g_cancellable_new()) {
  auto done = [](GObject*, GAsyncResult* result, gpointer data) {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_finish(result, &error);
    if (!bus) {
      // No system bus (nothing to watch), or the watch is gone (cancelled).
      g_error_free(error);
      return;
    }
    static_cast<ShutdownWatch*>(data)->connected(bus);
  };
  if (busAddress.empty()) {
    g_bus_get(G_BUS_TYPE_SYSTEM, cancel_, done, this);
  } else {
    g_dbus_connection_new_for_address(
        busAddress.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, cancel_,
        [](GObject*, GAsyncResult* result, gpointer data) {
          GError* error = nullptr;
          GDBusConnection* bus = g_dbus_connection_new_for_address_finish(result, &error);
          if (!bus) {
            g_error_free(error);
            return;
          }
          static_cast<ShutdownWatch*>(data)->connected(bus);
        },
        this);
  }
}

ShutdownWatch::~ShutdownWatch() {
  g_cancellable_cancel(cancel_);
  g_object_unref(cancel_);
  if (bus_) {
    if (subscription_) g_dbus_connection_signal_unsubscribe(bus_, subscription_);
    g_object_unref(bus_);
  }
  if (lockFd_ >= 0) ::close(lockFd_);
}

void ShutdownWatch::connected(GDBusConnection* bus) {
  bus_ = bus;
  subscription_ = g_dbus_connection_signal_subscribe(
      bus_, kLogind, kManager, "PrepareForShutdown", kManagerPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
         gpointer data) {
        if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)"))) return;
        gboolean starting = FALSE;
        g_variant_get(parameters, "(b)", &starting);
        auto* self = static_cast<ShutdownWatch*>(data);
        if (starting) {
          if (self->onShutdown_) self->onShutdown_();
        } else {
          self->takeLock();  // the shutdown was called off
        }
      },
      this, nullptr);
  takeLock();
}

void ShutdownWatch::takeLock() {
  if (lockFd_ >= 0 || !bus_) return;
  g_dbus_connection_call_with_unix_fd_list(
      bus_, kLogind, kManagerPath, kManager, "Inhibit",
      g_variant_new("(ssss)", "shutdown", "Corvid", "Tell the paired iPhones that watching stops", "delay"),
      G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, cancel_,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        GError* error = nullptr;
        GUnixFDList* fds = nullptr;
        GVariant* reply =
            g_dbus_connection_call_with_unix_fd_list_finish(G_DBUS_CONNECTION(source), &fds, result, &error);
        if (!reply) {
          // Cancelled (the watch is gone), no logind, or refused by policy.
          g_error_free(error);
          return;
        }
        gint32 index = -1;
        g_variant_get(reply, "(h)", &index);
        g_variant_unref(reply);
        int fd = fds ? g_unix_fd_list_get(fds, index, nullptr) : -1;
        if (fds) g_object_unref(fds);
        auto* self = static_cast<ShutdownWatch*>(data);
        if (fd < 0) return;
        if (self->lockFd_ >= 0) {
          ::close(fd);
        } else {
          self->lockFd_ = fd;
        }
      },
      this);
}

}  // namespace corvid::linux_platform
