#include "platform/linux/web/webkit_engine.h"

#include <glib/gstdio.h>
#include <libsoup/soup.h>

#include <stdexcept>
#include <utility>

#include "platform/linux/glib/glib_loop.h"
#include "platform/linux/web/script_call.h"

namespace corvid::linux_platform {

namespace {

void disableFeature(WebKitSettings* settings, const char* identifier) {
  WebKitFeatureList* features = webkit_settings_get_all_features();
  for (gsize i = 0; i < webkit_feature_list_get_length(features); ++i) {
    WebKitFeature* feature = webkit_feature_list_get(features, i);
    if (g_strcmp0(webkit_feature_get_identifier(feature), identifier) == 0) {
      webkit_settings_set_feature_enabled(settings, feature, FALSE);
    }
  }
  webkit_feature_list_unref(features);
}

// One asynchronous WebKit operation awaited by a task. WebKit's callback
// holds a reference, so a late answer finds a live object and is dropped;
// the awaiting task holds a guard whose end (task resumed, or its frame
// destroyed) closes the operation, so nothing resumes a task that is gone.
class PendingBase {
 public:
  virtual ~PendingBase() = default;
  virtual void fail(const std::string& reason) = 0;
};

template <class T>
class PendingOp : public PendingBase, public std::enable_shared_from_this<PendingOp<T>> {
 public:
  using Failure = T (*)(const std::string&);
  PendingOp(Resumer<T> resume, Failure failure) : resume_(std::move(resume)), failure_(failure) {}
  ~PendingOp() override { g_object_unref(cancellable_); }
  PendingOp(const PendingOp&) = delete;
  PendingOp& operator=(const PendingOp&) = delete;

  bool open() const { return resume_.has_value(); }
  GCancellable* cancellable() const { return cancellable_; }

  // Fails the operation after `timeout`, or when `scope` is cancelled.
  void arm(Scheduler& scheduler, Duration timeout, CancelScope& scope) {
    std::weak_ptr<PendingOp> weak = this->shared_from_this();
    cancel_ = scope.onCancel([weak] {
      if (auto op = weak.lock()) op->fail("cancelled");
    });
    if (!open()) return;
    timer_ = scheduler.after(timeout, [weak] {
      if (auto op = weak.lock()) op->fail("no answer from the web view in time");
    });
  }

  void finish(T value) {
    if (!resume_) return;
    auto keepAlive = this->shared_from_this();
    auto resume = std::move(*resume_);
    close();
    resume(std::move(value));
  }
  void fail(const std::string& reason) override { finish(failure_(reason)); }

  // The awaiting task no longer waits: stop the timer, drop the resumer and
  // tell WebKit that the answer is not wanted.
  void close() {
    resume_.reset();
    timer_.cancel();
    cancel_.reset();
    g_cancellable_cancel(cancellable_);
  }

  // Heap-held reference for a GAsyncReadyCallback's user data.
  static gpointer ref(const std::shared_ptr<PendingOp>& op) { return new std::shared_ptr<PendingOp>(op); }
  static std::shared_ptr<PendingOp> adopt(gpointer data) {
    std::unique_ptr<std::shared_ptr<PendingOp>> holder(static_cast<std::shared_ptr<PendingOp>*>(data));
    return std::move(*holder);
  }

