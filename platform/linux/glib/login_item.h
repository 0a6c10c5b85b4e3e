// Launch at login through XDG autostart ($XDG_CONFIG_HOME/autostart).
#pragma once

#include <filesystem>
#include <optional>

#include "watcher/platform.h"

namespace corvid::linux_platform {

// The login item is the desktop entry "corvid.desktop" in the autostart
// folder, whose Exec starts the running binary. Status:
//   notFound (3)         the running binary's path cannot be determined;
//   notRegistered (0)    no entry, an entry that cannot be parsed, or one
//                        that starts some other program (an old location);
//   requiresApproval (2) our entry, but the desktop has it switched off
//                        (Hidden=true or X-GNOME-Autostart-enabled=false,
//                        as the session settings tools write it);
//   enabled (1)          our entry, switched on.
// `registerItem` writes a fresh, enabled entry atomically (replacing a
// switched-off one); `unregisterItem` removes it (no entry is success).
// Errors carry the GError code (GFileError for file-system failures) and
// its text.
class XdgAutostartLoginItem : public LoginItem {
 public:
  static constexpr const char* kFileName = "corvid.desktop";

  // Defaults: the autostart folder of appPaths() and runningExecutable().
  XdgAutostartLoginItem();
  XdgAutostartLoginItem(std::filesystem::path autostartDir, std::optional<std::filesystem::path> executable);

  LoginItemStatus status() override;
  std::optional<LoginItemError> registerItem() override;
  std::optional<LoginItemError> unregisterItem() override;
  // Starts the desktop's startup-applications tool when one is installed,
  // else shows the autostart folder in the file manager. Returns at once;
  // a failure to start either is dropped.
  void openSettings() override;

  std::filesystem::path entryPath() const { return dir_ / kFileName; }

  // The running binary (/proc/self/exe); nothing when it cannot be read or
  // the file is gone. After a package upgrade the old binary shows as
  // "... (deleted)": then the path is used if a program is there again.
  static std::optional<std::filesystem::path> runningExecutable();
  // The Exec value that starts `program` with no arguments: the path in
  // double quotes with the desktop-entry escapes (before key-file escaping).
  static std::string execLine(const std::filesystem::path& program);

 private:
  std::filesystem::path dir_;
  std::optional<std::filesystem::path> exe_;
};

}  // namespace corvid::linux_platform
