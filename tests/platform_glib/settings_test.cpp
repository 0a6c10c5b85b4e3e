#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <sstream>

#include "platform/linux/glib/key_file_settings.h"
#include "platform/linux/glib/paths.h"
#include "platform_glib/temp_home.h"

using namespace corvid;
using namespace corvid::linux_platform;
namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

unsigned modeOf(const fs::path& p) {
  struct stat st {};
  EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
  return st.st_mode & 07777;
}

std::vector<std::string> entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Pairings as the push client writes them, with what key files must escape:
// line breaks, quotes, backslashes, '=', '[', '#', leading and trailing blanks.
const std::string kPairings =
    "  [\n  {\n    \"secret\": \"a=b\\\\c\\\"d\",\n    \"deviceModel\": \"김민지의 iPhone\",\n"
    "    \"environment\": \"production\",\t\n    \"pairedAt\": 786000000.25\n  }\n]\r\n# not a comment \t";

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = corvid::testing::freshFolder("settings");
    file_ = dir_ / "corvid" / "settings.ini";
  }
  void TearDown() override { corvid::testing::removeTree(dir_); }

  fs::path dir_, file_;
  MemoryLog log_;
};

TEST(AppPaths, FollowTheXdgFolders) {
  const fs::path root = corvid::testing::tempRoot();
  AppPaths p = appPaths();
  EXPECT_EQ(p.settingsFile, root / "config/corvid/settings.ini");
  EXPECT_EQ(p.stateFile, root / "config/corvid/state.ini");
  EXPECT_EQ(p.activityLog, root / "state/corvid/watch.log");
  EXPECT_EQ(p.webData, root / "data/corvid/web");
  EXPECT_EQ(p.webCache, root / "cache/corvid/web");
  EXPECT_EQ(p.autostartDir, root / "config/autostart");
}

TEST_F(SettingsTest, EveryKindOfValueSurvivesARestartExactly) {
  {
    KeyFileSettings s(file_, log_, log_);
    EXPECT_FALSE(s.contains("everWatched"));
    EXPECT_FALSE(s.boolValue("everWatched"));
    EXPECT_FALSE(s.stringValue("pushServerURL"));
    EXPECT_FALSE(fs::exists(file_));  // reading writes nothing

    s.setBool("includeSnippet", false);
    s.setBool("everWatched", true);
    s.setBool("loggedOutByUser", false);
    s.setString("pushServerURL", "https://relay.example.invalid:8443/");
    s.setString("pushPairings", kPairings);
    EXPECT_EQ(s.stringValue("pushPairings"), kPairings);
  }
  EXPECT_EQ(modeOf(file_.parent_path()), 0700u);
  EXPECT_EQ(modeOf(file_), 0600u);
  const std::string text = readAll(file_);
  EXPECT_EQ(text.rfind("[Corvid]\n", 0), 0u) << text;
  EXPECT_NE(text.find("\nincludeSnippet=false\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\neverWatched=true\n"), std::string::npos) << text;

  KeyFileSettings again(file_, log_, log_);
  EXPECT_EQ(again.boolValue("includeSnippet"), false);
  EXPECT_EQ(again.boolValue("everWatched"), true);
  EXPECT_EQ(again.boolValue("loggedOutByUser"), false);
  EXPECT_EQ(again.stringValue("pushServerURL"), "https://relay.example.invalid:8443/");
  EXPECT_EQ(again.stringValue("pushPairings"), kPairings);

  again.remove("pushPairings");
  again.remove("pushPairings");  // absent: nothing to do
  EXPECT_FALSE(again.contains("pushPairings"));
  EXPECT_FALSE(KeyFileSettings(file_, log_, log_).contains("pushPairings"));
  EXPECT_TRUE(log_.systemLines.empty());
  EXPECT_TRUE(log_.lines.empty());
  EXPECT_EQ(entries(file_.parent_path()), std::vector<std::string>{"settings.ini"});  // no temporaries left
}

TEST_F(SettingsTest, OnlyTrueAndFalseAreBooleans) {
  fs::create_directories(file_.parent_path());
  std::ofstream(file_) << "# kept by hand\n[Corvid]\nincludeSnippet=yes\neverWatched=1\nloggedOutByUser=\n"
                          "pushServerURL=true\nlatin1=caf\xe9\n[Other]\nkeep=me\n";
  chmod(file_.c_str(), 0644);
  KeyFileSettings s(file_, log_, log_);
  EXPECT_EQ(modeOf(file_), 0600u);  // tightened at start: the file holds secrets
  EXPECT_TRUE(s.contains("includeSnippet"));
  EXPECT_EQ(s.boolValue("includeSnippet"), std::nullopt);
  EXPECT_EQ(s.boolValue("everWatched"), std::nullopt);
  EXPECT_EQ(s.boolValue("loggedOutByUser"), std::nullopt);
  EXPECT_EQ(s.stringValue("loggedOutByUser"), "");
  EXPECT_EQ(s.boolValue("pushServerURL"), true);
  EXPECT_TRUE(s.contains("latin1"));
  EXPECT_EQ(s.stringValue("latin1"), std::nullopt);  // not UTF-8: no text
  EXPECT_FALSE(s.contains("keep"));                  // other groups are not ours...
  s.setBool("everWatched", true);
  const std::string text = readAll(file_);
  EXPECT_NE(text.find("# kept by hand"), std::string::npos);  // ...but survive our writes
  EXPECT_NE(text.find("[Other]\nkeep=me"), std::string::npos);
}

