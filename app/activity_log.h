// The activity log file: the user's plain-text diary of notable events.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "base/log.h"
#include "base/time.h"

namespace corvid {

// Appends one line per call to a file: the local time as "MM-dd HH:mm:ss",
// one space, the message unchanged (line feeds inside it are kept), one line
// feed. A file that has grown past `kMaxBytes` is deleted before the next
// line, so the file holds at most about one megabyte and the first line after
// a deletion starts a new file. Every line opens, appends to and closes the
// file: nothing is buffered, so the file is complete whenever the user looks.
// Every file-system failure is swallowed; the line is then lost.
//
// Main thread only. The time stamp uses the process's time zone (TZ).
class FileActivityLog : public ActivityLog {
 public:
  static constexpr std::uintmax_t kMaxBytes = 1'000'000;

  // Creates the folder of `file` (with its parents) when it is missing.
  FileActivityLog(std::filesystem::path file, const Clock& clock);

  void log(std::string_view message) override;

  // Where the lines go (shown by the main window's reveal button).
  const std::filesystem::path& path() const { return path_; }

  // The time stamp of a line, "MM-dd HH:mm:ss" in local time.
  static std::string timeStamp(Time t);

 private:
  bool append(const std::string& line);

  std::filesystem::path path_;
  const Clock& clock_;
};

}  // namespace corvid
