#include "platform/linux/gtk/tray.h"

#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator-enum-types.h>
#include <libayatana-appindicator/app-indicator.h>

#include <algorithm>
#include <cstdlib>

#include "ui/status.h"
#include "ui/tray_icon.h"

// An AppIndicator without the GtkStatusIcon fallback. Without a tray host
// the library would otherwise make an XEmbed status icon, whose icon
// updates read past the end of GTK's icon search path in the Debian 12
// library (a crash seen under AddressSanitizer, and in the field as a rare
// segfault in status_icon_changes). The fallback could only show on old
// XEmbed-only trays anyway; without a tray host Corvid is reached by
// launching it again.
extern "C" {
struct CorvidIndicator {
  AppIndicator parent;
};
struct CorvidIndicatorClass {
  AppIndicatorClass parent_class;
};
G_DEFINE_TYPE(CorvidIndicator, corvid_indicator, APP_INDICATOR_TYPE)
static void corvid_indicator_class_init(CorvidIndicatorClass* klass) {
  klass->parent_class.fallback = nullptr;
  klass->parent_class.unfallback = nullptr;
}
static void corvid_indicator_init(CorvidIndicator*) {}
}

namespace corvid::linux_platform {

namespace {

AppIndicator* newIndicator(const std::string& id, const std::string& icon,
                           const std::filesystem::path& themePath) {
  auto* categories = static_cast<GEnumClass*>(g_type_class_ref(APP_INDICATOR_TYPE_INDICATOR_CATEGORY));
  const char* category = g_enum_get_value(categories, APP_INDICATOR_CATEGORY_APPLICATION_STATUS)->value_nick;
  auto* indicator = static_cast<AppIndicator*>(g_object_new(corvid_indicator_get_type(), "id", id.c_str(),
                                                            "category", category, "icon-name", icon.c_str(),
                                                            "icon-theme-path", themePath.c_str(), nullptr));
  g_type_class_unref(categories);
  return indicator;
}

}  // namespace

std::filesystem::path trayIconThemeFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime && std::filesystem::is_directory(runtime)) {
    return std::filesystem::path(runtime) / "corvid" / "icons";
  }
  return std::filesystem::path(g_get_user_cache_dir()) / "corvid" / "icons";
}

struct TrayIcon::Impl {
  Dependencies deps;
  std::filesystem::path themeFolder = trayIconThemeFolder();
  AppIndicator* indicator = nullptr;
  GtkWidget* menu = nullptr;
  std::string icon;
  std::vector<MenuItem> items;
  bool isConnected = false;
  bool renderQueued = false;
  sigc::connection watcherChanges, routerChanges;
  Timer refresh;
  std::shared_ptr<Impl*> alive = std::make_shared<Impl*>(this);

  explicit Impl(Dependencies d) : deps(std::move(d)) {
    writeIcons();
    menu = gtk_menu_new();
    g_object_ref_sink(menu);
    MenuInputs in = menuInputs(deps.watcher, deps.clock.now());
    icon = std::string(trayIconName(needsAttention(in.health)));
    items = menuItems(in);
    indicator = newIndicator(deps.id, icon, themeFolder);
    app_indicator_set_title(indicator, std::string(kTrayAccessibleName).c_str());
    app_indicator_set_icon_full(indicator, icon.c_str(), std::string(kTrayAccessibleName).c_str());
    renderMenu();
    app_indicator_set_menu(indicator, GTK_MENU(menu));
    app_indicator_set_status(indicator, APP_INDICATOR_STATUS_ACTIVE);
    g_signal_connect(indicator, APP_INDICATOR_SIGNAL_CONNECTION_CHANGED,
                     G_CALLBACK(+[](AppIndicator*, gboolean connected, gpointer data) {
                       static_cast<Impl*>(data)->connectionChanged(connected);
                     }),
                     this);
    watcherChanges = deps.watcher.objectWillChange().connect([this] { queueRender(); });
    routerChanges = deps.router.objectWillChange().connect([this] { queueRender(); });
    refresh = deps.scheduler.every(kRefreshInterval, [this] { render(); });
  }

  ~Impl() {
    *alive = nullptr;
    watcherChanges.disconnect();
    routerChanges.disconnect();
    g_signal_handlers_disconnect_by_data(indicator, this);
    g_object_unref(indicator);
    gtk_widget_destroy(menu);
    g_object_unref(menu);
  }

  void writeIcons() {
    if (!writeTrayIcons(themeFolder)) {
      deps.systemLog.message("tray: cannot write the icons into " + themeFolder.string());
    }
  }

