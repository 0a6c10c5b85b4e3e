// The push client's stored state: server URL, pairings and their encoding.
#include <gtest/gtest.h>

#include "push/push_fixture.h"

using namespace corvid;
using namespace corvid::testing;

using PushState = PushFixture;

TEST_F(PushState, StartsFromTheDefaultOriginWithoutWritingAnything) {
  PushClient& c = make();
  EXPECT_EQ(c.serverURL(), "https://relay.test");
  EXPECT_TRUE(c.pairings().empty());
  EXPECT_EQ(settings.writes(), 0);
  EXPECT_FALSE(settings.contains("pushServerURL"));

  c.setServerURL("https://relay.test");  // the first assignment writes, even the same text
  EXPECT_EQ(settings.stringValue("pushServerURL"), "https://relay.test");

  settings.setString("pushServerURL", "http://192.0.2.1:8080");
  EXPECT_EQ(make().serverURL(), "http://192.0.2.1:8080");
}

TEST_F(PushState, PairingsRoundTripThroughTheSettings) {
  PushClient& c = make();
  PushClient::Pairing a{"s-a", "iPhone15,2", "production",
                        Time{} + std::chrono::seconds(1772442000) + std::chrono::milliseconds(250)};
  c.setPairings({a, pairing("s-b")});
  auto stored = settings.stringValue("pushPairings");
  ASSERT_TRUE(stored);
  auto json = nlohmann::json::parse(*stored);
  ASSERT_TRUE(json.is_array());
  EXPECT_DOUBLE_EQ(json[0]["pairedAt"].get<double>(), 1772442000.25 - kReferenceDateUnixSeconds);
  const auto& loaded = make().pairings();
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_TRUE(loaded[0].secret == "s-a" && loaded[1].secret == "s-b");
  EXPECT_EQ(loaded[1].deviceModel, "iPhone15,2");
  EXPECT_EQ(loaded[1].environment, "production");
  // Seconds as a double keep the date to well under a microsecond.
  EXPECT_LT(std::chrono::abs(loaded[0].pairedAt - a.pairedAt), std::chrono::microseconds(1));
  EXPECT_EQ(loaded[1].pairedAt, pairing("s-b").pairedAt);
}

TEST_F(PushState, StoredPairingsDecodeAllOrNothing) {
  auto decode = [](const std::string& text) { return PushClient::decodePairings(text); };
  auto zero = decode(R"([{"secret":"s","deviceModel":"iPhone","environment":"development","pairedAt":0}])");
  ASSERT_TRUE(zero);
  ASSERT_EQ(zero->size(), 1u);
  EXPECT_EQ((*zero)[0].pairedAt, Time{} + std::chrono::seconds(978307200));  // 2001-01-01 00:00:00 UTC

  const char* malformed[] = {
      R"([{"secret":"s","deviceModel":"iPhone","environment":"development","pairedAt":0},
          {"secret":"t","deviceModel":"iPhone","environment":"development"}])",
      R"([{"secret":1,"deviceModel":"iPhone","environment":"development","pairedAt":0}])",
      R"([{"secret":"s","deviceModel":"iPhone","environment":"development","pairedAt":"0"}])",
      R"([17])",
      R"({"secret":"s"})",
      "not json",
  };
  for (const char* text : malformed) EXPECT_FALSE(decode(text)) << text;

  settings.setString("pushPairings", malformed[0]);
  EXPECT_TRUE(make().pairings().empty());

  // Dates beyond the clock's range are kept at its edge, not overflowed.
  auto far = decode(R"([{"secret":"s","deviceModel":"m","environment":"e","pairedAt":1e300}])");
  ASSERT_TRUE(far);
  EXPECT_GT((*far)[0].pairedAt, Time{} + std::chrono::hours(24 * 365 * 200));
}

TEST_F(PushState, AnotherServerURLClearsTheProblemsTheSameKeepsThem) {
  PushClient& c = make();
  transport.handler = [](const FakeTransport::Sent&) {
    return answer(502, R"({"reason":"BadDeviceToken"})");
  };
  run(c.request("/v1/push", "POST", "s", {}));
  transport.handler = [](const FakeTransport::Sent&) { return answer(503); };
  run(c.request("/v1/status", "POST", "s", {}));
  ASSERT_TRUE(c.connectionProblem() && c.deliveryProblem());

  c.setServerURL("https://relay.test");
  EXPECT_TRUE(c.connectionProblem() && c.deliveryProblem());
  c.setServerURL("https://other.test");
  EXPECT_FALSE(c.connectionProblem());
  EXPECT_FALSE(c.deliveryProblem());
  EXPECT_EQ(settings.stringValue("pushServerURL"), "https://other.test");
}
