// The settings store as a GLib key file ($XDG_CONFIG_HOME/corvid/settings.ini).
#pragma once

#include <glib.h>

#include <filesystem>

#include "base/log.h"
#include "base/settings.h"

namespace corvid::linux_platform {

// All keys live in the group [Corvid]. Booleans are written as true/false,
// texts with the key file's escapes (\n, \\, \s ...), so multi-line JSON
// such as "pushPairings" comes back byte for byte.
//
// The file is read once, at construction. The process then works on that
// copy in memory: reads answer what was last set in this process, and every
// change rewrites the whole file from the copy. A write that fails (full
// disk, read-only folder) is reported to the system log and dropped; the
// value stays in memory for this run, and the next successful write carries
// it to the file too. Edits made to the file by hand while Corvid runs are
// overwritten by its next change.
//
// Every write replaces the file atomically (temporary file in the same
// folder, then rename), so a crash or a failing write never leaves a
// partial file. The file holds the relay secrets: it and its temporary file
// are created with mode 0600, its folder with 0700.
//
// A file that exists but cannot be read or parsed is never overwritten: it
// is renamed to "settings.ini.bad-YYYYMMDD-HHMMSS" (local time) next to the
// original, both logs get a line, and the store starts empty. If even the
// rename fails, the store keeps its values in memory only for this run.
class KeyFileSettings : public Settings {
 public:
  static constexpr const char* kGroup = "Corvid";

  KeyFileSettings(std::filesystem::path file, SystemLog& systemLog, ActivityLog& activityLog);
  ~KeyFileSettings() override;
  KeyFileSettings(const KeyFileSettings&) = delete;
  KeyFileSettings& operator=(const KeyFileSettings&) = delete;

  bool contains(std::string_view key) const override;
  // Nothing when absent or when the text is not exactly "true" or "false".
  std::optional<bool> boolValue(std::string_view key) const override;
  // Nothing when absent or when the stored text does not decode as UTF-8.
  std::optional<std::string> stringValue(std::string_view key) const override;
  void setBool(std::string_view key, bool value) override;
  void setString(std::string_view key, std::string_view value) override;
  void remove(std::string_view key) override;

  const std::filesystem::path& path() const { return path_; }
  // Where an unreadable file was moved at start; empty when none was.
  const std::filesystem::path& movedAside() const { return movedAside_; }

 private:
  void load();
  bool validKey(std::string_view key) const;
  void save();

  std::filesystem::path path_;
  SystemLog& systemLog_;
  ActivityLog& activityLog_;
  GKeyFile* file_;
  std::filesystem::path movedAside_;
  bool persist_ = true;
};

}  // namespace corvid::linux_platform