 private:
  std::optional<Resumer<T>> resume_;
  Failure failure_;
  GCancellable* cancellable_ = g_cancellable_new();
  Timer timer_;
  CancelRegistration cancel_;
};

template <class T>
struct PendingGuard {
  std::shared_ptr<PendingOp<T>> op;
  explicit PendingGuard(std::shared_ptr<PendingOp<T>> o) : op(std::move(o)) {}
  PendingGuard(PendingGuard&& other) noexcept : op(std::move(other.op)) {}
  PendingGuard(const PendingGuard&) = delete;
  PendingGuard& operator=(const PendingGuard&) = delete;
  PendingGuard& operator=(PendingGuard&&) = delete;
  ~PendingGuard() {
    if (op) op->close();
  }
};

ScriptResult scriptFailure(const std::string& reason) { return ScriptResult{reason, std::nullopt}; }
std::vector<Cookie> cookieFailure(const std::string&) { return {}; }
bool clearFailure(const std::string& reason) {
  g_warning("removing website data: %s", reason.c_str());
  return false;
}

std::string quoted(const std::string& text) {
  return Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

// ---------------------------------------------------------------------------

struct WebKitView::State {
  GLibScheduler scheduler;
  Duration scriptTimeout{};
  Duration loadTimeout{};

  GtkWidget* view = nullptr;       // our reference; null once the view is closed
  GtkWidget* offscreen = nullptr;  // the view's home while no window hosts it
  WebKitUserContentManager* content = nullptr;

  GtkWidget* host = nullptr;  // weak pointer to the hosting container
  gulong hostDestroyed = 0;

  WebViewDelegate* delegate = nullptr;
  std::weak_ptr<State> self;

  struct Channel {
    std::string name;
    std::string world;
    std::string channel;
    std::function<void(const ScriptMessage&)> handler;
    gulong signal = 0;
  };
  std::vector<std::unique_ptr<Channel>> channels;
  std::vector<UserScript> userScripts;

  std::vector<std::weak_ptr<PendingBase>> pending;

  bool watchingLoad = false;
  Timer loadWatchdog;

  void track(const std::shared_ptr<PendingBase>& op) {
    std::erase_if(pending, [](const auto& w) { return w.expired(); });
    pending.push_back(op);
  }

  void rebuildScripts();
  void armLoadWatchdog();
  void releaseHost();
};

namespace {

void addScript(WebKitUserContentManager* content, const std::string& source, InjectionTime injection,
               bool mainFrameOnly, const std::string& world) {
  auto frames = mainFrameOnly ? WEBKIT_USER_CONTENT_INJECT_TOP_FRAME : WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES;
  auto time = injection == InjectionTime::documentStart ? WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START
                                                        : WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END;
  WebKitUserScript* script =
      world.empty()
          ? webkit_user_script_new(source.c_str(), frames, time, nullptr, nullptr)
          : webkit_user_script_new_for_world(source.c_str(), frames, time, world.c_str(), nullptr, nullptr);
  webkit_user_content_manager_add_script(content, script);
  webkit_user_script_unref(script);
}

// Makes window.webkit.messageHandlers.<name> the channel of this world.
std::string aliasScript(const std::string& name, const std::string& channel) {
  return "(function () {\n"
         "  var ns = window.webkit && window.webkit.messageHandlers;\n"
         "  var port = ns && ns[" +
         quoted(channel) +
         "];\n"
         "  if (port) Object.defineProperty(ns, " +
         quoted(name) +
         ", {value: port, enumerable: true});\n"
         "})();\n";
}

void onScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data) {
  auto* channel = static_cast<WebKitView::State::Channel*>(data);
  ScriptMessage message;
  message.world = channel->world;
  if (JSCValue* value = webkit_javascript_result_get_js_value(result)) {
    if (char* json = jsc_value_to_json(value, 0)) {
      if (auto parsed = parseScriptJson(json)) message.body = std::move(*parsed);
      g_free(json);
    } else if (JSCContext* context = jsc_value_get_context(value)) {
      jsc_context_clear_exception(context);  // a value JSON cannot carry: body null
    }
  }
  auto handler = channel->handler;  // the handler may close the view
  if (handler) handler(message);
}

void onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
  auto* state = static_cast<WebKitView::State*>(data);
  if (!state->watchingLoad) return;
  if (event == WEBKIT_LOAD_FINISHED && !webkit_web_view_is_loading(view)) {
    state->watchingLoad = false;
    state->loadWatchdog.cancel();
  } else {
    state->armLoadWatchdog();
  }
}

void onLoadProgress(GObject*, GParamSpec*, gpointer data) {
  auto* state = static_cast<WebKitView::State*>(data);
  if (state->watchingLoad) state->armLoadWatchdog();
}

void onWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer data) {
  auto* state = static_cast<WebKitView::State*>(data);
  state->watchingLoad = false;
  state->loadWatchdog.cancel();
  // Told from the main loop, outside WebKit's signal emission, so that the
  // delegate may load right away.
  state->scheduler.post([weak = state->self] {
    auto s = weak.lock();
    if (s && s->view && s->delegate) s->delegate->webContentProcessDidTerminate();
  });
}

void onHostDestroyed(GtkWidget*, gpointer data) {
  // The container's children are destroyed after this handler; take the
  // view out first so that it survives its window.
  auto* state = static_cast<WebKitView::State*>(data);
  state->releaseHost();
  if (state->view && gtk_widget_get_parent(state->view) != state->offscreen) {
    if (GtkWidget* parent = gtk_widget_get_parent(state->view)) {
      gtk_container_remove(GTK_CONTAINER(parent), state->view);
    }
    gtk_container_add(GTK_CONTAINER(state->offscreen), state->view);
  }
}

}  // namespace

