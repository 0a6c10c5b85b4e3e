#include "platform/linux/gtk/window_snapshot.h"

#include <functional>
#include <system_error>

namespace corvid::linux_platform {

std::string saveWindowPng(GtkWindow* window, const std::filesystem::path& file) {
  GtkWidget* w = GTK_WIDGET(window);
  if (!gtk_widget_get_visible(w) || !gtk_widget_get_realized(w)) return "the window is not shown";
  int width = gtk_widget_get_allocated_width(w);
  int height = gtk_widget_get_allocated_height(w);
  if (width <= 0 || height <= 0) return "the window has no size yet";
  std::error_code ec;
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(surface);
  gtk_widget_draw(w, cr);
  cairo_destroy(cr);
  cairo_status_t status = cairo_surface_write_to_png(surface, file.c_str());
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) return cairo_status_to_string(status);
  return {};
}

bool iterateUntil(const std::function<bool()>& done, int limitMs) {
  gint64 end = g_get_monotonic_time() + gint64{limitMs} * 1000;
  while (!done()) {
    if (g_get_monotonic_time() >= end) return false;
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(5000);
  }
  return true;
}

}  // namespace corvid::linux_platform
