// Corvid on a 1366 × 768 screen: both windows open wholly on the screen,
// also when the frames saved last time were larger or lay elsewhere, and
// the windows carry the class the desktop entry names (StartupWMClass), so
// that docks and task bars match them to the entry.
#include <gtest/gtest.h>

#include <fstream>

#include "app_harness.h"

using namespace corvid::testing;
using namespace std::chrono_literals;

namespace {

bool onScreen(const WindowGeometry& w, const WindowGeometry& screen) {
  return w.x >= 0 && w.y >= 0 && w.x + w.width <= screen.width && w.y + w.height <= screen.height;
}

std::string desktopEntryKey(const std::string& key) {
  std::ifstream in(std::string(getenv("CORVID_SOURCE_DIR")) + "/data/io.github.corvid.Corvid.desktop");
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with(key + "=")) return line.substr(key.size() + 1);
  }
  return {};
}

}  // namespace

TEST(SmallScreen, BothWindowsOpenWithinTheScreenAndCarryTheDesktopEntrysClass) {
  AppHarness app;  // no phone yet: the main window opens at launch
  std::filesystem::create_directories(app.stateFile().parent_path());
  // Saved on a larger screen: taller than this one and partly off it.
  std::ofstream(app.stateFile()) << "[HalvyMain]\nx=-300\ny=400\nwidth=520\nheight=1000\n";
  app.start();
  ASSERT_TRUE(app.waitUntil([&] { return app.windowsShown("Corvid") == 1; }, 30s)) << app.output();
  // Never opened before: the Instagram window asks for 480 × 800.
  ASSERT_TRUE(app.activateAction("show-instagram", "inspect"));
  ASSERT_TRUE(app.waitUntil([&] { return app.windowsShown("Instagram 화면") == 1; }, 30s)) << app.output();

  const WindowGeometry screen = screenSize();
  ASSERT_EQ(screen.width, 1366);
  ASSERT_EQ(screen.height, 768);
  for (const char* title : {"Corvid", "Instagram 화면"}) {
    std::optional<WindowGeometry> w;
    EXPECT_TRUE(app.waitUntil([&] { return (w = app.windowGeometry(title)) && onScreen(*w, screen); }, 5s))
        << title << ": " << (w ? std::to_string(w->x) + "," + std::to_string(w->y) + " " + std::to_string(w->width) +
                                     "×" + std::to_string(w->height)
                               : "gone");
    ASSERT_TRUE(w);
    EXPECT_EQ(w->wmClass, desktopEntryKey("StartupWMClass")) << title;
  }
  // The Instagram window shrank to the screen's height (its page scrolls),
  // no further than its content allows.
  auto instagram = app.windowGeometry("Instagram 화면");
  ASSERT_TRUE(instagram);
  EXPECT_EQ(instagram->height, 768);
  EXPECT_EQ(instagram->width, 480);
}