void WebKitView::State::rebuildScripts() {
  webkit_user_content_manager_remove_all_scripts(content);
  // The aliases first, so that every other script finds its handler names.
  for (const auto& c : channels) {
    addScript(content, aliasScript(c->name, c->channel), InjectionTime::documentStart, false, c->world);
  }
  for (const auto& s : userScripts) addScript(content, s.source, s.injection, s.mainFrameOnly, s.world);
}

void WebKitView::State::armLoadWatchdog() {
  loadWatchdog = scheduler.after(loadTimeout, [this] {
    watchingLoad = false;
    if (view && webkit_web_view_is_loading(WEBKIT_WEB_VIEW(view))) {
      webkit_web_view_stop_loading(WEBKIT_WEB_VIEW(view));
    }
  });
}

void WebKitView::State::releaseHost() {
  if (!host) return;
  g_signal_handler_disconnect(host, hostDestroyed);
  g_object_remove_weak_pointer(G_OBJECT(host), reinterpret_cast<gpointer*>(&host));
  host = nullptr;
  hostDestroyed = 0;
}

// ---------------------------------------------------------------------------

WebKitEngine::WebKitEngine(WebKitEngineOptions options) : options_(std::move(options)) {
  if (options_.dataDirectory.empty() || options_.cacheDirectory.empty()) {
    throw std::invalid_argument("the web engine needs a data and a cache folder");
  }
  if (!gdk_display_get_default()) throw std::runtime_error("the web engine needs GTK with a display");
  for (const auto& dir : {options_.dataDirectory, options_.cacheDirectory}) {
    if (g_mkdir_with_parents(dir.c_str(), 0700) != 0) {
      g_warning("cannot create the web data folder %s", dir.c_str());
    }
  }
  dataManager_ =
      webkit_website_data_manager_new("base-data-directory", options_.dataDirectory.c_str(),
                                      "base-cache-directory", options_.cacheDirectory.c_str(), nullptr);
  context_ = webkit_web_context_new_with_website_data_manager(dataManager_);
  // Before the first web process starts.
  webkit_web_context_set_sandbox_enabled(context_, TRUE);
  std::string cookies = options_.dataDirectory + "/cookies.sqlite";
  webkit_cookie_manager_set_persistent_storage(webkit_website_data_manager_get_cookie_manager(dataManager_),
                                               cookies.c_str(), WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
}

WebKitEngine::~WebKitEngine() {
  g_object_unref(context_);
  g_object_unref(dataManager_);
}

std::unique_ptr<WebView> WebKitEngine::createWebView(const WebViewConfiguration& configuration, int width,
                                                     int height) {
  return createWebKitView(configuration, width, height);
}

std::unique_ptr<WebKitView> WebKitEngine::createWebKitView(const WebViewConfiguration& configuration,
                                                           int width, int height) {
  return std::unique_ptr<WebKitView>(new WebKitView(*this, configuration, width, height));
}

// ---------------------------------------------------------------------------

WebKitView::WebKitView(WebKitEngine& engine, const WebViewConfiguration& configuration, int width, int height)
    : state_(std::make_shared<State>()) {
  auto& s = *state_;
  s.self = state_;
  s.scriptTimeout = engine.options().scriptTimeout;
  s.loadTimeout = engine.options().loadTimeout;

  WebKitSettings* settings = webkit_settings_new();
  webkit_settings_set_enable_fullscreen(settings, configuration.elementFullscreenEnabled);
  webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  disableFeature(settings, "HiddenPageDOMTimerThrottling");

  s.content = webkit_user_content_manager_new();
  s.view = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", engine.context(), "settings",
                                   settings, "user-content-manager", s.content, "is-ephemeral",
                                   configuration.persistentDataStore ? FALSE : TRUE, nullptr));
  g_object_ref_sink(s.view);
  g_object_unref(settings);
  gtk_widget_set_hexpand(s.view, TRUE);
  gtk_widget_set_vexpand(s.view, TRUE);

  s.offscreen = gtk_offscreen_window_new();
  gtk_widget_set_size_request(s.offscreen, width, height);
  gtk_container_add(GTK_CONTAINER(s.offscreen), s.view);
  gtk_widget_show_all(s.offscreen);

  g_signal_connect(s.view, "load-changed", G_CALLBACK(onLoadChanged), &s);
  g_signal_connect(s.view, "notify::estimated-load-progress", G_CALLBACK(onLoadProgress), &s);
  g_signal_connect(s.view, "web-process-terminated", G_CALLBACK(onWebProcessTerminated), &s);
}