TEST_F(SettingsTest, AnUnreadableFileIsMovedAsideAndTheStoreStartsEmpty) {
  fs::create_directories(file_.parent_path());
  const std::string broken = "[Corvid]\neverWatched=true\nthis line is no key\n";
  std::ofstream(file_) << broken;
  {
    KeyFileSettings s(file_, log_, log_);
    EXPECT_FALSE(s.contains("everWatched"));
    const fs::path aside = s.movedAside();
    EXPECT_EQ(aside.parent_path(), file_.parent_path());
    EXPECT_EQ(aside.filename().string().rfind("settings.ini.bad-", 0), 0u) << aside;
    EXPECT_EQ(readAll(aside), broken);
    ASSERT_EQ(log_.systemLines.size(), 1u);
    EXPECT_NE(log_.systemLines[0].find("moved to " + aside.string()), std::string::npos);
    ASSERT_EQ(log_.lines.size(), 1u);
    EXPECT_EQ(log_.lines[0], "app: settings file unreadable, moved to " + aside.filename().string());

    s.setBool("everWatched", false);
    EXPECT_EQ(readAll(aside), broken);
    EXPECT_EQ(KeyFileSettings(file_, log_, log_).boolValue("everWatched"), false);
  }
  // A key before any group; a second bad file gets a name of its own.
  std::ofstream(file_, std::ios::trunc) << "pushServerURL=https://x.invalid\n[Corvid]\n";
  KeyFileSettings s(file_, log_, log_);
  EXPECT_FALSE(s.contains("pushServerURL"));
  EXPECT_EQ(entries(file_.parent_path()).size(), 2u);  // two moved-aside files, no settings.ini yet
}

TEST_F(SettingsTest, AFailingWriteLeavesTheOldFileWholeAndKeepsTheValueInMemory) {
  KeyFileSettings s(file_, log_, log_);
  s.setString("pushServerURL", "https://one.invalid");
  const std::string before = readAll(file_);

  // A file-size limit makes the temporary file's write fail, for root too.
  struct sigaction ignore {
  }, old{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &old);
  struct rlimit oldLimit {};
  getrlimit(RLIMIT_FSIZE, &oldLimit);
  struct rlimit small = oldLimit;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  s.setString("pushPairings", std::string(100'000, 'p'));
  setrlimit(RLIMIT_FSIZE, &oldLimit);
  sigaction(SIGXFSZ, &old, nullptr);

  EXPECT_EQ(readAll(file_), before);
  EXPECT_EQ(entries(file_.parent_path()), std::vector<std::string>{"settings.ini"});
  ASSERT_EQ(log_.systemLines.size(), 1u);
  EXPECT_NE(log_.systemLines[0].find("settings: cannot write"), std::string::npos) << log_.systemLines[0];
  EXPECT_EQ(s.stringValue("pushPairings"), std::string(100'000, 'p'));

  // A path taken by a folder cannot be replaced either.
  fs::remove(file_);
  fs::create_directories(file_ / "x");
  s.setBool("everWatched", true);
  EXPECT_TRUE(fs::is_directory(file_ / "x"));
  EXPECT_EQ(log_.systemLines.size(), 2u);
  EXPECT_EQ(s.boolValue("everWatched"), true);

  // The next write that succeeds carries the earlier changes along.
  fs::remove_all(file_);
  s.setBool("loggedOutByUser", true);
  KeyFileSettings again(file_, log_, log_);
  EXPECT_EQ(again.stringValue("pushPairings"), std::string(100'000, 'p'));
  EXPECT_EQ(again.boolValue("everWatched"), true);
  EXPECT_EQ(modeOf(file_), 0600u);
}

TEST_F(SettingsTest, AReadOnlyFolderFailsTheWriteWithoutTouchingTheFile) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders; the size-limit case covers root";
  KeyFileSettings s(file_, log_, log_);
  s.setBool("everWatched", true);
  const std::string before = readAll(file_);
  chmod(file_.parent_path().c_str(), 0500);
  s.setBool("everWatched", false);
  chmod(file_.parent_path().c_str(), 0700);
  EXPECT_EQ(readAll(file_), before);
  EXPECT_EQ(entries(file_.parent_path()), std::vector<std::string>{"settings.ini"});
  EXPECT_EQ(log_.systemLines.size(), 1u);
}

}  // namespace
