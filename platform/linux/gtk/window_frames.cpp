#include "platform/linux/gtk/window_frames.h"

#include <glib/gstdio.h>

#include <string>

namespace corvid::linux_platform {

namespace {

std::optional<int> intKey(GKeyFile* file, const std::string& group, const char* key) {
  GError* error = nullptr;
  gint value = g_key_file_get_integer(file, group.c_str(), key, &error);
  if (error) {
    g_error_free(error);
    return std::nullopt;
  }
  return value;
}

}  // namespace

WindowFrameStore::WindowFrameStore(std::filesystem::path file)
    : path_(std::move(file)), file_(g_key_file_new()) {
  GError* error = nullptr;
  if (!g_key_file_load_from_file(file_, path_.c_str(), G_KEY_FILE_NONE, &error)) {
    g_error_free(error);
    g_key_file_free(file_);
    file_ = g_key_file_new();
  }
}

WindowFrameStore::~WindowFrameStore() { g_key_file_free(file_); }

std::optional<WindowFrame> WindowFrameStore::frame(std::string_view name) const {
  const std::string group(name);
  auto x = intKey(file_, group, "x");
  auto y = intKey(file_, group, "y");
  auto width = intKey(file_, group, "width");
  auto height = intKey(file_, group, "height");
  if (!x || !y || !width || !height) return std::nullopt;
  auto within = [](int v, int lo, int hi) { return v >= lo && v <= hi; };
  if (!within(*width, 1, kMaxExtent) || !within(*height, 1, kMaxExtent) ||
      !within(*x, -kMaxExtent, kMaxExtent) || !within(*y, -kMaxExtent, kMaxExtent)) {
    return std::nullopt;
  }
  return WindowFrame{*x, *y, *width, *height};
}

bool WindowFrameStore::save(std::string_view name, const WindowFrame& f) {
  if (frame(name) == f) return true;
  const std::string group(name);
  g_key_file_set_integer(file_, group.c_str(), "x", f.x);
  g_key_file_set_integer(file_, group.c_str(), "y", f.y);
  g_key_file_set_integer(file_, group.c_str(), "width", f.width);
  g_key_file_set_integer(file_, group.c_str(), "height", f.height);
  g_mkdir_with_parents(path_.parent_path().c_str(), 0700);
  gsize length = 0;
  gchar* data = g_key_file_to_data(file_, &length, nullptr);
  GError* error = nullptr;
  bool ok = g_file_set_contents(path_.c_str(), data, static_cast<gssize>(length), &error);
  g_free(data);
  if (error) g_error_free(error);
  return ok;
}

}  // namespace corvid::linux_platform
