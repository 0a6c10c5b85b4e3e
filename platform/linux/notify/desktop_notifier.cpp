#include "platform/linux/notify/desktop_notifier.h"

#include <gio/gio.h>

#include <algorithm>
#include <deque>
#include <optional>
#include <vector>

namespace corvid::linux_platform {

namespace {

constexpr const char* kBusName = "org.freedesktop.Notifications";
constexpr const char* kObjectPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
// How long a question to the server may take before the server counts as
// absent (the capabilities) or the notification as lost (Notify).
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
    // Only the call is cancelled: a cancelled g_bus_get() would leave the
    // process's shared session connection failed for every later user.
    if (!resume.done()) g_bus_get(G_BUS_TYPE_SESSION, nullptr, busReady, new CapabilitiesCall(resume, c));
    return held;
  });
}

bool hasCapability(const std::vector<std::string>& caps, std::string_view name) {
  return std::find(caps.begin(), caps.end(), name) != caps.end();
}

}  // namespace

struct FreedesktopNotifier::Impl : std::enable_shared_from_this<Impl> {
  struct Open {
    guint32 id;
    std::string identifier;
  };
  struct Pending {
    std::string identifier, title, body;
  };

  Options options;
  std::function<void(const std::string&)> onClick;
  GCancellable* cancellable = g_cancellable_new();
  GDBusConnection* bus = nullptr;
  bool busAsked = false;
  std::optional<bool> actions;  // whether the server offers actions, once known
  bool capabilitiesAsked = false;
  std::deque<Pending> pending;  // waiting for the bus or the capabilities
  std::vector<Open> open;
  guint actionSignal = 0, closedSignal = 0;

  ~Impl() {
    g_cancellable_cancel(cancellable);
    g_object_unref(cancellable);
    if (bus) {
      g_dbus_connection_signal_unsubscribe(bus, actionSignal);
      g_dbus_connection_signal_unsubscribe(bus, closedSignal);
      g_object_unref(bus);
    }
  }

  // Callback data: the notifier, held weakly (the callbacks of cancelled
  // calls still run, after the notifier is gone).
  using Weak = std::weak_ptr<Impl>;
  gpointer weak() { return new Weak(weak_from_this()); }
  static std::shared_ptr<Impl> take(gpointer data) {
    std::unique_ptr<Weak> w(static_cast<Weak*>(data));
    return w->lock();
  }

  // Moves the queued notifications on as far as what is known allows.
  void pump() {
    if (pending.empty()) return;
    if (!bus) {
      if (!busAsked) {
        busAsked = true;
        g_bus_get(G_BUS_TYPE_SESSION, nullptr, &Impl::busReady, weak());  // never cancelled, as above
      }
      return;
    }
    if (!actions) {
      if (!capabilitiesAsked) {
        capabilitiesAsked = true;
        g_dbus_connection_call(bus, kBusName, kObjectPath, kInterface, "GetCapabilities", nullptr,
                               G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, cancellable,
                               &Impl::capabilitiesKnown, weak());
      }
      return;
    }
    while (!pending.empty()) {
      send(pending.front());
      pending.pop_front();
    }
  }

  void send(const Pending& p) {
    GVariantBuilder actionList;
    g_variant_builder_init(&actionList, G_VARIANT_TYPE("as"));
    if (*actions) {
      g_variant_builder_add(&actionList, "s", "default");
      g_variant_builder_add(&actionList, "s", kDefaultActionLabel);
    }
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    if (!options.desktopEntry.empty()) {
      g_variant_builder_add(&hints, "{sv}", "desktop-entry",
                            g_variant_new_string(options.desktopEntry.c_str()));
    }
    g_variant_builder_add(&hints, "{sv}", "sound-name", g_variant_new_string(kSoundName));
    const std::string& summary = p.title.empty() ? options.appName : p.title;
    GVariant* args = g_variant_new("(susssasa{sv}i)", options.appName.c_str(), 0u, options.iconName.c_str(),
                                   summary.c_str(), p.body.c_str(), &actionList, &hints, -1);
    auto* data = new std::pair<Weak, std::string>(weak_from_this(), p.identifier);
    g_dbus_connection_call(bus, kBusName, kObjectPath, kInterface, "Notify", args, G_VARIANT_TYPE("(u)"),
                           G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, cancellable, &Impl::shown, data);
  }

  // Nothing is shown now: the queue is dropped, and the next post asks again.
  void giveUp() {
    pending.clear();
    capabilitiesAsked = false;
  }

