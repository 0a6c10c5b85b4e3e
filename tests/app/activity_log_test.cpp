#include "app/activity_log.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>

#include "base/virtual_loop.h"

using namespace corvid;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

TEST(ActivityLog, TimeStampedLinesInAFileOfAtMostOneMillionBytesThatMayBeRemoved) {
  setenv("TZ", "KST-9", 1);  // a fixed zone without tzdata
  tzset();
  // 2026-03-02 23:59:58.750 UTC is 03-03 08:59:58 in Seoul.
  VirtualLoop clock{std::chrono::sys_days{std::chrono::year{2026} / 3 / 2} + 23h + 59min + 58s + 750ms};
  const fs::path dir = fs::temp_directory_path() / ("corvid-log-" + std::to_string(getpid()));
  const fs::path file = dir / "state" / "watch.log";
  FileActivityLog log(file, clock);
  log.log("app: launched 1.0 (1)");
  clock.advance(2s);
  log.log("push: 보냄\nsecond line\\n");
  EXPECT_EQ(readAll(file),
            "03-03 08:59:58 app: launched 1.0 (1)\n03-03 09:00:00 push: 보냄\nsecond line\\n\n");
  fs::remove_all(dir);  // removed while running
  log.log("b");
  EXPECT_EQ(readAll(file), "03-03 09:00:00 b\n");

  const std::string full(1'000'000, 'x'), line = "03-03 09:00:00 tick\n";
  std::ofstream(file, std::ios::binary) << full;
  log.log("tick");
  EXPECT_EQ(readAll(file), full + line);  // exactly 1,000,000 bytes: kept and appended to
  log.log("tick");
  EXPECT_EQ(readAll(file), line);  // more: deleted first
  EXPECT_NO_THROW(FileActivityLog(file / "under-a-file.log", clock).log("lost"));
  fs::remove_all(dir);
}
