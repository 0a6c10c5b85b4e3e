// Saved window frames: position and size per autosave name ("HalvyMain",
// "HalvyInstagram"), kept in a GLib key file (AppPaths::stateFile), one
// group per name with the integer keys x, y, width and height.
#pragma once

#include <glib.h>

#include <filesystem>
#include <optional>
#include <string_view>

namespace corvid::linux_platform {

struct WindowFrame {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const WindowFrame&) const = default;
};

// The file is read once, at construction; a missing, unreadable or broken
// file counts as empty, and so does a group with a missing or absurd value
// (it is then left out, not repaired). Every change rewrites the whole file
// atomically (GLib writes a temporary file and renames it), so a crash never
// leaves half a file; a write that fails is dropped (the frames are a
// convenience, nothing else depends on them). Main thread only.
class WindowFrameStore {
 public:
  explicit WindowFrameStore(std::filesystem::path file);
  ~WindowFrameStore();
  WindowFrameStore(const WindowFrameStore&) = delete;
  WindowFrameStore& operator=(const WindowFrameStore&) = delete;

  std::optional<WindowFrame> frame(std::string_view name) const;
  // Stores the frame and writes the file when it changed. Answers false when
  // the write failed.
  bool save(std::string_view name, const WindowFrame& frame);

  const std::filesystem::path& path() const { return path_; }

  // Bounds of a plausible frame in pixels.
  static constexpr int kMaxExtent = 32768;

 private:
  std::filesystem::path path_;
  GKeyFile* file_;
};

}  // namespace corvid::linux_platform
