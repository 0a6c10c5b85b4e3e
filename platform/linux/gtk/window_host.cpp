#include "platform/linux/gtk/window_host.h"

#include <optional>
#include <string>
#include <vector>

namespace corvid::linux_platform {

struct GtkWindowHost::Slot {
  GtkWindowHost* host = nullptr;
  AppWindow which = AppWindow::main;
  std::string autosaveName;
  GtkWidget* window = nullptr;
  std::unique_ptr<WindowContent> content;
  Size preferred;
  Timer pendingSave;
};

namespace {

std::size_t index(AppWindow w) { return w == AppWindow::main ? 0 : 1; }

Rect toRect(const GdkRectangle& r) { return {r.x, r.y, r.width, r.height}; }

// The work areas of the monitors (the screen less panels) and the index of
// the primary one.
std::vector<Rect> workAreas(std::size_t& primary) {
  std::vector<Rect> areas;
  primary = 0;
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return areas;
  GdkMonitor* primaryMonitor = gdk_display_get_primary_monitor(display);
  for (int i = 0, n = gdk_display_get_n_monitors(display); i < n; ++i) {
    GdkMonitor* monitor = gdk_display_get_monitor(display, i);
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    if (monitor == primaryMonitor) primary = areas.size();
    areas.push_back(toRect(area));
  }
  return areas;
}

// What the window manager draws around the content of a mapped window.
FrameInsets frameInsets(GtkWidget* widget) {
  GdkWindow* window = gtk_widget_get_window(widget);
  if (!window) return {};
  GdkRectangle outer;
  gdk_window_get_frame_extents(window, &outer);
  int x = 0, y = 0;
  gdk_window_get_origin(window, &x, &y);
  const int width = gdk_window_get_width(window), height = gdk_window_get_height(window);
  FrameInsets in{x - outer.x, y - outer.y, outer.x + outer.width - (x + width), outer.y + outer.height - (y + height)};
  // Nonsense from a window manager that has not framed the window yet.
  if (in.left < 0 || in.top < 0 || in.right < 0 || in.bottom < 0) return {};
  return in;
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
  slot->preferred = Size{parameters.width, parameters.height};
  slot->content = content_(which);
  gtk_container_add(GTK_CONTAINER(w), slot->content->widget());

  // The saved frame, else the window's own size centred, fitted into the
  // visible area of its monitor (the frame's, else the primary one).
  std::optional<WindowFrameRect> saved;
  if (auto frame = frames_.frame(slot->autosaveName)) saved = Rect{frame->x, frame->y, frame->width, frame->height};
  std::size_t primary = 0;
  const std::vector<Rect> areas = workAreas(primary);
  if (auto area = workAreaFor(saved, areas, primary)) {
    WindowFrameRect placed = placeWindow(saved, slot->preferred, minimumSize(*slot), *area);
    gtk_window_set_default_size(window, placed.width, placed.height);
    gtk_window_move(window, placed.x, placed.y);
  } else {
    gtk_window_set_default_size(window, parameters.width, parameters.height);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
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
  // Once the window manager has framed the window, the title bar and
  // borders count too.
  g_signal_connect(w, "map-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer data) -> gboolean {
                     auto* s = static_cast<Slot*>(data);
                     s->host->keepOnScreen(*s);
                     return FALSE;
                   }),
                   slot.get());
}

Size GtkWindowHost::minimumSize(Slot& slot) {
  GtkRequisition minimum{0, 0};
  gtk_widget_get_preferred_size(slot.content->widget(), &minimum, nullptr);
  return Size{minimum.width, minimum.height};
}

void GtkWindowHost::keepOnScreen(Slot& slot) {
  GtkWindow* window = GTK_WINDOW(slot.window);
  GdkWindow* gdkWindow = gtk_widget_get_window(slot.window);
  GdkDisplay* display = gdk_display_get_default();
  if (!gdkWindow || !display) return;
  GdkRectangle area;
  gdk_monitor_get_workarea(gdk_display_get_monitor_at_window(display, gdkWindow), &area);
  WindowFrameRect frame;
  gtk_window_get_position(window, &frame.x, &frame.y);
  gtk_window_get_size(window, &frame.width, &frame.height);
  const FrameInsets insets = frameInsets(slot.window);
  if (fitsIn(frame, toRect(area), insets)) return;
  WindowFrameRect placed = placeWindow(frame, slot.preferred, minimumSize(slot), toRect(area), insets);
  gtk_window_resize(window, placed.width, placed.height);
  gtk_window_move(window, placed.x, placed.y);
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
