#include "platform/linux/glib/process_activity.h"

#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <utility>

namespace corvid::linux_platform {

// Outlives the inhibitor when the object goes while a call is under way:
// the callbacks then find `owner` cleared and only free what they got.
struct LogindIdleInhibitor::Request {
  LogindIdleInhibitor* owner;
  GDBusConnection* bus = nullptr;
  ~Request() {
    if (bus) g_object_unref(bus);
  }
};

LogindIdleInhibitor::LogindIdleInhibitor(ActivityLog& log, std::string busAddress)
    : log_(log), address_(std::move(busAddress)), cancel_(g_cancellable_new()) {}

LogindIdleInhibitor::~LogindIdleInhibitor() {
  if (request_) request_->owner = nullptr;
  g_cancellable_cancel(cancel_);
  g_object_unref(cancel_);
  if (fd_ >= 0) ::close(fd_);
}

void LogindIdleInhibitor::begin(std::string_view reason) {
  if (begun_) return;
  begun_ = true;
  reason_ = std::string(reason);

  std::string address = address_;
  if (address.empty()) {
    GError* error = nullptr;
    char* system = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    if (!system) {
      skip(error->message);
      g_error_free(error);
      return;
    }
    address = system;
    g_free(system);
  }
  // A connection of our own: the inhibitor lives as long as its descriptor,
  // not the connection, so the connection is dropped after the call.
  request_ = new Request{this};
  g_dbus_connection_new_for_address(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, cancel_,
      [](GObject*, GAsyncResult* result, gpointer data) {
        auto* request = static_cast<Request*>(data);
        GError* error = nullptr;
        request->bus = g_dbus_connection_new_for_address_finish(result, &error);
        if (request->owner) {
          request->owner->connected(request->bus, error);
        } else {
          delete request;
        }
        if (error) g_error_free(error);
      },
      request_);
}

void LogindIdleInhibitor::connected(GDBusConnection* bus, GError* error) {
  if (!bus) {
    delete std::exchange(request_, nullptr);
    skip(error ? error->message : "no system bus");
    return;
  }
  g_dbus_connection_call_with_unix_fd_list(
      bus, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "Inhibit",
      g_variant_new("(ssss)", "idle:sleep", "Corvid", reason_.c_str(), "block"), G_VARIANT_TYPE("(h)"),
      G_DBUS_CALL_FLAGS_NONE, -1, nullptr, cancel_,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        auto* request = static_cast<Request*>(data);
        GError* error = nullptr;
        GUnixFDList* fds = nullptr;
        GVariant* reply =
            g_dbus_connection_call_with_unix_fd_list_finish(G_DBUS_CONNECTION(source), &fds, result, &error);
        if (request->owner) request->owner->answered(reply, fds, error);
        if (reply) g_variant_unref(reply);
        if (fds) g_object_unref(fds);
        if (error) g_error_free(error);
        if (request->owner) request->owner->request_ = nullptr;
        delete request;
      },
      request_);
}

void LogindIdleInhibitor::answered(GVariant* reply, GUnixFDList* fds, GError* error) {
  if (!reply) {
    if (g_dbus_error_is_remote_error(error)) g_dbus_error_strip_remote_error(error);
    skip(error->message);
    return;
  }
  gint32 index = -1;
  g_variant_get(reply, "(h)", &index);
  GError* fdError = nullptr;
  int fd = fds ? g_unix_fd_list_get(fds, index, &fdError) : -1;  // a duplicate we own
  if (fd < 0) {
    skip(fdError ? fdError->message : "logind sent no descriptor");
    if (fdError) g_error_free(fdError);
    return;
  }
  fd_ = fd;
  settled_ = true;
}

void LogindIdleInhibitor::skip(const std::string& cause) {
  settled_ = true;
  log_.log("app: no idle inhibitor (" + cause + ")");
}

}  // namespace corvid::linux_platform
