#include "platform/linux/web/script_call.h"

#include <gtest/gtest.h>

using namespace corvid;
using namespace corvid::linux_platform;

TEST(ScriptWrapper, UnpacksNamedArgumentsAroundTheUnchangedBody) {
  auto built = buildScriptWrapper("return a + b; // trailing comment", Json{{"a", 1}, {"b", true}});
  ASSERT_TRUE(built.wrapper) << built.error;
  const auto& source = built.wrapper->source;
  EXPECT_NE(source.find("(async function (a, b) {\nreturn a + b; // trailing comment\n})"),
            std::string::npos);
  EXPECT_NE(source.find("__corvidArgs.a, __corvidArgs.b"), std::string::npos);
  EXPECT_EQ(source.find("eval"), std::string::npos);
  EXPECT_EQ(source.find("Function("), std::string::npos);
  EXPECT_EQ(Json::parse(built.wrapper->argumentsJson), (Json{{"a", 1}, {"b", true}}));

  auto none = buildScriptWrapper("return 1", Json());
  ASSERT_TRUE(none.wrapper);
  EXPECT_EQ(none.wrapper->argumentsJson, "{}");
}

TEST(ScriptWrapper, RefusesArgumentNamesThatAreNotParameters) {
  for (const char* bad : {"", "1a", "a-b", "a b", "class", "await", "this", "arguments", "x;alert(1)", "é"}) {
    auto built = buildScriptWrapper("return 1", Json{{bad, 1}});
    EXPECT_FALSE(built.wrapper) << bad;
    EXPECT_FALSE(built.error.empty());
  }
  EXPECT_FALSE(buildScriptWrapper("return 1", Json::array({1})).wrapper);
  for (const char* good : {"a", "_x", "$el", "selector", "limit2", "__proto__"}) {
    EXPECT_TRUE(isScriptParameterName(good)) << good;
  }
}

TEST(ScriptJson, LoneSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(*parseScriptJson(R"({"a":[1,2.5,null,"x"]})"), Json::parse(R"({"a":[1,2.5,null,"x"]})"));
  // A high surrogate cut off from its partner, a stray low one, a proper
  // pair and an escaped backslash before "ud800" (which is no escape).
  auto v = parseScriptJson(R"(["ab\ud83d", "\udc00x", "\ud83d\ude00", "\\ud800"])");
  ASSERT_TRUE(v);
  EXPECT_EQ((*v)[0], "ab\xEF\xBF\xBD");
  EXPECT_EQ((*v)[1], "\xEF\xBF\xBDx");
  EXPECT_EQ((*v)[2], "\xF0\x9F\x98\x80");
  EXPECT_EQ((*v)[3], "\\ud800");
  EXPECT_FALSE(parseScriptJson("{not json"));
}
