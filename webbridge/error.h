// The library's own failure: a pull or send without a live web view. It is
// thrown as std::system_error whose code compares equal to
// WebBridgeError::noWebView. Failures of the web engine and of the JSON
// coder are passed on as they come.
#pragma once

#include <string>
#include <system_error>

namespace webbridge {

enum class WebBridgeError { noWebView = 1 };

const std::error_category& webBridgeCategory();

inline std::error_code make_error_code(WebBridgeError e) {
  return {static_cast<int>(e), webBridgeCategory()};
}

}  // namespace webbridge

template <>
struct std::is_error_code_enum<webbridge::WebBridgeError> : std::true_type {};
