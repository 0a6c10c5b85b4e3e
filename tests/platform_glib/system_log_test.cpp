#include <glib.h>
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/task.h"
#include "platform/linux/glib/system_log.h"

using namespace corvid;
using namespace corvid::linux_platform;

namespace {

std::vector<std::map<std::string, std::string>> captured;

GLogWriterOutput capture(GLogLevelFlags level, const GLogField* fields, gsize n, gpointer) {
  std::map<std::string, std::string> record;
  for (gsize i = 0; i < n; ++i) {
    const char* v = static_cast<const char*>(fields[i].value);
    record[fields[i].key] = fields[i].length < 0 ? std::string(v) : std::string(v, fields[i].length);
  }
  if (record["GLIB_DOMAIN"] != GLibSystemLog::kDomain) return g_log_writer_default(level, fields, n, nullptr);
  record["level"] = std::to_string(level & G_LOG_LEVEL_MASK);
  captured.push_back(record);
  return G_LOG_WRITER_HANDLED;
}

TEST(GLibSystemLog, WritesStructuredRecordsAndUnhandledTaskErrors) {
  g_log_set_writer_func(capture, nullptr, nullptr);  // once per process: this is the binary's only use
  GLibSystemLog log;
  log.message(std::string_view("reload: network back %s %n tail", 23));  // not a format; cut view

  routeUnhandledTaskErrors(log);
  auto failing = []() -> Task<void> {
    throw std::runtime_error("boom");
    co_return;
  };
  spawn(failing());  // runs to its end inside spawn
  setUnhandledTaskErrorHandler(nullptr);

  ASSERT_EQ(captured.size(), 2u);
  EXPECT_EQ(captured[0]["MESSAGE"], "reload: network back %s");
  EXPECT_EQ(captured[0]["CATEGORY"], "watcher");
  EXPECT_EQ(captured[0]["PRIORITY"], "5");
  EXPECT_EQ(captured[0]["level"], std::to_string(G_LOG_LEVEL_MESSAGE));
  EXPECT_EQ(captured[1]["MESSAGE"], "task: unhandled exception: boom");
  EXPECT_EQ(captured[1]["CATEGORY"], "watcher");
}

}  // namespace
