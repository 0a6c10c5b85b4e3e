#include "app/lifecycle.h"

namespace corvid {

const std::string& appVersionText() {
  static const std::string text = versionText(CORVID_SHORT_VERSION, CORVID_BUILD_NUMBER_TEXT);
  return text;
}

}  // namespace corvid
