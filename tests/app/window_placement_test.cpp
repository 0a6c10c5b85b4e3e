// Window placement on small and multiple screens: windows never open larger
// than the visible area, saved frames come back inside it.
#include <gtest/gtest.h>

#include "app/window_placement.h"

namespace corvid {
namespace {

// 1366 × 768 with a 28-pixel panel at the top.
constexpr Rect kLaptop{0, 28, 1366, 740};
constexpr Size kInstagramPreferred{480, 800}, kInstagramMinimum{420, 560};
constexpr FrameInsets kTitleBar{1, 37, 1, 1};

TEST(WindowPlacement, ANewWindowShrinksToTheVisibleAreaAndIsCentredInIt) {
  WindowFrameRect f = placeWindow(std::nullopt, kInstagramPreferred, kInstagramMinimum, kLaptop, kTitleBar);
  EXPECT_EQ(f, (WindowFrameRect{442, 28, 480, 740 - 38}));
  EXPECT_TRUE(fitsIn(f, kLaptop, kTitleBar));
  // Where it fits it keeps its size.
  f = placeWindow(std::nullopt, {520, 720}, {460, 480}, Rect{0, 0, 1920, 1080});
  EXPECT_EQ(f, (WindowFrameRect{700, 180, 520, 720}));
  // The content's minimum wins over the area; the corner stays reachable.
  f = placeWindow(std::nullopt, kInstagramPreferred, kInstagramMinimum, Rect{0, 24, 800, 500}, kTitleBar);
  EXPECT_EQ(f, (WindowFrameRect{159, 24, 480, 560}));
}

TEST(WindowPlacement, SavedFramesAreClampedIntoTheVisibleArea) {
  // Saved on a taller screen, partly below the bottom edge: same corner as
  // far as possible, shorter.
  WindowFrameRect f =
      placeWindow(WindowFrameRect{900, 300, 600, 1000}, kInstagramPreferred, kInstagramMinimum, kLaptop, kTitleBar);
  EXPECT_EQ(f, (WindowFrameRect{1366 - 602, 28, 600, 702}));
  EXPECT_TRUE(fitsIn(f, kLaptop, kTitleBar));
  // Under the panel or left of the screen: moved in, size kept.
  f = placeWindow(WindowFrameRect{-50, 0, 520, 600}, {}, {460, 480}, kLaptop, kTitleBar);
  EXPECT_EQ(f, (WindowFrameRect{0, 28, 520, 600}));
  // A frame that fits is left as it is.
  f = placeWindow(WindowFrameRect{100, 100, 520, 600}, {}, {460, 480}, kLaptop, kTitleBar);
  EXPECT_EQ(f, (WindowFrameRect{100, 100, 520, 600}));
  EXPECT_FALSE(fitsIn(WindowFrameRect{100, 100, 520, 640}, kLaptop, kTitleBar));
  // Saved on a monitor that is gone: its size, centred.
  f = placeWindow(WindowFrameRect{3000, 100, 520, 600}, {}, {460, 480}, kLaptop, kTitleBar);
  EXPECT_EQ(f, (WindowFrameRect{422, 79, 520, 600}));
}

TEST(WindowPlacement, TheAreaIsTheMonitorTheFrameMostlyLiesOnElseThePrimary) {
  const std::vector<Rect> areas{{0, 0, 1920, 1050}, {1920, 0, 1366, 740}};
  EXPECT_EQ(workAreaFor(WindowFrameRect{1800, 10, 500, 500}, areas, 0), areas[1]);
  EXPECT_EQ(workAreaFor(WindowFrameRect{1500, 10, 500, 500}, areas, 1), areas[0]);
  // A monitor that is gone: the primary one.
  EXPECT_EQ(workAreaFor(WindowFrameRect{5000, 10, 500, 500}, areas, 1), areas[1]);
  EXPECT_EQ(workAreaFor(std::nullopt, areas, 7), areas[0]);
  EXPECT_EQ(workAreaFor(std::nullopt, {}, 0), std::nullopt);
}

}  // namespace
}  // namespace corvid