  static void busReady(GObject*, GAsyncResult* result, gpointer data) {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_finish(result, &error);
    std::shared_ptr<Impl> self = take(data);
    if (!bus) {
      g_error_free(error);
      if (self) {
        self->busAsked = false;
        self->giveUp();
      }
      return;
    }
    if (!self) {
      g_object_unref(bus);
      return;
    }
    self->bus = bus;
    self->actionSignal = g_dbus_connection_signal_subscribe(
        bus, kBusName, kInterface, "ActionInvoked", kObjectPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        &Impl::actionInvoked, self->weak(), [](gpointer d) { delete static_cast<Weak*>(d); });
    self->closedSignal = g_dbus_connection_signal_subscribe(
        bus, kBusName, kInterface, "NotificationClosed", kObjectPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        &Impl::notificationClosed, self->weak(), [](gpointer d) { delete static_cast<Weak*>(d); });
    self->pump();
  }

  static void capabilitiesKnown(GObject* source, GAsyncResult* result, gpointer data) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    std::shared_ptr<Impl> self = take(data);
    if (!reply) {
      g_error_free(error);
      if (self) self->giveUp();
      return;
    }
    bool hasActions = false;
    GVariantIter* iter = nullptr;
    const char* cap = nullptr;
    g_variant_get(reply, "(as)", &iter);
    while (g_variant_iter_loop(iter, "&s", &cap)) hasActions = hasActions || g_strcmp0(cap, "actions") == 0;
    g_variant_iter_free(iter);
    g_variant_unref(reply);
    if (!self) return;
    self->actions = hasActions;
    self->pump();
  }

  static void shown(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<std::pair<Weak, std::string>> call(static_cast<std::pair<Weak, std::string>*>(data));
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (!reply) {
      g_error_free(error);
      return;
    }
    guint32 id = 0;
    g_variant_get(reply, "(u)", &id);
    g_variant_unref(reply);
    std::shared_ptr<Impl> self = call->first.lock();
    if (!self) return;
    self->open.push_back({id, std::move(call->second)});
    // Notifications the server never reports closed are let go beyond this.
    if (self->open.size() > kMaxOpen) self->open.erase(self->open.begin());
  }

  std::vector<Open>::iterator find(guint32 id) {
    return std::find_if(open.begin(), open.end(), [id](const Open& o) { return o.id == id; });
  }

  static void actionInvoked(GDBusConnection*, const char*, const char*, const char*, const char*,
                            GVariant* parameters, gpointer data) {
    std::shared_ptr<Impl> self = static_cast<Weak*>(data)->lock();
    if (!self || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) return;
    guint32 id = 0;
    const char* action = nullptr;
    g_variant_get(parameters, "(u&s)", &id, &action);
    // Only notifications that offered the action can be clicked.
    if (g_strcmp0(action, "default") != 0 || !self->actions.value_or(false)) return;
    auto it = self->find(id);
    if (it == self->open.end() || !self->onClick) return;
    std::string identifier = it->identifier;
    self->onClick(identifier);
  }

  static void notificationClosed(GDBusConnection*, const char*, const char*, const char*, const char*,
                                 GVariant* parameters, gpointer data) {
    std::shared_ptr<Impl> self = static_cast<Weak*>(data)->lock();
    if (!self || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) return;
    guint32 id = 0, reason = 0;
    g_variant_get(parameters, "(uu)", &id, &reason);
    auto it = self->find(id);
    if (it != self->open.end()) self->open.erase(it);
  }
};

FreedesktopNotifier::FreedesktopNotifier(Options options, std::function<void(const std::string&)> onClick)
    : impl_(std::make_shared<Impl>()) {
  impl_->options = std::move(options);
  impl_->onClick = std::move(onClick);
}

FreedesktopNotifier::~FreedesktopNotifier() = default;

Task<bool> FreedesktopNotifier::requestAuthorization() {
  std::weak_ptr<Impl> impl = impl_;
  Capabilities caps = co_await askCapabilities();
  if (!caps) co_return false;
  if (auto self = impl.lock()) {
    self->actions = hasCapability(*caps, "actions");
    self->pump();
  }
  co_return true;
}

void FreedesktopNotifier::post(const std::string& identifier, const std::string& title,
                               const std::string& body) {
  impl_->pending.push_back({identifier, title, body});
  impl_->pump();
}

std::size_t FreedesktopNotifier::openNotifications() const { return impl_->open.size(); }

}  // namespace corvid::linux_platform
