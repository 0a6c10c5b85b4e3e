#include "platform/linux/glib/paths.h"

#include <glib.h>

namespace corvid::linux_platform {

AppPaths appPaths() {
  const std::filesystem::path config = g_get_user_config_dir();
  AppPaths p;
  p.configDir = config / "corvid";
  p.settingsFile = p.configDir / "settings.ini";
  p.stateFile = p.configDir / "state.ini";
  p.activityLog = std::filesystem::path(g_get_user_state_dir()) / "corvid" / "watch.log";
  p.outboxFile = std::filesystem::path(g_get_user_state_dir()) / "corvid" / "outbox.json";
  p.webData = std::filesystem::path(g_get_user_data_dir()) / "corvid" / "web";
  p.webCache = std::filesystem::path(g_get_user_cache_dir()) / "corvid" / "web";
  p.autostartDir = config / "autostart";
  return p;
}

}  // namespace corvid::linux_platform