  // The library registers the item by itself: once its bus connection and
  // the watcher are there, and again each time the watcher's name gets a
  // new owner (a panel that restarts). Registering from here as well (by
  // setting the menu again) would answer every registration with another
  // one, and each ends in this signal again: a stream of registrations that
  // tray hosts do not survive. So this only notes the state, and puts the
  // icons back should the runtime folder have been cleaned meanwhile.
  void connectionChanged(bool connected) {
    isConnected = connected;
    if (connected) writeIcons();
  }

  // Announcements come before the change: render after it, once per turn.
  void queueRender() {
    if (renderQueued) return;
    renderQueued = true;
    deps.scheduler.post([weak = std::weak_ptr<Impl*>(alive)] {
      auto token = weak.lock();
      if (!token || !*token) return;
      (*token)->renderQueued = false;
      (*token)->render();
    });
  }

  void render() {
    MenuInputs in = menuInputs(deps.watcher, deps.clock.now());
    std::string wanted(trayIconName(needsAttention(in.health)));
    if (wanted != icon) {
      icon = wanted;
      app_indicator_set_icon_full(indicator, icon.c_str(), std::string(kTrayAccessibleName).c_str());
    }
    std::vector<MenuItem> next = menuItems(in);
    if (next == items) return;
    const bool sameShape = std::equal(
        next.begin(), next.end(), items.begin(), items.end(), [](const MenuItem& a, const MenuItem& b) {
          return a.kind == b.kind && a.action == b.action && a.accelerator == b.accelerator;
        });
    items = std::move(next);
    if (sameShape) {
      updateMenu();
    } else {
      renderMenu();
    }
  }

  // The same items with other texts (the relative times every few seconds):
  // changed in place, so that a host showing the menu keeps it open and
  // only reads the changed labels.
  void updateMenu() {
    GList* children = gtk_container_get_children(GTK_CONTAINER(menu));
    std::size_t i = 0;
    for (GList* c = children; c && i < items.size(); c = c->next, ++i) {
      const MenuItem& item = items[i];
      if (item.kind == MenuItem::Kind::separator) continue;
      auto* w = GTK_MENU_ITEM(c->data);
      if (item.label != gtk_menu_item_get_label(w)) gtk_menu_item_set_label(w, item.label.c_str());
      gtk_widget_set_sensitive(GTK_WIDGET(w), item.kind == MenuItem::Kind::button && item.enabled);
    }
    g_list_free(children);
  }

  void renderMenu() {
    gtk_container_foreach(
        GTK_CONTAINER(menu), [](GtkWidget* child, gpointer) { gtk_widget_destroy(child); }, nullptr);
    for (const MenuItem& item : items) gtk_menu_shell_append(GTK_MENU_SHELL(menu), makeItem(item));
    gtk_widget_show_all(menu);
  }

  GtkWidget* makeItem(const MenuItem& item) {
    if (item.kind == MenuItem::Kind::separator) return gtk_separator_menu_item_new();
    GtkWidget* w = gtk_menu_item_new_with_label(item.label.c_str());
    gtk_widget_set_sensitive(w, item.kind == MenuItem::Kind::button && item.enabled);
    if (!item.accelerator.empty()) {
      guint key = 0;
      GdkModifierType mods{};
      gtk_accelerator_parse(item.accelerator.c_str(), &key, &mods);
      if (GTK_IS_ACCEL_LABEL(gtk_bin_get_child(GTK_BIN(w)))) {
        gtk_accel_label_set_accel(GTK_ACCEL_LABEL(gtk_bin_get_child(GTK_BIN(w))), key, mods);
      }
    }
    if (item.kind == MenuItem::Kind::button) {
      g_object_set_data(G_OBJECT(w), "corvid-action", GINT_TO_POINTER(static_cast<int>(item.action)));
      g_signal_connect(w, "activate", G_CALLBACK(+[](GtkMenuItem* mi, gpointer data) {
                         auto* self = static_cast<Impl*>(data);
                         auto action = static_cast<MenuAction>(
                             GPOINTER_TO_INT(g_object_get_data(G_OBJECT(mi), "corvid-action")));
                         // From the main loop, once the menu has closed: an
                         // action may open a modal dialog or rebuild this menu.
                         self->deps.scheduler.post([weak = std::weak_ptr<Impl*>(self->alive), action] {
                           auto token = weak.lock();
                           if (token && *token && (*token)->deps.perform) (*token)->deps.perform(action);
                         });
                       }),
                       this);
    }
    return w;
  }
};

TrayIcon::TrayIcon(Dependencies deps) : impl_(std::make_unique<Impl>(std::move(deps))) {}
TrayIcon::~TrayIcon() = default;
const std::string& TrayIcon::iconName() const { return impl_->icon; }
const std::vector<MenuItem>& TrayIcon::items() const { return impl_->items; }
bool TrayIcon::connected() const { return impl_->isConnected; }

}  // namespace corvid::linux_platform
