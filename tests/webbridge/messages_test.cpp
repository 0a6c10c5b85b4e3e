#include <gtest/gtest.h>

#include "webbridge/messages.h"

using namespace webbridge;
using namespace std::chrono_literals;

namespace {
const Time kNow = Time(1'700'000'000s);
}  // namespace

TEST(MessageDecoding, SnapshotsFallBackKeyByKey) {
  EXPECT_FALSE(decodeMessage(Json::array({1}), kNow));
  EXPECT_FALSE(decodeMessage(Json{{"type", "other"}, {"selector", "x"}}, kNow));
  EXPECT_FALSE(decodeMessage(Json{{"type", "snapshot"}, {"selector", "#t"}}, kNow));  // no "html"

  // Wrong kinds fall back key by key; the other keys are still used.
  Json odd = Json::parse(R"({"type": "patch", "selector": "#t", "html": "<p>x</p>", "seq": 2.9, "ts": "1500",
    "href": "no url", "text": 7, "fields": 5, "truncated": true, "rows": {"items": [{"name": 1}]}})");
  const DOMSnapshot fallback{
      .selector = "#t", .html = "<p>x</p>", .sequence = 2, .timestamp = kNow, .isTruncated = true};
  EXPECT_EQ(decodeMessage(odd, kNow), BridgeEvent::patch(fallback));

  // Numbers out of range saturate instead of wrapping.
  odd["seq"] = 1e30;
  odd["ts"] = 1e300;
  auto big = decodeMessage(odd, kNow);
  EXPECT_EQ(big->capture()->sequence, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(big->capture()->timestamp, kNow);
}

TEST(MessageDecoding, CustomPayloadsAndTimes) {
  Json body = {{"type", "custom"}, {"name", "n"}, {"ts", 2000}, {"payload", {{"b", 1}, {"a", "x"}}}};
  const CustomMessage m = *decodeMessage(body, kNow)->message();
  EXPECT_EQ(m.timestamp, Time(2s));
  EXPECT_EQ(m.payload, R"({"a":"x","b":1})");
  EXPECT_EQ(CustomMessage{.payload = "{"}.payloadObject(), std::nullopt);
}

TEST(PostedJson, LoneSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(parsePostedJson(R"({"t":"a\ud83d"})")->at("t"), "a\xEF\xBF\xBD");
  EXPECT_EQ(parsePostedJson(R"(["\ude00x","\ud83d\ude00","\\ud83d"])"),
            Json({"\xEF\xBF\xBDx", "\xF0\x9F\x98\x80", "\\ud83d"}));
  EXPECT_EQ(parsePostedJson("{"), std::nullopt);
}
