#include <gtest/gtest.h>

#include "webbridge/messages.h"

using namespace webbridge;
using namespace std::chrono_literals;

namespace {

const Time kNow = Time(1'700'000'000s);

Json snapshotBody() {
  return Json{{"v", 1},
              {"type", "snapshot"},
              {"seq", 3},
              {"ts", 1500},
              {"href", "http://127.0.0.1:8080/page"},
              {"selector", "#t"},
              {"html", "<p>x</p>"},
              {"truncated", false},
              {"text", "x"},
              {"fields", {{"title", {"A", "B"}}}},
              {"rows", {{"items", {{{"name", "n1"}}, {{"name", "n2"}, {"id", "2"}}}}}}};
}

}  // namespace

TEST(MessageDecoding, SnapshotWithEveryKey) {
  auto event = decodeMessage(snapshotBody(), kNow);
  ASSERT_TRUE(event);
  ASSERT_EQ(event->kind(), BridgeEvent::Kind::snapshot);
  const DOMSnapshot& s = *event->capture();
  EXPECT_EQ(s.selector, "#t");
  EXPECT_EQ(s.html, "<p>x</p>");
  EXPECT_EQ(s.text, "x");
  EXPECT_EQ(s.sequence, 3);
  EXPECT_EQ(s.timestamp, Time(1500ms));
  EXPECT_EQ(s.pageURL, "http://127.0.0.1:8080/page");
  EXPECT_EQ(s.value("title"), "A");
  EXPECT_EQ(s.value("none"), std::nullopt);
  ASSERT_EQ(s.rows.at("items").size(), 2u);
  EXPECT_EQ(s.rows.at("items")[1].at("id"), "2");
  EXPECT_FALSE(s.isTruncated);

  Json patch = snapshotBody();
  patch["type"] = "patch";
  patch["truncated"] = true;
  auto p = decodeMessage(patch, kNow);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->kind(), BridgeEvent::Kind::patch);
  EXPECT_TRUE(p->capture()->isTruncated);
}

TEST(MessageDecoding, MissingOrWrongKeys) {
  EXPECT_FALSE(decodeMessage(Json::array({1}), kNow));
  EXPECT_FALSE(decodeMessage(Json{{"type", 5}}, kNow));
  EXPECT_FALSE(decodeMessage(Json{{"type", "other"}, {"selector", "x"}}, kNow));

  Json noHtml = snapshotBody();
  noHtml.erase("html");
  EXPECT_FALSE(decodeMessage(noHtml, kNow));

  // No "seq" or "ts": sequence 0 and the time of receipt.
  Json bare = {{"type", "snapshot"}, {"selector", "#t"}, {"html", ""}};
  auto e = decodeMessage(bare, kNow);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->capture()->sequence, 0);
  EXPECT_EQ(e->capture()->timestamp, kNow);
  EXPECT_EQ(e->capture()->text, std::nullopt);
  EXPECT_EQ(e->capture()->pageURL, std::nullopt);

  // Wrong kinds fall back key by key; the other keys are still used.
  Json odd = snapshotBody();
  odd["fields"] = 5;
  odd["rows"] = {{"items", {{{"name", 1}}}}};
  odd["ts"] = "1500";
  odd["seq"] = 2.9;
  odd["href"] = "not a url";
  odd["text"] = 7;
  auto o = decodeMessage(odd, kNow);
  ASSERT_TRUE(o);
  EXPECT_TRUE(o->capture()->fields.empty());
  EXPECT_TRUE(o->capture()->rows.empty());
  EXPECT_EQ(o->capture()->timestamp, kNow);
  EXPECT_EQ(o->capture()->sequence, 2);
  EXPECT_EQ(o->capture()->pageURL, std::nullopt);
  EXPECT_EQ(o->capture()->text, std::nullopt);
  EXPECT_EQ(o->capture()->html, "<p>x</p>");

  // Numbers out of range saturate instead of wrapping.
  odd["seq"] = 1e30;
  odd["ts"] = 1e300;
  auto big = decodeMessage(odd, kNow);
  EXPECT_EQ(big->capture()->sequence, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(big->capture()->timestamp, kNow);
}

TEST(MessageDecoding, MissingAndCustom) {
  auto m = decodeMessage(Json{{"type", "missing"}, {"selector", "#t"}, {"seq", 4}}, kNow);
  ASSERT_TRUE(m);
  EXPECT_EQ(*m, BridgeEvent::missing("#t", 4));
  EXPECT_FALSE(decodeMessage(Json{{"type", "missing"}}, kNow));

  auto c = decodeMessage(Json{{"type", "custom"}, {"name", "hello"}, {"ts", 2000}}, kNow);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->message()->name, "hello");
  EXPECT_EQ(c->message()->payload, "null");
  EXPECT_EQ(c->message()->timestamp, Time(2s));
  EXPECT_EQ(c->message()->payloadObject(), Json(nullptr));
  EXPECT_FALSE(decodeMessage(Json{{"type", "custom"}, {"name", 5}}, kNow));

  auto five = decodeMessage(Json{{"type", "custom"}, {"name", "n"}, {"payload", 5}}, kNow);
  EXPECT_EQ(five->message()->payload, "5");
  EXPECT_EQ(five->message()->decode<int>(), 5);
  EXPECT_THROW(five->message()->decode<std::string>(), Json::type_error);

  auto object =
      decodeMessage(Json{{"type", "custom"}, {"name", "n"}, {"payload", {{"b", 1}, {"a", "x"}}}}, kNow);
  EXPECT_EQ(object->message()->payload, R"({"a":"x","b":1})");
  auto decoded = object->message()->decode<std::map<std::string, Json>>();
  EXPECT_EQ(decoded.at("a"), "x");
  EXPECT_EQ(object->message()->decode<int>([](std::string_view text) { return int(text.size()); }), 15);

  CustomMessage broken{.name = "n", .payload = "{"};
  EXPECT_EQ(broken.payloadObject(), std::nullopt);
  EXPECT_THROW(broken.decode<int>(), Json::parse_error);
}

TEST(PostedJson, LoneSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(parsePostedJson(R"({"t":"a\ud83d"})")->at("t"), "a\xEF\xBF\xBD");
  EXPECT_EQ(parsePostedJson(R"(["\ude00x","\ud83d\ude00","\\ud83d"])"),
            Json({"\xEF\xBF\xBDx", "\xF0\x9F\x98\x80", "\\ud83d"}));
  EXPECT_EQ(parsePostedJson("{"), std::nullopt);
}
