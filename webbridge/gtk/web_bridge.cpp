#include "webbridge/gtk/web_bridge.h"

#include <jsc/jsc.h>

#include <utility>

#include "webbridge/page_scripts.h"

namespace webbridge {

namespace {

constexpr std::string_view kPortPlaceholder = "__WEBBRIDGE_PORT__";
constexpr const char* kInstalledKey = "webbridge-installed";

std::string replaced(std::string_view text, std::string_view placeholder, std::string_view value) {
  std::string out;
  std::size_t pos = 0;
  while (true) {
    std::size_t hit = text.find(placeholder, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(value);
    pos = hit + placeholder.size();
  }
  out.append(text.substr(pos));
  return out;
}

// Resumes waiting stream consumers from the GLib main loop (any thread may
// post there), never inside the call that delivered the event.
void postToMainLoop(std::function<void()> fn) {
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
      },
      new std::function<void()>(std::move(fn)),
      [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

void addScript(WebKitUserContentManager* manager, const std::string& source,
               WebKitUserContentInjectedFrames frames, WebKitUserScriptInjectionTime time,
               const char* world) {
  WebKitUserScript* script =
      world ? webkit_user_script_new_for_world(source.c_str(), frames, time, world, nullptr, nullptr)
            : webkit_user_script_new(source.c_str(), frames, time, nullptr, nullptr);
  webkit_user_content_manager_add_script(manager, script);
  webkit_user_script_unref(script);
}

// The outcome of one asynchronous script call.
struct CallOutcome {
  JSCValue* value = nullptr;
  GError* error = nullptr;
  CallOutcome() = default;
  CallOutcome(const CallOutcome&) = delete;
  CallOutcome& operator=(const CallOutcome&) = delete;
  ~CallOutcome() {
    if (value) g_object_unref(value);
    if (error) g_error_free(error);
  }
};

using Resume = corvid::Resumer<std::shared_ptr<CallOutcome>>;

void onCallFinished(GObject* source, GAsyncResult* result, gpointer data) {
  auto* resume = static_cast<Resume*>(data);
  auto outcome = std::make_shared<CallOutcome>();
  outcome->value =
      webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &outcome->error);
  (*resume)(outcome);
  delete resume;
}

// Runs `body` as the body of an async function in the main frame of
// `view`, in `world` (null: the page's own world), with string arguments.
// Answers the value; throws EngineError when the engine fails.
corvid::Task<std::shared_ptr<CallOutcome>> callAsync(
    WebKitWebView* view, std::string body, std::vector<std::pair<std::string, std::string>> arguments,
    const char* world) {
  // The view stays alive until the call answers; a floating view stays
  // floating, for whoever adds it to a container.
  GRef<WebKitWebView> keep = GRef<WebKitWebView>::ref(view);
  for (const auto& [key, value] : arguments) {
    if (!g_utf8_validate(value.data(), static_cast<gssize>(value.size()), nullptr)) {
      throw std::invalid_argument("WebBridge: the " + key + " argument is not valid UTF-8");
    }
  }
  auto outcome = co_await corvid::suspendUntil<std::shared_ptr<CallOutcome>>(
      [&](Resume resume, corvid::CancelScope& scope) {
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
        for (const auto& [key, value] : arguments) {
          g_variant_builder_add(&builder, "{sv}", key.c_str(), g_variant_new_string(value.c_str()));
        }
        GVariant* args = g_variant_ref_sink(g_variant_builder_end(&builder));
        GCancellable* cancellable = g_cancellable_new();
        webkit_web_view_call_async_javascript_function(view, body.c_str(), static_cast<gssize>(body.size()),
                                                       args, world, nullptr, cancellable, onCallFinished,
                                                       new Resume(resume));
        g_variant_unref(args);
        struct Held {
          GRef<GCancellable> cancellable;
          corvid::CancelRegistration onCancel;
        };
        return Held{GRef<GCancellable>::adopt(cancellable),
                    scope.onCancel([cancellable] { g_cancellable_cancel(cancellable); })};
      });
  if (outcome->error) {
    throw EngineError(outcome->error->domain, outcome->error->code, outcome->error->message);
  }
  co_return outcome;
}

}  // namespace

// Receives the script messages of every user content manager the bridge
// was installed into. It knows its bridge only weakly: the bridge clears
// the pointer when it goes, and from then on messages are ignored.
struct detail::MessageHandler {
  WebBridge* bridge = nullptr;
};

namespace {

// One signal connection: the handler and the world that the handler name
// it listens to is registered in (nothing: the page's own world).
struct Connection {
  std::shared_ptr<detail::MessageHandler> handler;
  std::optional<std::string> world;
};

void onScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data) {
  auto* connection = static_cast<Connection*>(data);
  WebBridge* bridge = connection->handler->bridge;
  if (!bridge) return;
  JSCValue* value = webkit_javascript_result_get_js_value(result);
  char* text = value ? jsc_value_to_json(value, 0) : nullptr;
  if (!text) return;
  auto body = parsePostedJson(text);
  g_free(text);
  if (body) bridge->handle(*body, connection->world);
}

void listen(WebKitUserContentManager* manager, const std::shared_ptr<detail::MessageHandler>& handler,
            const char* name, std::optional<std::string> world) {
  std::string signal = std::string("script-message-received::") + name;
  auto* connection = new Connection{handler, std::move(world)};
  gulong id = g_signal_connect_data(
      manager, signal.c_str(), G_CALLBACK(onScriptMessage), connection,
      [](gpointer data, GClosure*) { delete static_cast<Connection*>(data); }, GConnectFlags(0));
  gboolean registered = connection->world
                            ? webkit_user_content_manager_register_script_message_handler_in_world(
                                  manager, name, connection->world->c_str())
                            : webkit_user_content_manager_register_script_message_handler(manager, name);
  // A name that the client registered in that world itself: theirs stays,
  // and the bridge does not listen to messages that are not its own.
  if (!registered) g_signal_handler_disconnect(manager, id);
}

}  // namespace

WebBridge::WebBridge(WebBridgeOptions options) : WebBridgeCore(std::move(options), postToMainLoop) {}

WebBridge::~WebBridge() {
  if (handler_) handler_->bridge = nullptr;
  forgetWebView();
}

void WebBridge::forgetWebView() {
  if (webView_) g_object_remove_weak_pointer(G_OBJECT(webView_), reinterpret_cast<gpointer*>(&webView_));
  webView_ = nullptr;
}

void WebBridge::attach(WebKitWebView* view) {
  if (view == webView_) return;
  forgetWebView();
  webView_ = view;
  if (webView_) g_object_add_weak_pointer(G_OBJECT(webView_), reinterpret_cast<gpointer*>(&webView_));
}

void WebBridge::install(WebKitUserContentManager* manager) {
  // The handler names and the port alias exist once per manager: a second
  // bridge (or the same one again) would run a second observer whose
  // messages reach the first bridge. It is refused instead.
  if (g_object_get_data(G_OBJECT(manager), kInstalledKey)) {
    g_warning("WebBridge: a bridge is already installed in this user content manager");
    return;
  }
  g_object_set_data(G_OBJECT(manager), kInstalledKey, GINT_TO_POINTER(1));
  const auto frames =
      options().mainFrameOnly ? WEBKIT_USER_CONTENT_INJECT_TOP_FRAME : WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES;
  if (!handler_) {
    handler_ = std::make_shared<detail::MessageHandler>();
    handler_->bridge = this;
  }

  // 1. The observer, at document end, in the bridge's world.
  addScript(manager, options().observerScriptSource(), frames, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END,
            kWorldName.c_str());
  // 2. The handler in the bridge's world, under its internal name, and the
  // alias that makes it the world's webBridge port.
  addScript(manager, replaced(scripts::port_alias_js, kPortPlaceholder, kIsolatedHandlerName), frames,
            WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, kWorldName.c_str());
  listen(manager, handler_, kIsolatedHandlerName, kWorldName);
  // 3. The page API and the handler in the page's own world.
  if (options().exposeToPage) {
    addScript(manager, std::string(scripts::page_api_js), frames, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
              nullptr);
    listen(manager, handler_, kHandlerName, std::nullopt);
  }
  // 4. The client's own scripts, unchanged.
  for (const auto& script : additionalUserScripts)
    webkit_user_content_manager_add_script(manager, script.get());
}

void WebBridge::install(WebViewConfiguration& configuration) {
  if (!configuration.userContentManager) {
    configuration.userContentManager =
        GRef<WebKitUserContentManager>::adopt(webkit_user_content_manager_new());
  }
  install(configuration.userContentManager.get());
}

WebViewConfiguration WebBridge::makeConfiguration() {
  WebViewConfiguration configuration{GRef<WebKitUserContentManager>::adopt(webkit_user_content_manager_new()),
                                     GRef<WebKitSettings>::adopt(webkit_settings_new()),
                                     {}};
  if (configureConfiguration) configureConfiguration(configuration);
  install(configuration);
  return configuration;
}

WebKitWebView* WebBridge::makeWebView(GdkRectangle frame) {
  WebViewConfiguration configuration = makeConfiguration();
  if (!configuration.settings) configuration.settings = GRef<WebKitSettings>::adopt(webkit_settings_new());
  GObject* object = configuration.webContext
                        ? G_OBJECT(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager",
                                                configuration.userContentManager.get(), "settings",
                                                configuration.settings.get(), "web-context",
                                                configuration.webContext.get(), nullptr))
                        : G_OBJECT(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager",
                                                configuration.userContentManager.get(), "settings",
                                                configuration.settings.get(), nullptr));
  auto* view = WEBKIT_WEB_VIEW(object);
  if (frame.width > 0 && frame.height > 0)
    gtk_widget_set_size_request(GTK_WIDGET(view), frame.width, frame.height);
  attach(view);
  if (configureWebView) configureWebView(view);
  return view;
}

