#include "platform/linux/glib/login_item.h"

#include <gio/gdesktopappinfo.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "platform_glib/test_support.h"

using namespace corvid;
using namespace corvid::linux_platform;
using namespace corvid::testing;
namespace fs = std::filesystem;
using S = LoginItemStatus;

namespace {

fs::path makeProgram(const fs::path& path, const std::string& body = "#!/bin/sh\nexit 0\n") {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << body;
  chmod(path.c_str(), 0755);
  return path;
}

class LoginItemTest : public ::testing::Test {
 protected:
  TempDir root_{"corvid-login-item"};
  fs::path autostart_ = root_ / "autostart", marker_ = root_ / "started";
  // A path with what the desktop-entry rules need escaped or quoted.
  fs::path exe_ = makeProgram(root_ / "my apps" / "cor\"vid $HOME `id` \\ 'q';#",
                              "#!/bin/sh\necho \"$0\" > '" + marker_.string() + "'\n");

  void replaceInEntry(const std::string& from, const std::string& to) {
    fs::path entry = autostart_ / "corvid.desktop";
    std::string text = readFile(entry);
    ASSERT_NE(text.find(from), std::string::npos) << text;
    text.replace(text.find(from), from.size(), to);
    std::ofstream(entry, std::ios::trunc) << text;
  }
};

TEST_F(LoginItemTest, RegisterAndUnregisterFollowTheEntry) {
  XdgAutostartLoginItem item(autostart_, exe_);
  EXPECT_EQ(item.status(), S::notRegistered);
  EXPECT_EQ(item.unregisterItem(), std::nullopt);  // nothing there is success

  ASSERT_EQ(item.registerItem(), std::nullopt);
  EXPECT_EQ(item.status(), S::enabled);
  // GLib's desktop-entry reader accepts the entry and, launching it as a
  // session does, starts exactly our program.
  GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(item.entryPath().c_str());
  ASSERT_NE(info, nullptr) << readFile(item.entryPath());
  EXPECT_TRUE(g_app_info_launch(G_APP_INFO(info), nullptr, nullptr, nullptr));
  g_object_unref(info);
  EXPECT_TRUE(spinUntil([&] { return !readFile(marker_).empty(); }, 5s));
  EXPECT_EQ(readFile(marker_), exe_.string() + "\n");

  // Switched off by a session tool: approval needed; registering switches it on again.
  replaceInEntry("X-GNOME-Autostart-enabled=true", "X-GNOME-Autostart-enabled=false");
  EXPECT_EQ(item.status(), S::requiresApproval);
  ASSERT_EQ(item.registerItem(), std::nullopt);
  EXPECT_EQ(item.status(), S::enabled);
  replaceInEntry("Terminal=false", "Terminal=false\nHidden=true");
  EXPECT_EQ(item.status(), S::requiresApproval);

  // "%" is written as "%%" and read back. (GLib's own reader looks the
  // program up before undoing "%%", so it refuses such an entry.)
  XdgAutostartLoginItem percent(root_ / "other", makeProgram(root_ / "100% sure"));
  ASSERT_EQ(percent.registerItem(), std::nullopt);
  EXPECT_EQ(percent.status(), S::enabled);

  // An entry left by a copy at another place does not start this one.
  EXPECT_EQ(XdgAutostartLoginItem(autostart_, makeProgram(root_ / "elsewhere" / "corvid")).status(),
            S::notRegistered);

  ASSERT_EQ(item.unregisterItem(), std::nullopt);
  EXPECT_EQ(item.status(), S::notRegistered);
  EXPECT_TRUE(fs::is_empty(autostart_));  // no temporaries either
}

TEST_F(LoginItemTest, FailuresComeBackAsErrors) {
  XdgAutostartLoginItem unknown(autostart_, std::nullopt);
  EXPECT_EQ(unknown.status(), S::notFound);
  EXPECT_TRUE(unknown.registerItem());

  // An autostart folder that cannot be written (a file there: holds for root too).
  std::ofstream(autostart_) << "not a folder";
  XdgAutostartLoginItem item(autostart_, exe_);
  auto error = item.registerItem();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, G_FILE_ERROR_NOTDIR);
  EXPECT_NE(error->description.find(autostart_.string()), std::string::npos) << error->description;
  EXPECT_EQ(item.status(), S::notRegistered);

  fs::remove(autostart_);
  fs::create_directories(autostart_ / "corvid.desktop" / "inside");
  EXPECT_TRUE(item.registerItem());
  error = item.unregisterItem();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, G_FILE_ERROR_ISDIR);
}

}  // namespace
