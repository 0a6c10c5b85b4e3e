#include "platform/linux/net/computer_name.h"

#include <gio/gio.h>

namespace corvid::linux_platform {

namespace {

constexpr int kBusTimeoutMs = 1000;

// Surrounding white space dropped; a name of spaces alone is no name.
std::string trimmedName(const char* text) {
  if (!text || !g_utf8_validate(text, -1, nullptr)) return {};
  std::string name = text;
  const char* space = " \t\r\n";
  auto first = name.find_first_not_of(space);
  if (first == std::string::npos) return {};
  return name.substr(first, name.find_last_not_of(space) - first + 1);
}

}  // namespace

struct ComputerName::Impl : std::enable_shared_from_this<Impl> {
  GCancellable* cancellable = g_cancellable_new();
  std::string pretty;
  bool asking = false;

  ~Impl() {
    g_cancellable_cancel(cancellable);
    g_object_unref(cancellable);
  }

  using Weak = std::weak_ptr<Impl>;
  static std::shared_ptr<Impl> take(gpointer data) {
    std::unique_ptr<Weak> w(static_cast<Weak*>(data));
    return w->lock();
  }

  void ask() {
    if (asking) return;
    asking = true;
    // Not cancellable: a cancelled g_bus_get() would leave the process's
    // shared system connection failed for every later user.
    g_bus_get(G_BUS_TYPE_SYSTEM, nullptr, &Impl::busReady, new Weak(weak_from_this()));
  }

  static void busReady(GObject*, GAsyncResult* result, gpointer data) {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_finish(result, &error);
    std::shared_ptr<Impl> self = take(data);
    if (!bus) {
      g_error_free(error);
      if (self) self->answered(nullptr);
      return;
    }
    // The shared system bus connection would end the process when the bus
    // goes away (a restart of D-Bus, say); a name lookup must not do that.
    g_dbus_connection_set_exit_on_close(bus, FALSE);
    if (self) {
      g_dbus_connection_call(
          bus, "org.freedesktop.hostname1", "/org/freedesktop/hostname1", "org.freedesktop.DBus.Properties",
          "Get", g_variant_new("(ss)", "org.freedesktop.hostname1", "PrettyHostname"), G_VARIANT_TYPE("(v)"),
          G_DBUS_CALL_FLAGS_NONE, kBusTimeoutMs, self->cancellable, &Impl::nameReady, new Weak(self));
    }
    g_object_unref(bus);
  }

  static void nameReady(GObject* source, GAsyncResult* result, gpointer data) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    std::shared_ptr<Impl> self = take(data);
    if (!reply) g_error_free(error);
    if (self) self->answered(reply);
    if (reply) g_variant_unref(reply);
  }

  // No reply (no bus, no hostnamed, an error): no pretty name.
  void answered(GVariant* reply) {
    asking = false;
    pretty.clear();
    if (!reply) return;
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    if (value && g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
      pretty = trimmedName(g_variant_get_string(value, nullptr));
    }
    if (value) g_variant_unref(value);
  }
};

ComputerName::ComputerName() : impl_(std::make_shared<Impl>()) { impl_->ask(); }

ComputerName::~ComputerName() = default;

std::string ComputerName::current() {
  std::string name = impl_->pretty;
  impl_->ask();
  if (!name.empty()) return name;
  return trimmedName(g_get_host_name());
}

}  // namespace corvid::linux_platform