WebKitView::~WebKitView() {
  auto& s = *state_;
  // Awaiting tasks learn it from the main loop, not from inside this
  // destructor.
  for (auto& weak : s.pending) {
    if (auto op = weak.lock()) {
      s.scheduler.post([op] { op->fail("the web view was closed"); });
    }
  }
  s.pending.clear();
  s.loadWatchdog.cancel();
  s.releaseHost();
  g_signal_handlers_disconnect_by_data(s.view, &s);
  for (auto& c : s.channels) g_signal_handler_disconnect(s.content, c->signal);
  gtk_widget_destroy(s.view);
  g_object_unref(s.view);
  s.view = nullptr;
  gtk_widget_destroy(s.offscreen);
  s.offscreen = nullptr;
  g_object_unref(s.content);
  s.content = nullptr;
  s.delegate = nullptr;
}

GtkWidget* WebKitView::widget() const { return state_->view; }
WebKitWebView* WebKitView::webKitView() const { return WEBKIT_WEB_VIEW(state_->view); }

void WebKitView::load(const std::string& url) {
  auto& s = *state_;
  s.watchingLoad = true;
  s.armLoadWatchdog();
  webkit_web_view_load_uri(webKitView(), url.c_str());
}

void WebKitView::loadHTML(const std::string& html, const std::optional<std::string>& baseURL) {
  state_->watchingLoad = false;
  state_->loadWatchdog.cancel();
  webkit_web_view_load_html(webKitView(), html.c_str(), baseURL ? baseURL->c_str() : nullptr);
}

std::optional<std::string> WebKitView::url() const {
  const char* uri = webkit_web_view_get_uri(webKitView());
  if (!uri || !*uri) return std::nullopt;
  return std::string(uri);
}

bool WebKitView::isLoading() const { return webkit_web_view_is_loading(webKitView()); }

namespace {

void onScriptDone(GObject* source, GAsyncResult* result, gpointer data) {
  auto op = PendingOp<ScriptResult>::adopt(data);
  GError* error = nullptr;
  JSCValue* value =
      webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error);
  ScriptResult answer;
  if (!op->open()) {
    // A late answer: the task stopped waiting.
  } else if (error) {
    answer.error = error->message && *error->message ? error->message : "the script failed";
  } else if (value && jsc_value_is_string(value)) {
    char* text = jsc_value_to_string(value);
    if (auto parsed = parseScriptJson(text)) {
      answer.value = std::move(*parsed);
    } else {
      answer.error = "the script result is not JSON";
    }
    g_free(text);
  } else if (value && !jsc_value_is_undefined(value)) {
    answer.error = "unexpected script result";
  }
  if (error) g_error_free(error);
  if (value) g_object_unref(value);
  op->finish(std::move(answer));
}

