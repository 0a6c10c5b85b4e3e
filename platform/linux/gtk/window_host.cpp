#include "platform/linux/gtk/window_host.h"

#include <string>

namespace corvid::linux_platform {

struct GtkWindowHost::Slot {
  GtkWindowHost* host = nullptr;
  AppWindow which = AppWindow::main;
  std::string autosaveName;
  GtkWidget* window = nullptr;
  std::unique_ptr<WindowContent> content;
  Timer pendingSave;
};

namespace {

std::size_t index(AppWindow w) { return w == AppWindow::main ? 0 : 1; }

// Whether the rectangle meets the area of some monitor.
bool onSomeMonitor(const WindowFrame& f) {
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return false;
  GdkRectangle frame{f.x, f.y, f.width, f.height};
  for (int i = 0, n = gdk_display_get_n_monitors(display); i < n; ++i) {
    GdkRectangle area;
    gdk_monitor_get_workarea(gdk_display_get_monitor(display, i), &area);
    if (gdk_rectangle_intersect(&frame, &area, nullptr)) return true;
  }
  return false;
}

}  // namespace

GtkWindowHost::GtkWindowHost(GtkApplication* app, Scheduler& scheduler, std::filesystem::path stateFile,
                             ContentFactory content)
    : app_(app), scheduler_(scheduler), frames_(std::move(stateFile)), content_(std::move(content)) {}

GtkWindowHost::~GtkWindowHost() {
  saveFrames();
  for (auto& slot : slots_) {
    if (!slot) continue;
    g_signal_handlers_disconnect_by_data(slot->window, slot.get());
    // The content goes first: it takes back what it lent the window (the
    // web view) before the window's widgets are destroyed.
    slot->content->windowHidden();
    gtk_widget_destroy(slot->window);
    slot->content.reset();
    g_object_unref(slot->window);
  }
}

void GtkWindowHost::createWindow(AppWindow which, const WindowParameters& parameters) {
  auto& slot = slots_[index(which)];
  if (slot) return;
  slot = std::make_unique<Slot>();
  slot->host = this;
  slot->which = which;
  slot->autosaveName = std::string(parameters.frameAutosaveName);
  GtkWidget* w = app_ ? gtk_application_window_new(app_) : gtk_window_new(GTK_WINDOW_TOPLEVEL);
  slot->window = GTK_WIDGET(g_object_ref_sink(w));
  GtkWindow* window = GTK_WINDOW(w);
  if (app_) gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(w), FALSE);
  gtk_window_set_title(window, std::string(parameters.title).c_str());
  gtk_window_set_default_size(window, parameters.width, parameters.height);
  gtk_window_set_position(window, GTK_WIN_POS_CENTER);
  slot->content = content_(which);
  gtk_container_add(GTK_CONTAINER(w), slot->content->widget());

  if (auto frame = frames_.frame(slot->autosaveName)) {
    gtk_window_set_default_size(window, frame->width, frame->height);
    if (onSomeMonitor(*frame)) {
      gtk_window_set_position(window, GTK_WIN_POS_NONE);
      gtk_window_move(window, frame->x, frame->y);
    }
  }

  g_signal_connect(w, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer data) -> gboolean {
                     auto* s = static_cast<Slot*>(data);
                     if (s->host->router_) s->host->router_->windowWillClose(s->which);
                     s->host->hide(*s);
                     return TRUE;  // keep the window
                   }),
                   slot.get());
  g_signal_connect(w, "configure-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer data) -> gboolean {
                     auto* s = static_cast<Slot*>(data);
                     if (!s->pendingSave) {
                       s->pendingSave = s->host->scheduler_.after(kFrameSaveDelay, [s] {
                         Timer done = std::move(s->pendingSave);
                         s->host->saveFrame(*s);
                       });
                     }
                     return FALSE;
                   }),
                   slot.get());
  g_signal_connect(w, "show", G_CALLBACK(+[](GtkWidget*, gpointer data) {
                     static_cast<Slot*>(data)->content->windowShown();
                   }),
                   slot.get());
}

void GtkWindowHost::setTitle(AppWindow which, const std::string& title) {
  if (auto* w = window(which)) gtk_window_set_title(w, title.c_str());
}

void GtkWindowHost::present(AppWindow which) {
  GtkWindow* w = window(which);
  if (!w) return;
  gtk_window_deiconify(w);
  gtk_window_present(w);
}

void GtkWindowHost::close(AppWindow which) {
  if (auto& slot = slots_[index(which)]) hide(*slot);
}

void GtkWindowHost::hide(Slot& slot) {
  if (!gtk_widget_get_visible(slot.window)) return;
  slot.pendingSave.cancel();
  saveFrame(slot);
  gtk_widget_hide(slot.window);
  slot.content->windowHidden();
}

bool GtkWindowHost::isVisible(AppWindow which) const {
  GtkWindow* w = window(which);
  return w && gtk_widget_get_visible(GTK_WIDGET(w));
}

GtkWindow* GtkWindowHost::window(AppWindow which) const {
  const auto& slot = slots_[index(which)];
  return slot ? GTK_WINDOW(slot->window) : nullptr;
}

GtkWindow* GtkWindowHost::visibleWindow() const {
  for (AppWindow w : {AppWindow::main, AppWindow::instagram}) {
    if (isVisible(w)) return window(w);
  }
  return nullptr;
}

void GtkWindowHost::saveFrames() {
  for (auto& slot : slots_) {
    if (slot && slot->pendingSave) {
      slot->pendingSave.cancel();
      saveFrame(*slot);
    }
  }
}

void GtkWindowHost::saveFrame(Slot& slot) {
  // Only a shown window has a frame worth keeping; a minimised or maximised
  // one would come back wrong.
  if (!gtk_widget_get_visible(slot.window) || !gtk_widget_get_realized(slot.window)) return;
  GdkWindowState state = gdk_window_get_state(gtk_widget_get_window(slot.window));
  if (state & (GDK_WINDOW_STATE_ICONIFIED | GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_FULLSCREEN)) return;
  WindowFrame f;
  gtk_window_get_position(GTK_WINDOW(slot.window), &f.x, &f.y);
  gtk_window_get_size(GTK_WINDOW(slot.window), &f.width, &f.height);
  frames_.save(slot.autosaveName, f);
}

}  // namespace corvid::linux_platform
