#include <gio/gdesktopappinfo.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "platform/linux/glib/login_item.h"
#include "platform_glib/temp_home.h"

using namespace corvid;
using namespace corvid::linux_platform;
namespace fs = std::filesystem;
using S = LoginItemStatus;

namespace {

std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

fs::path makeProgram(const fs::path& path, const std::string& body = "#!/bin/sh\nexit 0\n") {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << body;
  chmod(path.c_str(), 0755);
  return path;
}

class LoginItemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = corvid::testing::freshFolder("login-item");
    autostart_ = root_ / "config" / "autostart";
    // Characters the desktop-entry rules need escaped or quoted.
    marker_ = root_ / "started";
    exe_ = makeProgram(root_ / "my apps" / "cor\"vid $HOME `id` \\ 'q';#",
                       "#!/bin/sh\necho \"$0\" > '" + marker_.string() + "'\n");
  }
  void TearDown() override { corvid::testing::removeTree(root_); }

  void replaceLine(const std::string& from, const std::string& to) {
    fs::path entry = autostart_ / "corvid.desktop";
    std::string text = readAll(entry);
    auto at = text.find(from);
    ASSERT_NE(at, std::string::npos) << text;
    text.replace(at, from.size(), to);
    std::ofstream(entry, std::ios::trunc) << text;
  }

  fs::path root_, autostart_, exe_, marker_;
};

TEST_F(LoginItemTest, RegisterAndUnregisterFollowTheEntry) {
  XdgAutostartLoginItem item(autostart_, exe_);
  EXPECT_EQ(item.status(), S::notRegistered);
  EXPECT_EQ(item.unregisterItem(), std::nullopt);  // nothing there is success

  ASSERT_EQ(item.registerItem(), std::nullopt);
  EXPECT_EQ(item.status(), S::enabled);
  // GLib's desktop-entry reader accepts the entry (it checks that Exec names
  // an existing program), and the quoted Exec run by a shell starts exactly
  // our program: the quoting rules of desktop entries are the shell's.
  GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(item.entryPath().c_str());
  ASSERT_NE(info, nullptr) << readAll(item.entryPath());
  EXPECT_STREQ(g_app_info_get_name(G_APP_INFO(info)), "Corvid");
  const char* shell[] = {"/bin/sh", "-c", g_app_info_get_commandline(G_APP_INFO(info)), nullptr};
  ASSERT_TRUE(g_spawn_sync(nullptr, const_cast<char**>(shell), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr,
                           nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(readAll(marker_), exe_.string() + "\n");
  g_object_unref(info);
  EXPECT_EQ(fs::directory_iterator(autostart_)->path().filename(), "corvid.desktop");  // no temporaries

  // Switched off by a session tool: approval needed; registering switches it on again.
  replaceLine("X-GNOME-Autostart-enabled=true", "X-GNOME-Autostart-enabled=false");
  EXPECT_EQ(item.status(), S::requiresApproval);
  ASSERT_EQ(item.registerItem(), std::nullopt);
  EXPECT_EQ(item.status(), S::enabled);
  replaceLine("Terminal=false", "Terminal=false\nHidden=true");
  EXPECT_EQ(item.status(), S::requiresApproval);

  // An entry left by a copy at another place does not start this one.
  XdgAutostartLoginItem moved(autostart_, makeProgram(root_ / "elsewhere" / "corvid"));
  EXPECT_EQ(moved.status(), S::notRegistered);

  ASSERT_EQ(item.unregisterItem(), std::nullopt);
  EXPECT_EQ(item.status(), S::notRegistered);
  EXPECT_FALSE(fs::exists(item.entryPath()));
}

TEST_F(LoginItemTest, PercentSignsAndAnUnknownBinary) {
  EXPECT_EQ(XdgAutostartLoginItem::execLine("/opt/a b/100%\"$`\\"), "\"/opt/a b/100%%\\\"\\$\\`\\\\\"");
  XdgAutostartLoginItem percent(autostart_, makeProgram(root_ / "100% sure"));
  ASSERT_EQ(percent.registerItem(), std::nullopt);
  EXPECT_EQ(percent.status(), S::enabled);

  XdgAutostartLoginItem unknown(autostart_, std::nullopt);
  EXPECT_EQ(unknown.status(), S::notFound);
  auto error = unknown.registerItem();
  ASSERT_TRUE(error);
  EXPECT_FALSE(error->description.empty());

  auto self = XdgAutostartLoginItem::runningExecutable();
  ASSERT_TRUE(self);
  EXPECT_EQ(*self, fs::canonical("/proc/self/exe"));
}

TEST_F(LoginItemTest, FileSystemFailuresComeBackAsErrors) {
  // Hold for root too: the folder is a file, the entry is a folder.
  fs::create_directories(autostart_.parent_path());
  std::ofstream(autostart_) << "not a folder";
  XdgAutostartLoginItem blocked(autostart_, exe_);
  auto error = blocked.registerItem();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, G_FILE_ERROR_NOTDIR);
  EXPECT_NE(error->description.find(autostart_.string()), std::string::npos) << error->description;
  EXPECT_EQ(blocked.status(), S::notRegistered);

  fs::remove(autostart_);
  fs::create_directories(autostart_ / "corvid.desktop" / "inside");
  XdgAutostartLoginItem item(autostart_, exe_);
  error = item.registerItem();
  ASSERT_TRUE(error);
  EXPECT_NE(error->code, 0);
  error = item.unregisterItem();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, G_FILE_ERROR_ISDIR);
  fs::remove_all(autostart_ / "corvid.desktop");

  if (geteuid() != 0) {
    fs::create_directories(autostart_);
    chmod(autostart_.c_str(), 0500);
    error = item.registerItem();
    chmod(autostart_.c_str(), 0700);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, G_FILE_ERROR_ACCES);
  }
}

TEST_F(LoginItemTest, OpenSettingsStartsTheSessionToolWithoutWaiting) {
  fs::path bin = root_ / "bin";
  fs::path marker = root_ / "started";
  makeProgram(bin / "gnome-session-properties",
              "#!/bin/sh\nsleep 1\necho \"$0\" > '" + marker.string() + "'\n");
  const std::string oldPath = g_getenv("PATH") ? g_getenv("PATH") : "";
  const char* oldDesktop = g_getenv("XDG_CURRENT_DESKTOP");
  const std::string keepDesktop = oldDesktop ? oldDesktop : "";
  g_setenv("PATH", (bin.string() + ":/usr/bin:/bin").c_str(), TRUE);
  g_setenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME", TRUE);

  XdgAutostartLoginItem item(autostart_, exe_);
  auto start = std::chrono::steady_clock::now();
  item.openSettings();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));  // the tool sleeps 1 s

  g_setenv("PATH", oldPath.c_str(), TRUE);
  if (oldDesktop) {
    g_setenv("XDG_CURRENT_DESKTOP", keepDesktop.c_str(), TRUE);
  } else {
    g_unsetenv("XDG_CURRENT_DESKTOP");
  }
  for (int i = 0; i < 100 && readAll(marker).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(readAll(marker), (bin / "gnome-session-properties").string() + "\n");
}

}  // namespace
