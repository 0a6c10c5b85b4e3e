#include "webbridge/error.h"

namespace webbridge {

namespace {

class Category : public std::error_category {
 public:
  const char* name() const noexcept override { return "webbridge"; }
  std::string message(int code) const override {
    if (code == static_cast<int>(WebBridgeError::noWebView)) return "the bridge has no live web view";
    return "unknown WebBridge error";
  }
};

}  // namespace

const std::error_category& webBridgeCategory() {
  static const Category category;
  return category;
}

}  // namespace webbridge
