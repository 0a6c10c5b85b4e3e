// Where a window opens: inside the visible part of a screen (the monitor's
// work area, which leaves out panels), whatever size it asks for and
// wherever it was last saved. A small screen (1366 × 768 less a panel)
// gets a window that fits; a frame saved on a larger or a detached monitor
// comes back within the visible area.
#pragma once

#include <optional>
#include <vector>

namespace corvid {

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Rect&) const = default;
};

struct Size {
  int width = 0, height = 0;
  bool operator==(const Size&) const = default;
};

// What the window manager adds around the content (title bar, borders).
struct FrameInsets {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const FrameInsets&) const = default;
};

// A window's placement: `x`, `y` the top-left corner of its outer frame
// (what GTK moves and reports), `width` and `height` its content size.
using WindowFrameRect = Rect;

// The area of `areas` the frame overlaps most; `primary` when it overlaps
// none (or there is no frame). Nothing when there are no areas.
std::optional<Rect> workAreaFor(const std::optional<WindowFrameRect>& frame, const std::vector<Rect>& areas,
                                std::size_t primary, FrameInsets insets = {});

// Places a window in `area`:
// - size: the saved frame's size, else `preferred`; each side no larger
//   than the area less the insets, and no smaller than `minimum` (a
//   minimum larger than the area wins: the content cannot shrink further);
// - position: the saved frame's corner moved just as far as needed to bring
//   the whole outer frame into the area; centred in the area when there
//   is no saved frame or it lies wholly outside the area. When
//   the frame is larger than the area its top-left corner stays in the
//   area, so the title bar can be reached.
WindowFrameRect placeWindow(const std::optional<WindowFrameRect>& saved, Size preferred, Size minimum,
                            const Rect& area, FrameInsets insets = {});

// Whether the outer frame lies wholly within `area`.
bool fitsIn(const WindowFrameRect& frame, const Rect& area, FrameInsets insets = {});

}  // namespace corvid
