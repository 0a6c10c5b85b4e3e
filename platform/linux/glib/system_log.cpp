#include "platform/linux/glib/system_log.h"

#include <glib.h>

#include <string>

#include "base/task.h"

namespace corvid::linux_platform {

void GLibSystemLog::message(std::string_view text) {
  // GLib's text writer reads MESSAGE as a terminated string, so pass a copy.
  // The structured call never takes the text as a format string.
  const std::string message(text);
  const GLogField fields[] = {
      {"GLIB_DOMAIN", kDomain, -1},
      {"PRIORITY", "5", -1},
      {"CATEGORY", kCategory, -1},
      {"MESSAGE", message.c_str(), -1},
  };
  g_log_structured_array(G_LOG_LEVEL_MESSAGE, fields, G_N_ELEMENTS(fields));
}

void routeUnhandledTaskErrors(SystemLog& log) {
  setUnhandledTaskErrorHandler(
      [&log](const std::string& what) { log.message("task: unhandled exception: " + what); });
}

}  // namespace corvid::linux_platform
