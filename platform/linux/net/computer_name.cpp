#include "platform/linux/net/computer_name.h"

#include <gio/gio.h>

namespace corvid::linux_platform {

namespace {

constexpr int kBusTimeoutMs = 1000;

std::string prettyHostname() {
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
  if (!bus) {
    g_clear_error(&error);
    return {};
  }
  // The shared system bus connection would end the process when the bus
  // goes away (a restart of D-Bus, say); a name lookup must not do that.
  g_dbus_connection_set_exit_on_close(bus, FALSE);
  GVariant* reply = g_dbus_connection_call_sync(
      bus, "org.freedesktop.hostname1", "/org/freedesktop/hostname1", "org.freedesktop.DBus.Properties",
      "Get", g_variant_new("(ss)", "org.freedesktop.hostname1", "PrettyHostname"), G_VARIANT_TYPE("(v)"),
      G_DBUS_CALL_FLAGS_NONE, kBusTimeoutMs, nullptr, &error);
  g_object_unref(bus);
  if (!reply) {
    g_clear_error(&error);
    return {};
  }
  std::string name;
  GVariant* value = nullptr;
  g_variant_get(reply, "(v)", &value);
  if (value && g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
    const char* text = g_variant_get_string(value, nullptr);
    if (text && g_utf8_validate(text, -1, nullptr)) name = text;
  }
  if (value) g_variant_unref(value);
  g_variant_unref(reply);
  return name;
}

}  // namespace

std::string systemComputerName() {
  std::string pretty = prettyHostname();
  // Surrounding white space is dropped; a name of spaces alone is no name.
  const char* space = " \t\r\n";
  auto first = pretty.find_first_not_of(space);
  if (first != std::string::npos) return pretty.substr(first, pretty.find_last_not_of(space) - first + 1);
  const char* host = g_get_host_name();
  if (host && *host && g_utf8_validate(host, -1, nullptr)) return host;
  return {};
}

}  // namespace corvid::linux_platform
