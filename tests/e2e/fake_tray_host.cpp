#include "fake_tray_host.h"

#include <stdexcept>

namespace corvid::testing {

namespace {

constexpr const char* kWatcherXml =
    "<node><interface name='org.kde.StatusNotifierWatcher'>"
    "<method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
    "<method name='RegisterStatusNotifierHost'><arg type='s' direction='in'/></method>"
    "<property name='RegisteredStatusNotifierItems' type='as' access='read'/>"
    "<property name='IsStatusNotifierHostRegistered' type='b' access='read'/>"
    "<property name='ProtocolVersion' type='i' access='read'/>"
    "<signal name='StatusNotifierItemRegistered'><arg type='s'/></signal>"
    "<signal name='StatusNotifierItemUnregistered'><arg type='s'/></signal>"
    "<signal name='StatusNotifierHostRegistered'/>"
    "</interface></node>";

GVariant* call(GDBusConnection* bus, const std::string& dest, const std::string& path, const char* iface,
               const char* method, GVariant* args, const char* replyType) {
  GError* error = nullptr;
  GVariant* reply =
      g_dbus_connection_call_sync(bus, dest.c_str(), path.c_str(), iface, method, args,
                                  G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
  if (error) g_error_free(error);
  return reply;
}

}  // namespace

FakeTrayHost::FakeTrayHost(const std::string& busAddress) {
  GError* error = nullptr;
  bus_ = g_dbus_connection_new_for_address_sync(
      busAddress.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  if (!bus_) {
    std::string why = error->message;
    g_error_free(error);
    throw std::runtime_error("fake tray host: " + why);
  }
  GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kWatcherXml, nullptr);
  static const GDBusInterfaceVTable vtable = {
      [](GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* method,
         GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
        auto* self = static_cast<FakeTrayHost*>(data);
        if (g_strcmp0(method, "RegisterStatusNotifierItem") == 0) {
          const gchar* service = nullptr;
          g_variant_get(parameters, "(&s)", &service);
          // Items pass either their object path or their bus name.
          std::string path = service && service[0] == '/' ? service : "/StatusNotifierItem";
          self->registrations_.push_back({sender, path});
        }
        g_dbus_method_invocation_return_value(invocation, nullptr);
      },
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* property, GError**,
         gpointer data) -> GVariant* {
        auto* self = static_cast<FakeTrayHost*>(data);
        if (g_strcmp0(property, "IsStatusNotifierHostRegistered") == 0) return g_variant_new_boolean(TRUE);
        if (g_strcmp0(property, "ProtocolVersion") == 0) return g_variant_new_int32(0);
        GVariantBuilder items;
        g_variant_builder_init(&items, G_VARIANT_TYPE("as"));
        for (const auto& r : self->registrations_)
          g_variant_builder_add(&items, "s", (r.sender + r.path).c_str());
        return g_variant_builder_end(&items);
      },
      nullptr,
      {}};
  object_ = g_dbus_connection_register_object(bus_, "/StatusNotifierWatcher", info->interfaces[0], &vtable,
                                              this, nullptr, nullptr);
  g_dbus_node_info_unref(info);
  own();
}

FakeTrayHost::~FakeTrayHost() {
  release();
  if (object_) g_dbus_connection_unregister_object(bus_, object_);
  g_dbus_connection_close_sync(bus_, nullptr, nullptr);
  g_object_unref(bus_);
}

void FakeTrayHost::own() {
  if (owned_) return;
  owned_ = true;
  name_ = g_bus_own_name_on_connection(bus_, "org.kde.StatusNotifierWatcher", G_BUS_NAME_OWNER_FLAGS_NONE,
                                       nullptr, nullptr, nullptr, nullptr);
}

void FakeTrayHost::release() {
  if (!owned_) return;
  owned_ = false;
  g_bus_unown_name(name_);
  name_ = 0;
}

std::optional<std::string> FakeTrayHost::itemProperty(const std::string& name) const {
  if (registrations_.empty()) return std::nullopt;
  const auto& item = registrations_.back();
  GVariant* reply = call(bus_, item.sender, item.path, "org.freedesktop.DBus.Properties", "Get",
                         g_variant_new("(ss)", "org.kde.StatusNotifierItem", name.c_str()), "(v)");
  if (!reply) return std::nullopt;
  GVariant* value = nullptr;
  g_variant_get(reply, "(v)", &value);
  std::optional<std::string> text;
  if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) ||
      g_variant_is_of_type(value, G_VARIANT_TYPE_OBJECT_PATH)) {
    text = g_variant_get_string(value, nullptr);
  }
  g_variant_unref(value);
  g_variant_unref(reply);
  return text;
}

std::vector<FakeTrayHost::MenuEntry> FakeTrayHost::menu() const {
  std::vector<MenuEntry> entries;
  auto path = itemProperty("Menu");
  if (!path) return entries;
  const auto& item = registrations_.back();
  const gchar* none[] = {nullptr};
  GVariant* reply = call(bus_, item.sender, *path, "com.canonical.dbusmenu", "GetLayout",
                         g_variant_new("(ii^as)", 0, 1, none), "(u(ia{sv}av))");
  if (!reply) return entries;
  GVariant* layout = g_variant_get_child_value(reply, 1);
  GVariant* children = g_variant_get_child_value(layout, 2);
  for (gsize i = 0, n = g_variant_n_children(children); i < n; ++i) {
    GVariant* boxed = g_variant_get_child_value(children, i);
    GVariant* child = g_variant_get_variant(boxed);
    GVariant* props = g_variant_get_child_value(child, 1);
    MenuEntry e;
    const gchar* text = nullptr;
    if (g_variant_lookup(props, "label", "&s", &text)) e.label = text;
    gboolean enabled = TRUE;
    if (g_variant_lookup(props, "enabled", "b", &enabled)) e.enabled = enabled;
    const gchar* type = nullptr;
    if (g_variant_lookup(props, "type", "&s", &type)) e.separator = g_strcmp0(type, "separator") == 0;
    gboolean visible = TRUE;
    g_variant_lookup(props, "visible", "b", &visible);
    if (visible) entries.push_back(e);
    g_variant_unref(props);
    g_variant_unref(child);
    g_variant_unref(boxed);
  }
  g_variant_unref(children);
  g_variant_unref(layout);
  g_variant_unref(reply);
  return entries;
}

}  // namespace corvid::testing
