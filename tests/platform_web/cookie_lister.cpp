// Lists the cookies of a web data folder, one "name<TAB>domain<TAB>value"
// line each: the second process of the cookie persistence test.
#include <gtk/gtk.h>

#include <cstdio>

#include "platform/linux/glib/glib_loop.h"
#include "platform/linux/web/webkit_engine.h"

using namespace corvid;
using namespace corvid::linux_platform;

int main(int argc, char** argv) {
  if (argc != 3 || !gtk_init_check(nullptr, nullptr)) {
    std::fprintf(stderr, "usage: %s DATA_DIR CACHE_DIR (with a display)\n", argv[0]);
    return 2;
  }
  WebKitEngine engine({argv[1], argv[2]});
  auto view = engine.createWebKitView({}, 100, 100);
  for (const auto& c : runOnMainLoop(view->allCookies(), std::chrono::seconds(30))) {
    std::printf("%s\t%s\t%s\n", c.name.c_str(), c.domain.c_str(), c.value.c_str());
  }
  std::fflush(stdout);  // before any exit-time checker ends the process
  return 0;
}
