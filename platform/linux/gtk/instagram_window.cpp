#include "platform/linux/gtk/instagram_window.h"

#include "platform/linux/gtk/style.h"
#include "platform/linux/gtk/tint.h"
#include "ui/instagram_window_model.h"

namespace corvid::linux_platform {

namespace {

constexpr const char* kBannerStyle =
    ".corvid-banner { padding: 12px; background-color: shade(@theme_bg_color, 0.96);"
    " border-bottom: 1px solid alpha(@theme_fg_color, 0.08); }\n";

}  // namespace

struct InstagramWindowContent::View {
  Watcher& watcher;
  WindowRouter& router;
  Scheduler& scheduler;
  WebKitView& webView;

  GtkWidget* root = nullptr;
  GtkWidget* icon = nullptr;
  GtkWidget* title = nullptr;
  GtkWidget* body = nullptr;
  GtkWidget* inboxButton = nullptr;
  GtkWidget* pane = nullptr;  // hosts the web view while the window shows

  InstagramBanner shown;
  bool rendered = false;
  bool renderQueued = false;
  sigc::connection watcherChanges, routerChanges;
  // Posted renders hold the view through this token.
  std::shared_ptr<View*> alive = std::make_shared<View*>(this);

  View(Watcher& w, WindowRouter& r, Scheduler& s, WebKitView& v)
      : watcher(w), router(r), scheduler(s), webView(v) {
    addScreenStyleSheet(kBannerStyle);
    root = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    g_object_ref_sink(root);
    gtk_widget_set_size_request(root, kMinWidth, kMinHeight);

    // Banner: icon, texts, and the inbox button in inspect mode.
    GtkWidget* banner = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 10);
    gtk_style_context_add_class(gtk_widget_get_style_context(banner), "corvid-banner");
    icon = gtk_image_new();
    gtk_widget_set_size_request(icon, 28, -1);
    gtk_widget_set_valign(icon, GTK_ALIGN_START);
    gtk_box_pack_start(GTK_BOX(banner), icon, FALSE, FALSE, 0);

    GtkWidget* texts = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
    title = gtk_label_new("");
    body = gtk_label_new("");
    for (GtkWidget* label : {title, body}) {
      gtk_label_set_xalign(GTK_LABEL(label), 0);
      gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
      gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
      gtk_label_set_max_width_chars(GTK_LABEL(label), 40);
      gtk_box_pack_start(GTK_BOX(texts), label, FALSE, FALSE, 0);
    }
    applyTint(body, Tint::secondary);
    gtk_box_pack_start(GTK_BOX(banner), texts, TRUE, TRUE, 0);

    inboxButton = gtk_button_new_with_label(std::string(kInboxButton).c_str());
    gtk_widget_set_valign(inboxButton, GTK_ALIGN_START);
    gtk_widget_set_no_show_all(inboxButton, TRUE);
    g_signal_connect(inboxButton, "clicked", G_CALLBACK(+[](GtkButton*, gpointer data) {
                       static_cast<View*>(data)->watcher.reload(kInspectInboxReason);
                     }),
                     this);
    gtk_box_pack_end(GTK_BOX(banner), inboxButton, FALSE, FALSE, 0);

    gtk_box_pack_start(GTK_BOX(root), banner, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(root), gtk_separator_new(GTK_ORIENTATION_HORIZONTAL), FALSE, FALSE, 0);

    // A bin gives its whole area to the web view.
    pane = gtk_event_box_new();
    gtk_widget_set_hexpand(pane, TRUE);
    gtk_widget_set_vexpand(pane, TRUE);
    gtk_box_pack_start(GTK_BOX(root), pane, TRUE, TRUE, 0);
    gtk_widget_show_all(root);

    watcherChanges = watcher.objectWillChange().connect([this] { queueRender(); });
    routerChanges = router.objectWillChange().connect([this] { queueRender(); });
    render();
  }

  ~View() {
    *alive = nullptr;
    watcherChanges.disconnect();
    routerChanges.disconnect();
    webView.unhost();
    g_object_unref(root);
  }

  // Announcements come before the change; render after it, once per turn.
  void queueRender() {
    if (renderQueued) return;
    renderQueued = true;
    scheduler.post([weak = std::weak_ptr<View*>(alive)] {
      auto token = weak.lock();
      if (!token || !*token) return;
      (*token)->renderQueued = false;
      (*token)->render();
    });
  }

  void render() {
    InstagramBanner b = instagramBanner(router.instagramMode(), watcher.sessionState() == "ok");
    if (rendered && b == shown) return;
    rendered = true;
    shown = b;
    setSymbol(GTK_IMAGE(icon), b.symbol, 22, b.tint);
    gchar* markup = g_markup_printf_escaped("<b>%s</b>", b.title.c_str());
    gtk_label_set_markup(GTK_LABEL(title), markup);
    g_free(markup);
    gtk_label_set_text(GTK_LABEL(body), b.body.c_str());
    keepKoreanWordsTogether(body);
    gtk_widget_set_visible(inboxButton, b.showsInboxButton);
  }
};

InstagramWindowContent::InstagramWindowContent(Watcher& watcher, WindowRouter& router, Scheduler& scheduler,
                                               WebKitView& webView)
    : view_(std::make_unique<View>(watcher, router, scheduler, webView)) {}

InstagramWindowContent::~InstagramWindowContent() = default;

GtkWidget* InstagramWindowContent::widget() const { return view_->root; }

void InstagramWindowContent::windowShown() {
  // The banner must be current when the window appears, not a turn later.
  view_->render();
  view_->webView.hostIn(GTK_CONTAINER(view_->pane));
}

void InstagramWindowContent::windowHidden() { view_->webView.unhost(); }

const InstagramBanner& InstagramWindowContent::banner() const { return view_->shown; }

}  // namespace corvid::linux_platform
