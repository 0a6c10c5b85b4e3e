// Registers launch at login from wherever this program is run, as the
// application does: the autostart entry's Exec names the running binary.
//   corvid_autostart_probe AUTOSTART_FOLDER
#include <cstdio>

#include "platform/linux/glib/login_item.h"

using corvid::linux_platform::XdgAutostartLoginItem;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s AUTOSTART_FOLDER\n", argv[0]);
    return 2;
  }
  XdgAutostartLoginItem item(argv[1], XdgAutostartLoginItem::runningExecutable());
  if (auto error = item.registerItem()) {
    std::fprintf(stderr, "register failed: %d %s\n", error->code, error->description.c_str());
    return 1;
  }
  return item.status() == corvid::LoginItemStatus::enabled ? 0 : 1;
}
