// The window frames' state file: frames read back as saved, broken or
// absurd ones ignored. That the windows save their frames is checked end to
// end (tests/e2e).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/linux/gtk/window_host.h"
#include "platform_glib/test_support.h"

namespace corvid::linux_platform {
namespace {

using namespace corvid::testing;

TEST(WindowFrameStore, BrokenOrAbsurdFramesAreIgnoredAndASaveRepairsTheFile) {
  TempDir dir{"corvid-frames"};
  const auto file = dir / "state.ini";
  std::ofstream(file) << "[HalvyMain\nx=1\n\xff\xfe garbage";
  EXPECT_FALSE(WindowFrameStore(file).frame("HalvyMain"));
  std::ofstream(file)
      << "[HalvyMain]\nx=10\ny=10\nwidth=-5\nheight=300\n[HalvyInstagram]\nx=1\ny=2\nwidth=300\n";
  WindowFrameStore store(file);
  EXPECT_FALSE(store.frame("HalvyMain"));
  EXPECT_FALSE(store.frame("HalvyInstagram"));
  ASSERT_TRUE(store.save("HalvyMain", WindowFrame{5, 6, 520, 720}));
  EXPECT_EQ(WindowFrameStore(file).frame("HalvyMain"), (WindowFrame{5, 6, 520, 720}));
}

}  // namespace
}  // namespace corvid::linux_platform
