// Files that must survive a crash or a power cut: atomic replacement, and
// unreadable files kept aside for the user rather than overwritten.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/durable_file.h"
#include "base/log.h"

namespace corvid::linux_platform {

// Replaces `path` with `data`: a temporary file in the same folder, flushed
// to disk, then renamed over the old one, so the file holds either the old
// or the new text after a crash. File and temporary file get mode 0600, a
// missing folder 0700. Answers why it failed, or nothing.
std::optional<std::string> replaceFileAtomically(const std::filesystem::path& path, std::string_view data);

// Renames an unusable file to "<name>.bad-YYYYMMDD-HHMMSS" (local time; a
// number follows when that name is taken). Answers the new path, or
// nothing with the reason in `error`.
std::optional<std::filesystem::path> moveFileAside(const std::filesystem::path& path, std::string* error);

// One JSON (or other text) file of Corvid's own state, such as
// $XDG_STATE_HOME/corvid/outbox.json. A file that cannot be read, or whose
// text its owner cannot use, is moved aside with a line in both logs
// ("app: <name> file unreadable, moved to <file>"); should even that fail,
// nothing more is written to it in this run.
class StateFile : public DurableFile {
 public:
  // `name` names the file in log lines ("outbox").
  StateFile(std::filesystem::path path, std::string name, SystemLog& systemLog, ActivityLog& activityLog);

  std::optional<std::string> read() override;
  void write(std::string_view text) override;
  void keepAside(std::string_view why) override;

  const std::filesystem::path& path() const { return path_; }
  const std::filesystem::path& movedAside() const { return movedAside_; }

 private:
  std::filesystem::path path_;
  std::string name_;
  SystemLog& systemLog_;
  ActivityLog& activityLog_;
  std::filesystem::path movedAside_;
  bool persist_ = true;
};

}  // namespace corvid::linux_platform
