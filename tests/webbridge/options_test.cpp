#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

#include "webbridge/options.h"

using namespace webbridge;
using Value = FieldRule::Value;

TEST(FieldRuleEncoding, KeysAppearOnlyWhenTheyApply) {
  EXPECT_EQ(FieldRule("a", Value::attribute("href"), false, -3).jsonObject().dump(),
            R"({"all":false,"attribute":"href","index":0,"selector":"a","value":"attr"})");
  EXPECT_EQ(FieldRule(".t", Value::text()).jsonObject().dump(),
            R"({"all":false,"index":0,"selector":".t","value":"text"})");
  EXPECT_EQ(FieldRule(".p", Value::position(), true, 2, "li", true).jsonObject().dump(),
            R"({"all":true,"ancestor":"li","index":2,"preceding":true,"selector":".p","value":"position"})");
  EXPECT_EQ(FieldRule("b", Value::style("color")).jsonObject().dump(),
            R"({"all":false,"attribute":"color","index":0,"selector":"b","value":"style"})");
  EXPECT_EQ(FieldRule("", Value::html()).jsonObject()["value"], "html");
}

TEST(RowRuleEncoding, NegativeLimitMeansNoLimit) {
  RowRule rule("li", {{"name", FieldRule("span", Value::text())}}, -1);
  EXPECT_EQ(
      rule.jsonObject().dump(),
      R"({"fields":{"name":{"all":false,"index":0,"selector":"span","value":"text"}},"limit":0,"selector":"li"})");
  EXPECT_EQ(RowRule("li", {}, 7).jsonObject()["limit"], 7);
}

TEST(OptionsEncoding, ElevenKeysWithClampedNumbers) {
  WebBridgeOptions options("#t");
  options.omit = {};
  Json json = options.jsonObject();
  EXPECT_EQ(json.size(), 11u);
  EXPECT_EQ(json.dump(),
            R"({"attributes":false,"characterData":true,"fields":{},"includeHTML":true,"includeText":false,)"
            R"("maxLength":0,"observe":true,"omit":[],"rows":{},"selector":"#t","throttleMs":250})");

  auto throttleMs = [](double seconds) {
    return WebBridgeOptions("x", true, seconds).jsonObject()["throttleMs"].get<std::int64_t>();
  };
  EXPECT_EQ(throttleMs(0.3), 300);
  EXPECT_EQ(throttleMs(0.2999), 299);
  EXPECT_EQ(throttleMs(0.0004), 0);
  EXPECT_EQ(throttleMs(-1), 0);

  options.maxHTMLLength = -5;
  EXPECT_EQ(options.jsonObject()["maxLength"], 0);
  options.maxHTMLLength = 100;
  EXPECT_EQ(options.jsonObject()["maxLength"], 100);
  EXPECT_EQ(WebBridgeOptions("x").jsonObject()["omit"],
            Json({"script", "style", "noscript", "template", "link", "meta", "svg"}));
}

TEST(OptionsEncoding, ThrottleWithoutAnEncodingIsRejectedAtCreation) {
  EXPECT_THROW(WebBridgeOptions("x", true, std::numeric_limits<double>::quiet_NaN()), std::invalid_argument);
  EXPECT_THROW(WebBridgeOptions("x", true, std::numeric_limits<double>::infinity()), std::invalid_argument);
  EXPECT_THROW(WebBridgeOptions("x", true, 1e16), std::invalid_argument);  // 1e19 ms
  EXPECT_THROW(WebBridgeOptions("x", true, -1e16), std::invalid_argument);
  EXPECT_NO_THROW(WebBridgeOptions("x", true, 1e15));
  // Made invalid afterwards, it still encodes as a number the page can use.
  WebBridgeOptions options("x");
  options.throttle = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(options.hasValidThrottle());
  EXPECT_EQ(options.jsonObject()["throttleMs"], 0);
}

TEST(ObserverScript, OptionsAreWrittenInSortedCompactForm) {
  WebBridgeOptions a("#t");
  a.fields.emplace("zeta", FieldRule("z"));
  a.fields.emplace("alpha", FieldRule("a"));
  WebBridgeOptions b("#t");
  b.fields.emplace("alpha", FieldRule("a"));
  b.fields.emplace("zeta", FieldRule("z"));
  EXPECT_EQ(a, b);
  std::string source = a.observerScriptSource();
  EXPECT_EQ(source, b.observerScriptSource());
  EXPECT_EQ(source.find("__WEBBRIDGE_OPTIONS__"), std::string::npos);
  std::string json = a.jsonObject().dump();
  EXPECT_NE(source.find("var options = " + json + ";"), std::string::npos);
  EXPECT_LT(source.find("\"alpha\""), source.find("\"zeta\""));
  // A placeholder inside a value is data, not replaced again.
  WebBridgeOptions c("__WEBBRIDGE_OPTIONS__");
  EXPECT_NE(c.observerScriptSource().find(R"("selector":"__WEBBRIDGE_OPTIONS__")"), std::string::npos);
  // Text that is not UTF-8 cannot be serialized: the page gets "{}".
  WebBridgeOptions d("\xff");
  EXPECT_NE(d.observerScriptSource().find("var options = {};"), std::string::npos);
}

TEST(Options, ValueEquality) {
  EXPECT_EQ(Value::attribute("href"), Value::attribute("href"));
  EXPECT_NE(Value::attribute("href"), Value::style("href"));
  EXPECT_NE(FieldRule("a", Value::text(), false, 0, "li"), FieldRule("a", Value::text()));
  EXPECT_EQ(RowRule("li", {{"n", FieldRule("b")}}), RowRule("li", {{"n", FieldRule("b")}}));
  WebBridgeOptions a("x");
  WebBridgeOptions b("x");
  b.omit.push_back("iframe");
  EXPECT_NE(a, b);
  EXPECT_STREQ(propertyName(WebBridgePullFormat::innerText), "innerText");
}
