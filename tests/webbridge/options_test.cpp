// The options as the observer script gets them. What the script does with
// each rule is tested inside a real web view (engine_test.cpp).
#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

#include "webbridge/bridge_core.h"

using namespace webbridge;

TEST(Options, NumbersTheScriptCannotUseAreClampedOrRefused) {
  auto throttleMs = [](double seconds) {
    return WebBridgeOptions("x", true, seconds).jsonObject()["throttleMs"].get<std::int64_t>();
  };
  EXPECT_EQ(throttleMs(0.2999), 299);
  EXPECT_EQ(throttleMs(-1), 0);
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  EXPECT_THROW(WebBridgeOptions("x", true, kNaN), std::invalid_argument);
  EXPECT_THROW(WebBridgeOptions("x", true, 1e16), std::invalid_argument);  // 1e19 ms

  // Made invalid afterwards, the options still encode numbers the page can
  // use, but no bridge is made from them.
  WebBridgeOptions options("#t");
  options.maxHTMLLength = -5;
  options.throttle = kNaN;
  EXPECT_EQ(options.jsonObject()["maxLength"], 0);
  EXPECT_EQ(options.jsonObject()["throttleMs"], 0);
  EXPECT_THROW(WebBridgeCore{options}, std::invalid_argument);
  EXPECT_EQ(RowRule("li", {}, -1).jsonObject()["limit"], 0);
  EXPECT_EQ(FieldRule("a", FieldRule::Value::text(), false, -3).jsonObject()["index"], 0);
}

TEST(Options, ObserverScriptGetsThemOnceAsData) {
  WebBridgeOptions a("__WEBBRIDGE_OPTIONS__");
  std::string source = a.observerScriptSource();
  EXPECT_NE(source.find("var options = " + a.jsonObject().dump() + ";"), std::string::npos);
  EXPECT_EQ(source.find("__WEBBRIDGE_OPTIONS__;"), std::string::npos);
  // Text that is not UTF-8 cannot be serialized: the page gets "{}".
  EXPECT_NE(WebBridgeOptions("\xff").observerScriptSource().find("var options = {};"), std::string::npos);
}