Task<ScriptResult> runScript(std::weak_ptr<WebKitView::State> weak, ScriptWrapper wrapper,
                             std::string world) {
  co_return co_await suspendUntil<ScriptResult>([&](Resumer<ScriptResult> resume, CancelScope& scope) {
    auto op = std::make_shared<PendingOp<ScriptResult>>(resume, scriptFailure);
    PendingGuard<ScriptResult> guard(op);
    auto s = weak.lock();
    if (!s || !s->view) {
      op->fail("the web view was closed");
      return guard;
    }
    op->arm(s->scheduler, s->scriptTimeout, scope);
    if (!op->open()) return guard;
    s->track(op);
    GVariantBuilder args;
    g_variant_builder_init(&args, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&args, "{sv}", kScriptArgumentsParameter,
                          g_variant_new_string(wrapper.argumentsJson.c_str()));
    webkit_web_view_call_async_javascript_function(
        WEBKIT_WEB_VIEW(s->view), wrapper.source.c_str(), static_cast<gssize>(wrapper.source.size()),
        g_variant_builder_end(&args), world.empty() ? nullptr : world.c_str(), nullptr, op->cancellable(),
        onScriptDone, PendingOp<ScriptResult>::ref(op));
    return guard;
  });
}

void onCookies(GObject* source, GAsyncResult* result, gpointer data) {
  auto op = PendingOp<std::vector<Cookie>>::adopt(data);
  GError* error = nullptr;
  GList* list = webkit_cookie_manager_get_all_cookies_finish(WEBKIT_COOKIE_MANAGER(source), result, &error);
  std::vector<Cookie> cookies;
  for (GList* l = list; l; l = l->next) {
    auto* c = static_cast<SoupCookie*>(l->data);
    auto text = [](const char* t) { return std::string(t ? t : ""); };
    cookies.push_back(Cookie{text(soup_cookie_get_name(c)), text(soup_cookie_get_domain(c)),
                             text(soup_cookie_get_value(c))});
  }
  g_list_free_full(list, reinterpret_cast<GDestroyNotify>(soup_cookie_free));
  if (error) g_error_free(error);  // a failed listing counts as no cookies
  op->finish(std::move(cookies));
}

Task<std::vector<Cookie>> runCookies(std::weak_ptr<WebKitView::State> weak) {
  co_return co_await suspendUntil<std::vector<Cookie>>(
      [&](Resumer<std::vector<Cookie>> resume, CancelScope& scope) {
        auto op = std::make_shared<PendingOp<std::vector<Cookie>>>(resume, cookieFailure);
        PendingGuard<std::vector<Cookie>> guard(op);
        auto s = weak.lock();
        if (!s || !s->view) {
          op->fail("the web view was closed");
          return guard;
        }
        op->arm(s->scheduler, s->scriptTimeout, scope);
        if (!op->open()) return guard;
        s->track(op);
        WebKitWebsiteDataManager* data = webkit_web_view_get_website_data_manager(WEBKIT_WEB_VIEW(s->view));
        webkit_cookie_manager_get_all_cookies(webkit_website_data_manager_get_cookie_manager(data),
                                              op->cancellable(), onCookies,
                                              PendingOp<std::vector<Cookie>>::ref(op));
        return guard;
      });
}

void onCleared(GObject* source, GAsyncResult* result, gpointer data) {
  auto op = PendingOp<bool>::adopt(data);
  GError* error = nullptr;
  bool ok = webkit_website_data_manager_clear_finish(WEBKIT_WEBSITE_DATA_MANAGER(source), result, &error);
  if (error) {
    if (op->open()) g_warning("removing website data failed: %s", error->message);
    g_error_free(error);
  }
  op->finish(ok);
}

Task<bool> runClear(std::weak_ptr<WebKitView::State> weak) {
  co_return co_await suspendUntil<bool>([&](Resumer<bool> resume, CancelScope& scope) {
    auto op = std::make_shared<PendingOp<bool>>(resume, clearFailure);
    PendingGuard<bool> guard(op);
    auto s = weak.lock();
    if (!s || !s->view) {
      op->fail("the web view was closed");
      return guard;
    }
    op->arm(s->scheduler, s->scriptTimeout, scope);
    if (!op->open()) return guard;
    s->track(op);
    WebKitWebsiteDataManager* data = webkit_web_view_get_website_data_manager(WEBKIT_WEB_VIEW(s->view));
    webkit_website_data_manager_clear(data, WEBKIT_WEBSITE_DATA_ALL, 0, op->cancellable(), onCleared,
                                      PendingOp<bool>::ref(op));
    return guard;
  });
}

