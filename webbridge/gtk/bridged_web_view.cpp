#include "webbridge/gtk/bridged_web_view.h"

namespace webbridge {

namespace {

constexpr guint kLoadTimeoutSeconds = 60;
constexpr const char* kWatchdogKey = "webbridge-load-watchdog";

// Stops a URL load that has not been committed within the time-out. One per
// web view, kept as object data so that it goes with the view.
struct LoadWatchdog {
  WebKitWebView* view = nullptr;
  guint timer = 0;
  gulong handler = 0;

  void disarm() {
    if (timer) g_source_remove(timer);
    timer = 0;
  }
  ~LoadWatchdog() { disarm(); }
};

LoadWatchdog& watchdogOf(WebKitWebView* view) {
  auto* dog = static_cast<LoadWatchdog*>(g_object_get_data(G_OBJECT(view), kWatchdogKey));
  if (dog) return *dog;
  dog = new LoadWatchdog;
  dog->view = view;
  g_object_set_data_full(G_OBJECT(view), kWatchdogKey, dog,
                         [](gpointer d) { delete static_cast<LoadWatchdog*>(d); });
  dog->handler = g_signal_connect(view, "load-changed",
                                  G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer data) {
                                    if (event == WEBKIT_LOAD_COMMITTED || event == WEBKIT_LOAD_FINISHED) {
                                      static_cast<LoadWatchdog*>(data)->disarm();
                                    }
                                  }),
                                  dog);
  return *dog;
}

}  // namespace

void WebKitContentLoader::loadURL(const std::string& url) {
  LoadWatchdog& dog = watchdogOf(view_);
  dog.disarm();
  webkit_web_view_load_uri(view_, url.c_str());
  dog.timer = g_timeout_add_seconds(
      kLoadTimeoutSeconds,
      [](gpointer data) -> gboolean {
        auto* d = static_cast<LoadWatchdog*>(data);
        d->timer = 0;
        if (webkit_web_view_is_loading(d->view)) webkit_web_view_stop_loading(d->view);
        return G_SOURCE_REMOVE;
      },
      &dog);
}

void WebKitContentLoader::loadHTML(const std::string& html, const std::optional<std::string>& baseURL) {
  watchdogOf(view_).disarm();
  webkit_web_view_load_html(view_, html.c_str(), baseURL ? baseURL->c_str() : nullptr);
}

BridgedWebView::BridgedWebView(std::shared_ptr<WebBridge> bridge, Content content)
    : Gtk::Box(Gtk::ORIENTATION_VERTICAL), bridge_(std::move(bridge)), content_(std::move(content)) {
  // An empty frame: the box sizes the view.
  webView_ = bridge_->makeWebView(GdkRectangle{0, 0, 0, 0});
  g_object_add_weak_pointer(G_OBJECT(webView_), reinterpret_cast<gpointer*>(&webView_));
  gtk_box_pack_start(gobj(), GTK_WIDGET(webView_), TRUE, TRUE, 0);
  gtk_widget_show(GTK_WIDGET(webView_));
  WebKitContentLoader loader(webView_);
  coordinator_.load(content_, loader);
}

BridgedWebView::~BridgedWebView() {
  if (webView_) g_object_remove_weak_pointer(G_OBJECT(webView_), reinterpret_cast<gpointer*>(&webView_));
}

void BridgedWebView::setContent(Content content) {
  content_ = std::move(content);
  if (!webView_) return;
  WebKitContentLoader loader(webView_);
  coordinator_.load(content_, loader);
}

}  // namespace webbridge
