#include "platform/linux/notify/desktop_notifier.h"

#include <gio/gio.h>
#include <libnotify/notify.h>

#include <algorithm>
#include <optional>
#include <vector>

namespace corvid::linux_platform {

namespace {

constexpr const char* kBusName = "org.freedesktop.Notifications";
constexpr const char* kObjectPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
// How long the capability question may take before the server counts as
// absent.
constexpr int kCallTimeoutMs = 5000;
// Notifications the server never reports closed are let go beyond this.
constexpr std::size_t kMaxOpen = 32;

using Capabilities = std::optional<std::vector<std::string>>;

// One capability question in flight; owned by the GIO callbacks.
struct CapabilitiesCall {
  Resumer<Capabilities> resume;
  GCancellable* cancellable;
  CapabilitiesCall(Resumer<Capabilities> r, GCancellable* c)
      : resume(std::move(r)), cancellable(G_CANCELLABLE(g_object_ref(c))) {}
  ~CapabilitiesCall() { g_object_unref(cancellable); }
};

void capabilitiesAnswered(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<CapabilitiesCall> call(static_cast<CapabilitiesCall*>(data));
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
  if (!reply) {
    g_error_free(error);
    call->resume(std::nullopt);
    return;
  }
  std::vector<std::string> caps;
  GVariantIter* iter = nullptr;
  const char* cap = nullptr;
  g_variant_get(reply, "(as)", &iter);
  while (g_variant_iter_loop(iter, "&s", &cap)) caps.emplace_back(cap);
  g_variant_iter_free(iter);
  g_variant_unref(reply);
  call->resume(std::move(caps));
}

void busReady(GObject*, GAsyncResult* result, gpointer data) {
  std::unique_ptr<CapabilitiesCall> call(static_cast<CapabilitiesCall*>(data));
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_finish(result, &error);
  if (!bus) {
    g_error_free(error);
    call->resume(std::nullopt);
    return;
  }
  GCancellable* cancellable = call->cancellable;
  g_dbus_connection_call(bus, kBusName, kObjectPath, kInterface, "GetCapabilities", nullptr,
                         G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, cancellable,
                         capabilitiesAnswered, call.release());
  g_object_unref(bus);
}

// Keeps a GCancellable referenced and cancels it when dropped early.
struct HeldCancellable {
  GCancellable* cancellable = nullptr;
  CancelRegistration onCancel;
  explicit HeldCancellable(GCancellable* c) : cancellable(c) {}
  HeldCancellable(HeldCancellable&& o) noexcept
      : cancellable(std::exchange(o.cancellable, nullptr)), onCancel(std::move(o.onCancel)) {}
  ~HeldCancellable() {
    if (cancellable) g_object_unref(cancellable);
  }
};

// The server's capabilities, or nothing when no server answers.
Task<Capabilities> askCapabilities() {
  co_return co_await suspendUntil<Capabilities>([](Resumer<Capabilities> resume, CancelScope& scope) {
    HeldCancellable held(g_cancellable_new());
    GCancellable* c = held.cancellable;
    held.onCancel = scope.onCancel([c, resume] {
      g_cancellable_cancel(c);
      resume(std::nullopt);
    });
    if (!resume.done()) g_bus_get(G_BUS_TYPE_SESSION, c, busReady, new CapabilitiesCall(resume, c));
    return held;
  });
}

bool hasCapability(const std::vector<std::string>& caps, std::string_view name) {
  return std::find(caps.begin(), caps.end(), name) != caps.end();
}

}  // namespace

struct LibnotifyNotifier::Impl {
  struct Open {
    NotifyNotification* notification;
    std::string identifier;
    gulong closedHandler;
  };

  Options options;
  std::function<void(const std::string&)> onClick;
  std::optional<bool> actions;  // whether the server offers actions, once known
  std::vector<Open> open;

  ~Impl() {
    for (auto& o : open) release(o);
  }

  bool ensureInit() {
    if (notify_is_initted()) return true;
    return notify_init(options.appName.c_str());
  }

  static void release(Open& o) {
    g_signal_handler_disconnect(o.notification, o.closedHandler);
    notify_notification_clear_actions(o.notification);
    g_object_unref(o.notification);
  }

  void forget(NotifyNotification* n) {
    auto it = std::find_if(open.begin(), open.end(), [n](const Open& o) { return o.notification == n; });
    if (it == open.end()) return;
    Open o = *it;
    open.erase(it);
    release(o);
  }

  static void clicked(NotifyNotification* n, char* action, gpointer data) {
    auto* self = static_cast<Impl*>(data);
    if (g_strcmp0(action, "default") != 0) return;
    auto it = std::find_if(self->open.begin(), self->open.end(),
                           [n](const Open& o) { return o.notification == n; });
    if (it == self->open.end() || !self->onClick) return;
    std::string identifier = it->identifier;
    self->onClick(identifier);
  }

  static void closed(NotifyNotification* n, gpointer data) { static_cast<Impl*>(data)->forget(n); }
};

LibnotifyNotifier::LibnotifyNotifier(Options options, std::function<void(const std::string&)> onClick)
    : impl_(std::make_shared<Impl>()) {
  impl_->options = std::move(options);
  impl_->onClick = std::move(onClick);
}

LibnotifyNotifier::~LibnotifyNotifier() = default;

Task<bool> LibnotifyNotifier::requestAuthorization() {
  std::shared_ptr<Impl> impl = impl_;
  if (!impl->ensureInit()) co_return false;
  Capabilities caps = co_await askCapabilities();
  if (!caps) co_return false;
  impl->actions = hasCapability(*caps, "actions");
  co_return true;
}

void LibnotifyNotifier::post(const std::string& identifier, const std::string& title,
                             const std::string& body) {
  Impl& impl = *impl_;
  if (!impl.ensureInit()) return;
  if (!impl.actions) {
    // Not asked yet: ask the server now (short synchronous calls). No
    // answer means no server, and the notification is dropped.
    if (!notify_get_server_info(nullptr, nullptr, nullptr, nullptr)) return;
    GList* caps = notify_get_server_caps();
    if (!caps) return;
    bool actions = false;
    for (GList* l = caps; l; l = l->next)
      actions = actions || g_strcmp0(static_cast<char*>(l->data), "actions") == 0;
    g_list_free_full(caps, g_free);
    impl.actions = actions;
  }
  const std::string& summary = title.empty() ? impl.options.appName : title;
  NotifyNotification* n =
      notify_notification_new(summary.c_str(), body.empty() ? nullptr : body.c_str(),
                              impl.options.iconName.empty() ? nullptr : impl.options.iconName.c_str());
  if (!impl.options.desktopEntry.empty()) {
    notify_notification_set_hint_string(n, "desktop-entry", impl.options.desktopEntry.c_str());
  }
  if (*impl.actions) {
    notify_notification_add_action(n, "default", kDefaultActionLabel, &Impl::clicked, &impl, nullptr);
  }
  gulong handler = g_signal_connect(n, "closed", G_CALLBACK(&Impl::closed), &impl);
  GError* error = nullptr;
  if (!notify_notification_show(n, &error)) {
    if (error) g_error_free(error);
    g_signal_handler_disconnect(n, handler);
    notify_notification_clear_actions(n);
    g_object_unref(n);
    return;
  }
  impl.open.push_back({n, identifier, handler});
  if (impl.open.size() > kMaxOpen) {
    Impl::Open oldest = impl.open.front();
    impl.open.erase(impl.open.begin());
    Impl::release(oldest);
  }
}

std::size_t LibnotifyNotifier::openNotifications() const { return impl_->open.size(); }

}  // namespace corvid::linux_platform
