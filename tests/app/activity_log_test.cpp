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
    if (const char* tz = getenv("TZ")) oldTz_ = tz;
    setenv("TZ", "KST-9", 1);
    tzset();
    std::string tmpl = (fs::temp_directory_path() / "corvid-log-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    // 2026-03-02 23:59:58.750 UTC is 03-03 08:59:58 in Seoul.
    clock_.t = std::chrono::sys_days{std::chrono::year{2026} / 3 / 2} + 23h + 59min + 58s + 750ms;
  }
  void TearDown() override {
    oldTz_ ? setenv("TZ", oldTz_->c_str(), 1) : unsetenv("TZ");
    tzset();
    fs::remove_all(dir_);
  }

  fs::path dir_;
  FixedClock clock_;
  std::optional<std::string> oldTz_;
};

TEST_F(ActivityLogTest, WritesTimeStampedLinesUnchangedAndRecreatesItsFolder) {
  fs::path file = dir_ / "state" / "corvid" / "watch.log";
  FileActivityLog log(file, clock_);
  EXPECT_FALSE(fs::exists(file));  // nothing written before the first line
  log.log("app: launched 1.0 (1)");
  clock_.t += 2s;
  log.log("push: 보냄\nsecond line\\n");
  EXPECT_EQ(readAll(file),
            "03-03 08:59:58 app: launched 1.0 (1)\n03-03 09:00:00 push: 보냄\nsecond line\\n\n");

  fs::remove_all(dir_ / "state");  // removed while running
  log.log("b");
  EXPECT_EQ(readAll(file), "03-03 09:00:00 b\n");
}

TEST_F(ActivityLogTest, DeletesTheFileOnlyWhenItHoldsMoreThanOneMillionBytes) {
  fs::path file = dir_ / "watch.log";
  FileActivityLog log(file, clock_);
  const std::string line = "03-03 08:59:58 tick: ok\n";
  std::string full(1'000'000, 'x');
  std::ofstream(file, std::ios::binary) << full;
  log.log("tick: ok");
  EXPECT_EQ(readAll(file), full + line);  // exactly 1,000,000 bytes: kept and appended to

  std::ofstream(file, std::ios::binary | std::ios::trunc) << std::string(1'000'001, 'y');
  log.log("tick: ok");
  EXPECT_EQ(readAll(file), line);
}

TEST_F(ActivityLogTest, SwallowsEveryFailure) {
  // These hold for root too: a folder that is a file, and a log path that is a folder.
  std::ofstream(dir_ / "plain") << "not a folder";
  EXPECT_NO_THROW(FileActivityLog(dir_ / "plain" / "watch.log", clock_).log("lost"));
  EXPECT_EQ(readAll(dir_ / "plain"), "not a folder");
  fs::create_directories(dir_ / "watch.log" / "inside");
  EXPECT_NO_THROW(FileActivityLog(dir_ / "watch.log", clock_).log("lost"));
  EXPECT_NO_THROW(FileActivityLog(fs::path(), clock_).log("lost"));
}

}  // namespace
