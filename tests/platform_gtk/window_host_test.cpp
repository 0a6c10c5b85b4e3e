// The GTK window host with real windows: frames saved under the autosave
// names and restored by a later process, broken state files ignored, and a
// close from the title bar reaching the router before the window hides.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <filesystem>
#include <fstream>

#include "app/window_router.h"
#include "base/log.h"
#include "platform/linux/glib/glib_loop.h"
#include "platform/linux/gtk/window_host.h"
#include "platform/linux/gtk/window_snapshot.h"
#include "platform_glib/test_support.h"

namespace corvid::linux_platform {
namespace {

class Label : public WindowContent {
 public:
  Label() : widget_(GTK_WIDGET(g_object_ref_sink(gtk_label_new("content")))) {}
  ~Label() override { g_object_unref(widget_); }
  GtkWidget* widget() const override { return widget_; }
  void windowShown() override { ++shown; }
  void windowHidden() override { ++hidden; }
  int shown = 0, hidden = 0;

 private:
  GtkWidget* widget_;
};

class FakeWatcher : public RouterWatcher {
 public:
  void setInspecting(bool on) override { inspecting = on; }
  void endInspecting() override { ++ended; }
  bool setupComplete() const override { return true; }
  bool inspecting = false;
  int ended = 0;
};

class WindowHostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)); }

  // A host whose contents are labels, remembered in `contents`.
  std::unique_ptr<GtkWindowHost> makeHost() {
    return std::make_unique<GtkWindowHost>(nullptr, scheduler, stateFile, [this](AppWindow) {
      auto label = std::make_unique<Label>();
      contents.push_back(label.get());
      return label;
    });
  }
  static void settle() { testing::spinFor(std::chrono::milliseconds(300)); }

  GLibScheduler scheduler;
  MemoryLog log;
  FakeWatcher watcher;
  testing::TempDir dir{"corvid-frames"};
  std::filesystem::path stateFile = dir / "corvid" / "state.ini";
  std::vector<Label*> contents;
};

TEST_F(WindowHostTest, FramesRoundTripThroughTheStateFile) {
  {
    auto host = makeHost();
    WindowRouter router(*host, scheduler, log, watcher);
    host->setRouter(&router);
    router.showInstagram(InstagramMode::login);
    GtkWindow* w = host->window(AppWindow::instagram);
    ASSERT_TRUE(w);
    settle();
    gtk_window_move(w, 40, 50);
    gtk_window_resize(w, 600, 700);
    ASSERT_TRUE(iterateUntil(
        [&] {
          int x, y, cw, ch;
          gtk_window_get_position(w, &x, &y);
          gtk_window_get_size(w, &cw, &ch);
          return x == 40 && y == 50 && cw == 600 && ch == 700;
        },
        5000));
    // The title bar's close button: the router hears of it, then the window hides.
    gtk_window_close(w);
    settle();
    EXPECT_FALSE(host->isVisible(AppWindow::instagram));
    EXPECT_EQ(watcher.ended, 1);
    EXPECT_EQ(contents.at(0)->shown, 1);
    EXPECT_EQ(contents.at(0)->hidden, 1);
    // Hidden, not destroyed: shown again, it is the same window.
    router.showInstagram(InstagramMode::inspect);
    EXPECT_EQ(host->window(AppWindow::instagram), w);
    EXPECT_EQ(contents.size(), 1u);
  }

  // The next process restores size and position.
  auto host = makeHost();
  host->createWindow(AppWindow::instagram, kInstagramWindowParameters);
  GtkWindow* w = host->window(AppWindow::instagram);
  int width = 0, height = 0;
  gtk_window_get_default_size(w, &width, &height);
  EXPECT_EQ(width, 600);
  EXPECT_EQ(height, 700);
  host->present(AppWindow::instagram);
  settle();
  int x = 0, y = 0;
  gtk_window_get_position(w, &x, &y);
  EXPECT_EQ(x, 40);
  EXPECT_EQ(y, 50);
}

TEST_F(WindowHostTest, BrokenOrAbsurdFramesAreIgnored) {
  std::filesystem::create_directories(stateFile.parent_path());
  { std::ofstream(stateFile) << "[HalvyMain\nx=1\n\xff\xfe garbage"; }
  EXPECT_FALSE(WindowFrameStore(stateFile).frame("HalvyMain"));
  {
    std::ofstream(stateFile) << "[HalvyMain]\nx=10\ny=10\nwidth=-5\nheight=300\n"
                                "[HalvyInstagram]\nx=1\ny=2\nwidth=300\n";
  }
  WindowFrameStore store(stateFile);
  EXPECT_FALSE(store.frame("HalvyMain"));
  EXPECT_FALSE(store.frame("HalvyInstagram"));
  // A window made over such a file takes its own size, and a save replaces
  // the file with a sound one.
  ASSERT_TRUE(store.save("HalvyMain", WindowFrame{5, 6, 520, 720}));
  EXPECT_EQ(WindowFrameStore(stateFile).frame("HalvyMain"), (WindowFrame{5, 6, 520, 720}));
}

}  // namespace
}  // namespace corvid::linux_platform
