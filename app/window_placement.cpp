#include "app/window_placement.h"

#include <algorithm>

namespace corvid {

namespace {

Rect outer(const WindowFrameRect& f, FrameInsets in) {
  return {f.x, f.y, f.width + in.left + in.right, f.height + in.top + in.bottom};
}

long long overlap(const Rect& a, const Rect& b) {
  const long long w = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
  const long long h = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
  return w > 0 && h > 0 ? w * h : 0;
}

// `start` moved as little as possible so that [start, start + length) lies
// in [lo, lo + room); a length larger than the room starts at lo.
int within(int start, int length, int lo, int room) {
  return std::max(lo, std::min(start, lo + room - length));
}

}  // namespace

std::optional<Rect> workAreaFor(const std::optional<WindowFrameRect>& frame, const std::vector<Rect>& areas,
                                std::size_t primary, FrameInsets insets) {
  if (areas.empty()) return std::nullopt;
  std::optional<Rect> best;
  long long bestOverlap = 0;
  if (frame) {
    for (const Rect& area : areas) {
      long long o = overlap(outer(*frame, insets), area);
      if (o > bestOverlap) {
        best = area;
        bestOverlap = o;
      }
    }
  }
  if (best) return best;
  return areas[primary < areas.size() ? primary : 0];
}

WindowFrameRect placeWindow(const std::optional<WindowFrameRect>& saved, Size preferred, Size minimum,
                            const Rect& area, FrameInsets insets) {
  const int horizontal = insets.left + insets.right;
  const int vertical = insets.top + insets.bottom;
  auto side = [](int wanted, int room, int least) { return std::max(std::min(wanted, room), least); };
  WindowFrameRect f;
  f.width = side(saved ? saved->width : preferred.width, area.width - horizontal, minimum.width);
  f.height = side(saved ? saved->height : preferred.height, area.height - vertical, minimum.height);
  const int outerWidth = f.width + horizontal;
  const int outerHeight = f.height + vertical;
  // A frame wholly outside the area (its monitor is gone) keeps only its size.
  if (saved && overlap(outer(*saved, insets), area) > 0) {
    f.x = within(saved->x, outerWidth, area.x, area.width);
    f.y = within(saved->y, outerHeight, area.y, area.height);
  } else {
    f.x = within(area.x + (area.width - outerWidth) / 2, outerWidth, area.x, area.width);
    f.y = within(area.y + (area.height - outerHeight) / 2, outerHeight, area.y, area.height);
  }
  return f;
}

bool fitsIn(const WindowFrameRect& frame, const Rect& area, FrameInsets insets) {
  const Rect o = outer(frame, insets);
  return o.x >= area.x && o.y >= area.y && o.x + o.width <= area.x + area.width &&
         o.y + o.height <= area.y + area.height;
}

}  // namespace corvid
