// Diagnostics: the activity log and the system log.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvid {

// The activity log: the user's plain-text diary of notable events, one
// time-stamped line per call. Messages are complete lines without time
// stamp or line feed, with a short lower-case prefix ("tick: ", "push: ").
// Logging never fails towards the caller.
class ActivityLog {
 public:
  virtual ~ActivityLog() = default;
  virtual void log(std::string_view message) = 0;
};

// A few developer messages for the system log (journald on Linux), kept out
// of the activity log.
class SystemLog {
 public:
  virtual ~SystemLog() = default;
  virtual void message(std::string_view text) = 0;
};

// Both logs in memory, for tests.
class MemoryLog : public ActivityLog, public SystemLog {
 public:
  void log(std::string_view m) override { lines.emplace_back(m); }
  void message(std::string_view m) override { systemLines.emplace_back(m); }
  std::vector<std::string> lines;
  std::vector<std::string> systemLines;
};

}  // namespace corvid
