#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <fstream>

#include "platform/linux/glib/key_file_settings.h"
#include "platform_glib/test_support.h"

using namespace corvid;
using namespace corvid::linux_platform;
using namespace corvid::testing;
namespace fs = std::filesystem;

namespace {

unsigned modeOf(const fs::path& p) {
  struct stat st {};
  EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
  return st.st_mode & 07777;
}

std::size_t filesIn(const fs::path& dir) {
  return std::distance(fs::directory_iterator(dir), fs::directory_iterator());
}

// Pairings as the push client writes them, with what key files must escape:
// line breaks, quotes, backslashes, '=', '[', '#', leading and trailing blanks.
const std::string kPairings =
    "  [\n  {\n    \"secret\": \"a=b\\\\c\\\"d\",\n    \"deviceModel\": \"김민지의 iPhone\",\n"
    "    \"environment\": \"production\",\t\n    \"pairedAt\": 786000000.25\n  }\n]\r\n# not a comment \t";

class SettingsTest : public ::testing::Test {
 protected:
  TempDir dir_{"corvid-settings"};
  fs::path file_ = dir_ / "corvid" / "settings.ini";
  MemoryLog log_;
};

TEST_F(SettingsTest, EveryKindOfValueSurvivesARestartExactly) {
  {
    KeyFileSettings s(file_, log_, log_);
    EXPECT_FALSE(s.boolValue("everWatched"));
    EXPECT_FALSE(fs::exists(file_));  // reading writes nothing
    s.setBool("includeSnippet", false);
    s.setBool("everWatched", true);
    s.setString("pushServerURL", "https://relay.example.invalid:8443/");
    s.setString("pushPairings", kPairings);
  }
  EXPECT_EQ(modeOf(file_.parent_path()), 0700u);
  EXPECT_EQ(modeOf(file_), 0600u);

  KeyFileSettings again(file_, log_, log_);
  EXPECT_EQ(again.boolValue("includeSnippet"), false);
  EXPECT_EQ(again.boolValue("everWatched"), true);
  EXPECT_EQ(again.stringValue("pushServerURL"), "https://relay.example.invalid:8443/");
  EXPECT_EQ(again.stringValue("pushPairings"), kPairings);
  again.remove("pushPairings");
  EXPECT_FALSE(KeyFileSettings(file_, log_, log_).contains("pushPairings"));
  EXPECT_TRUE(log_.systemLines.empty());
  EXPECT_EQ(filesIn(file_.parent_path()), 1u);  // no temporaries left
}

TEST_F(SettingsTest, OnlyTrueAndFalseAreBooleans) {
  fs::create_directories(file_.parent_path());
  std::ofstream(file_) << "# kept by hand\n[Corvid]\nincludeSnippet=yes\neverWatched=1\nloggedOutByUser=\n"
                          "pushServerURL=true\nlatin1=caf\xe9\n[Other]\nkeep=me\n";
  chmod(file_.c_str(), 0644);
  KeyFileSettings s(file_, log_, log_);
  EXPECT_EQ(modeOf(file_), 0600u);  // tightened at start: the file holds secrets
  for (const char* key : {"includeSnippet", "everWatched", "loggedOutByUser"}) {
    EXPECT_TRUE(s.contains(key)) << key;
    EXPECT_EQ(s.boolValue(key), std::nullopt) << key;
  }
  EXPECT_FALSE(s.contains("absent"));
  EXPECT_EQ(s.boolValue("pushServerURL"), true);
  EXPECT_EQ(s.stringValue("latin1"), std::nullopt);  // not UTF-8: no text
  EXPECT_FALSE(s.contains("keep"));                  // other groups are not ours...
  s.setBool("everWatched", true);
  EXPECT_NE(readFile(file_).find("[Other]\nkeep=me"), std::string::npos);  // ...but survive our writes
}

TEST_F(SettingsTest, AnUnreadableFileIsMovedAsideAndTheStoreStartsEmpty) {
  fs::create_directories(file_.parent_path());
  const std::string broken = "[Corvid]\neverWatched=true\nthis line is no key\n";
  std::ofstream(file_) << broken;
  KeyFileSettings s(file_, log_, log_);
  EXPECT_FALSE(s.contains("everWatched"));
  const fs::path aside = s.movedAside();
  EXPECT_EQ(aside.parent_path(), file_.parent_path());
  EXPECT_EQ(readFile(aside), broken);
  ASSERT_EQ(log_.lines.size(), 1u);
  EXPECT_EQ(log_.lines[0], "app: settings file unreadable, moved to " + aside.filename().string());
  EXPECT_EQ(log_.systemLines.size(), 1u);

  s.setBool("everWatched", false);
  EXPECT_EQ(readFile(aside), broken);
  EXPECT_EQ(KeyFileSettings(file_, log_, log_).boolValue("everWatched"), false);

  // A second bad file (a key before any group) gets a name of its own.
  std::ofstream(file_, std::ios::trunc) << "pushServerURL=https://x.invalid\n[Corvid]\n";
  EXPECT_FALSE(KeyFileSettings(file_, log_, log_).contains("pushServerURL"));
  EXPECT_EQ(filesIn(file_.parent_path()), 2u);  // both moved aside, no settings.ini yet
}

TEST_F(SettingsTest, AFailingWriteLeavesTheOldFileWholeAndKeepsTheValueInMemory) {
  KeyFileSettings s(file_, log_, log_);
  s.setString("pushServerURL", "https://one.invalid");
  const std::string before = readFile(file_);

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

  EXPECT_EQ(readFile(file_), before);
  EXPECT_EQ(filesIn(file_.parent_path()), 1u);
  ASSERT_EQ(log_.systemLines.size(), 1u);
  EXPECT_NE(log_.systemLines[0].find("settings: cannot write"), std::string::npos) << log_.systemLines[0];

  // The next write that succeeds carries the earlier change along.
  s.setBool("everWatched", true);
  EXPECT_EQ(KeyFileSettings(file_, log_, log_).stringValue("pushPairings"), std::string(100'000, 'p'));
}

}  // namespace
