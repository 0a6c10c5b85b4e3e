// Renders a window's content to a PNG file: for screenshots of the real
// windows under Xvfb (tools) and for checking what a window shows.
#pragma once

#include <gtk/gtk.h>

#include <filesystem>
#include <functional>
#include <string>

namespace corvid::linux_platform {

// Draws `window` (shown and realised) as it is now, without window-manager
// decorations, into `file` (folders are created). The web view draws from
// its own backing store, so it comes out as well. Answers an error text,
// empty on success.
std::string saveWindowPng(GtkWindow* window, const std::filesystem::path& file);

// Iterates the default main context until `done()` holds or `limit` passes
// (real time); answers whether it held. For tools and tests that wait for a
// window to settle.
bool iterateUntil(const std::function<bool()>& done, int limitMs);

}  // namespace corvid::linux_platform