Task<void> clearAll(Task<bool> clear) { co_await std::move(clear); }

}  // namespace

Task<ScriptResult> WebKitView::callAsyncJavaScript(std::string_view body, const Json& arguments,
                                                   const std::string& world) {
  // Built now: the task may start after the caller's body and arguments
  // are gone.
  auto built = buildScriptWrapper(body, arguments);
  if (!built.wrapper) {
    return [](std::string error) -> Task<ScriptResult> {
      co_return ScriptResult{error, std::nullopt};
    }(std::move(built.error));
  }
  return runScript(state_, std::move(*built.wrapper), world);
}

Task<std::vector<Cookie>> WebKitView::allCookies() { return runCookies(state_); }

Task<void> WebKitView::removeAllWebsiteData() { return clearAll(runClear(state_)); }

void WebKitView::addUserScript(const UserScript& script) {
  state_->userScripts.push_back(script);
  state_->rebuildScripts();
}

std::string WebKitView::messageChannel(const std::string& name, const std::string& world) {
  return "corvid:" + std::to_string(world.size()) + ":" + world + ":" + name;
}

void WebKitView::addScriptMessageHandler(const std::string& name, const std::string& world,
                                         std::function<void(const ScriptMessage&)> handler) {
  auto& s = *state_;
  for (const auto& c : s.channels) {
    if (c->name == name && c->world == world) {
      g_warning("script message handler %s is already registered in this world", name.c_str());
      return;
    }
  }
  auto channel = std::make_unique<State::Channel>();
  channel->name = name;
  channel->world = world;
  channel->channel = messageChannel(name, world);
  channel->handler = std::move(handler);
  gboolean registered = world.empty() ? webkit_user_content_manager_register_script_message_handler(
                                            s.content, channel->channel.c_str())
                                      : webkit_user_content_manager_register_script_message_handler_in_world(
                                            s.content, channel->channel.c_str(), world.c_str());
  if (!registered) {
    g_warning("cannot register script message handler %s", name.c_str());
    return;
  }
  std::string signal = "script-message-received::" + channel->channel;
  channel->signal = g_signal_connect(s.content, signal.c_str(), G_CALLBACK(onScriptMessage), channel.get());
  // Later documents get the alias from a user script, the current one now.
  std::string alias = aliasScript(channel->name, channel->channel);
  webkit_web_view_evaluate_javascript(webKitView(), alias.c_str(), static_cast<gssize>(alias.size()),
                                      world.empty() ? nullptr : world.c_str(), nullptr, nullptr, nullptr,
                                      nullptr);
  s.channels.push_back(std::move(channel));
  s.rebuildScripts();
}

void WebKitView::setDelegate(WebViewDelegate* delegate) { state_->delegate = delegate; }

void WebKitView::hostIn(GtkContainer* container) {
  auto& s = *state_;
  if (GTK_WIDGET(container) == s.host && gtk_widget_get_parent(s.view) == GTK_WIDGET(container)) return;
  s.releaseHost();
  if (GtkWidget* parent = gtk_widget_get_parent(s.view)) gtk_container_remove(GTK_CONTAINER(parent), s.view);
  gtk_container_add(container, s.view);
  gtk_widget_show(s.view);
  s.host = GTK_WIDGET(container);
  g_object_add_weak_pointer(G_OBJECT(s.host), reinterpret_cast<gpointer*>(&s.host));
  s.hostDestroyed = g_signal_connect(s.host, "destroy", G_CALLBACK(onHostDestroyed), &s);
}

void WebKitView::unhost() {
  auto& s = *state_;
  s.releaseHost();
  GtkWidget* parent = gtk_widget_get_parent(s.view);
  if (parent == s.offscreen) return;
  if (parent) gtk_container_remove(GTK_CONTAINER(parent), s.view);
  gtk_container_add(GTK_CONTAINER(s.offscreen), s.view);
  gtk_widget_show(s.view);
}

bool WebKitView::hosted() const { return gtk_widget_get_parent(state_->view) != state_->offscreen; }

}  // namespace corvid::linux_platform
