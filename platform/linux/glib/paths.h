// Where Corvid keeps its files, after the XDG base directory rules.
#pragma once

#include <filesystem>

namespace corvid::linux_platform {

struct AppPaths {
  std::filesystem::path configDir;     // $XDG_CONFIG_HOME/corvid
  std::filesystem::path settingsFile;  // $XDG_CONFIG_HOME/corvid/settings.ini
  std::filesystem::path stateFile;     // $XDG_CONFIG_HOME/corvid/state.ini (window frames)
  std::filesystem::path activityLog;   // $XDG_STATE_HOME/corvid/watch.log
  std::filesystem::path outboxFile;    // $XDG_STATE_HOME/corvid/outbox.json (notifications waiting)
  std::filesystem::path webData;       // $XDG_DATA_HOME/corvid/web (cookies, site data)
  std::filesystem::path webCache;      // $XDG_CACHE_HOME/corvid/web
  std::filesystem::path autostartDir;  // $XDG_CONFIG_HOME/autostart
};

// The folders as GLib reports them (XDG_* variables, else ~/.config,
// ~/.local/state, ~/.local/share, ~/.cache). GLib reads the variables once
// per process, on first use. Nothing is created here.
AppPaths appPaths();

}  // namespace corvid::linux_platform
