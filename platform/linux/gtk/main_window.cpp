#include "platform/linux/gtk/main_window.h"

#include "ui/status.h"

namespace corvid::linux_platform {

// The status section: title, explanation and status lines, re-rendered
// (once per main-loop turn) whenever the Watcher announces a change.
struct MainWindowContent::View {
  MainWindowDependencies deps;
  GtkWidget* root = nullptr;
  GtkWidget* title = nullptr;
  GtkWidget* detail = nullptr;
  GtkWidget* lines = nullptr;
  sigc::connection changes;
  bool renderQueued = false;
  Timer minuteTick;

  explicit View(MainWindowDependencies d) : deps(std::move(d)) {
    root = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
    g_object_ref_sink(root);
    gtk_container_set_border_width(GTK_CONTAINER(root), 18);
    title = gtk_label_new("");
    detail = gtk_label_new("");
    lines = gtk_label_new("");
    for (GtkWidget* l : {title, detail, lines}) {
      gtk_label_set_xalign(GTK_LABEL(l), 0);
      gtk_label_set_line_wrap(GTK_LABEL(l), TRUE);
      gtk_box_pack_start(GTK_BOX(root), l, FALSE, FALSE, 0);
    }
    gtk_widget_show_all(root);
    changes = deps.watcher.objectWillChange().connect([this] { queueRender(); });
    // Relative times ("10초 전") move on without any change.
    minuteTick = deps.scheduler.every(std::chrono::seconds(5), [this] { queueRender(); });
    render();
  }
  ~View() {
    changes.disconnect();
    g_object_unref(root);
  }
  void queueRender() {
    if (renderQueued) return;
    renderQueued = true;
    deps.scheduler.post([this] {
      renderQueued = false;
      render();
    });
  }
  void render() {
    Health health = deps.watcher.health();
    gchar* markup = g_markup_printf_escaped("<b><big>%s</big></b>", statusTitle(health).c_str());
    gtk_label_set_markup(GTK_LABEL(title), markup);
    g_free(markup);
    gtk_label_set_text(GTK_LABEL(detail), windowDetail(health).c_str());
    std::string text;
    for (const auto& line : statusLines(statusLineInputs(deps.watcher), deps.clock.now())) {
      if (!text.empty()) text += "\n";
      text += line;
    }
    gtk_label_set_text(GTK_LABEL(lines), text.c_str());
  }
};

MainWindowContent::MainWindowContent(MainWindowDependencies deps) : view_(std::make_unique<View>(std::move(deps))) {}
MainWindowContent::~MainWindowContent() = default;
GtkWidget* MainWindowContent::widget() const { return view_->root; }
void MainWindowContent::windowShown() { view_->deps.watcher.refreshLaunchAtLogin(); }

}  // namespace corvid::linux_platform