corvid::Task<std::optional<std::string>> WebBridge::pull(std::optional<std::string> selector,
                                                         WebBridgePullFormat format) {
  WebKitWebView* view = webView_;
  if (!view) throw std::system_error(WebBridgeError::noWebView);
  std::vector<std::pair<std::string, std::string>> arguments;
  arguments.emplace_back("selector", selector.value_or(options().selector));
  arguments.emplace_back("property", propertyName(format));
  auto outcome =
      co_await callAsync(view, std::string(scripts::pull_js), std::move(arguments), kWorldName.c_str());
  // Nothing from here on touches the bridge, which may be gone by now.
  if (!outcome->value || !jsc_value_is_string(outcome->value)) co_return std::nullopt;
  char* text = jsc_value_to_string(outcome->value);
  std::string result = text ? text : "";
  g_free(text);
  co_return result;
}

corvid::Task<void> WebBridge::send(std::string name, Json payload) {
  WebKitWebView* view = webView_;
  if (!view) throw std::system_error(WebBridgeError::noWebView);
  // The payload travels as JSON text and is parsed in the page, so that every
  // JSON value (null included) arrives as the page's own value.
  std::string payloadJSON = payload.dump();
  std::string body = "var payload = JSON.parse(payloadJSON);\n" + std::string(scripts::send_js);
  std::vector<std::pair<std::string, std::string>> arguments;
  arguments.emplace_back("name", std::move(name));
  arguments.emplace_back("payloadJSON", std::move(payloadJSON));
  co_await callAsync(view, std::move(body), std::move(arguments), nullptr);
}

}  // namespace webbridge
