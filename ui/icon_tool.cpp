// Writes Corvid's icons as SVG files:
//   corvid_icon_tool app-icon FILE     the full-colour application icon
//   corvid_icon_tool tray-icons FOLDER both tray icons in an icon theme folder
#include <cstdio>
#include <string_view>

#include "ui/tray_icon.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s app-icon FILE | tray-icons FOLDER\n", argv[0]);
    return 2;
  }
  std::string_view what = argv[1];
  bool ok = false;
  if (what == "app-icon") {
    ok = corvid::writeFileAtomically(argv[2], corvid::appIconSVG());
  } else if (what == "tray-icons") {
    ok = corvid::writeTrayIcons(argv[2]);
  } else {
    std::fprintf(stderr, "unknown icon kind: %s\n", argv[1]);
    return 2;
  }
  if (!ok) std::fprintf(stderr, "could not write %s\n", argv[2]);
  return ok ? 0 : 1;
}
