#include "app/activity_log.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>

using namespace corvid;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

struct FixedClock : Clock {
  Time t;
  Time now() const override { return t; }
};

std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class ActivityLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A fixed zone without tzdata: Korean time, 9 hours east of UTC.
    const char* tz = getenv("TZ");
    if (tz) oldTz_ = tz;
    hadTz_ = tz != nullptr;
    setenv("TZ", "KST-9", 1);
    tzset();
    std::string tmpl = (fs::temp_directory_path() / "corvid-log-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    // 2026-03-02 23:59:58.750 UTC is 03-03 08:59:58 in Seoul.
    clock_.t = std::chrono::sys_days{std::chrono::year{2026} / 3 / 2} + 23h + 59min + 58s + 750ms;
  }
  void TearDown() override {
    if (hadTz_) {
      setenv("TZ", oldTz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }

  fs::path dir_;
  FixedClock clock_;
  std::string oldTz_;
  bool hadTz_ = false;
};

TEST_F(ActivityLogTest, CreatesTheFolderAndWritesTimeStampedLinesUnchanged) {
  fs::path file = dir_ / "state" / "corvid" / "watch.log";
  FileActivityLog log(file, clock_);
  EXPECT_TRUE(fs::is_directory(file.parent_path()));
  EXPECT_FALSE(fs::exists(file));  // nothing written before the first line

  log.log("app: launched 1.0 (1), setup complete, phones 1, login item 1");
  EXPECT_EQ(readAll(file), "03-03 08:59:58 app: launched 1.0 (1), setup complete, phones 1, login item 1\n");

  clock_.t += 2s;
  log.log("push: 보냄\nsecond line\\n");
  log.log("");
  EXPECT_EQ(readAll(file),
            "03-03 08:59:58 app: launched 1.0 (1), setup complete, phones 1, login item 1\n"
            "03-03 09:00:00 push: 보냄\nsecond line\\n\n"
            "03-03 09:00:00 \n");
}

TEST_F(ActivityLogTest, DeletesTheFileOnlyWhenItHoldsMoreThanOneMillionBytes) {
  fs::path file = dir_ / "watch.log";
  FileActivityLog log(file, clock_);
  const std::string line = "03-03 08:59:58 tick: ok\n";

  std::string full(1'000'000, 'x');
  std::ofstream(file, std::ios::binary) << full;
  log.log("tick: ok");
  EXPECT_EQ(readAll(file), full + line);  // exactly 1,000,000 bytes: kept and appended to

  // Now 1,000,024 bytes; an over-full file of 1,000,001 bytes behaves the same.
  log.log("tick: ok");
  EXPECT_EQ(readAll(file), line);

  std::ofstream(file, std::ios::binary | std::ios::trunc) << std::string(1'000'001, 'y');
  log.log("tick: ok");
  EXPECT_EQ(readAll(file), line);
}

TEST_F(ActivityLogTest, RecreatesAFolderRemovedWhileRunning) {
  fs::path file = dir_ / "logs" / "watch.log";
  FileActivityLog log(file, clock_);
  log.log("a");
  fs::remove_all(dir_ / "logs");
  log.log("b");
  EXPECT_EQ(readAll(file), "03-03 08:59:58 b\n");
}

TEST_F(ActivityLogTest, SwallowsEveryFailure) {
  // These hold for root too: a folder that is a file, and a log path that is a folder.
  std::ofstream(dir_ / "plain") << "not a folder";
  FileActivityLog underFile(dir_ / "plain" / "watch.log", clock_);
  EXPECT_NO_THROW(underFile.log("lost"));
  EXPECT_EQ(readAll(dir_ / "plain"), "not a folder");

  fs::create_directories(dir_ / "watch.log" / "inside");
  FileActivityLog isFolder(dir_ / "watch.log", clock_);
  EXPECT_NO_THROW(isFolder.log("lost"));
  EXPECT_TRUE(fs::is_directory(dir_ / "watch.log" / "inside"));

  FileActivityLog empty(fs::path(), clock_);
  EXPECT_NO_THROW(empty.log("lost"));
}

}  // namespace
