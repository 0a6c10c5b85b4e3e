// The push client's stored state: server URL, pairings and their encoding.
#include <gtest/gtest.h>

#include "push/push_fixture.h"

using namespace corvid;
using namespace corvid::testing;
using namespace std::chrono_literals;

using PushState = PushFixture;

TEST_F(PushState, ServerURLStartsFromTheDefaultWithoutWritingAnything) {
  EXPECT_EQ(make().serverURL(), "https://relay.test");
  EXPECT_EQ(settings.writes(), 0);
  settings.setString("pushServerURL", "http://192.0.2.1:8080");
  EXPECT_EQ(make().serverURL(), "http://192.0.2.1:8080");
}

TEST_F(PushState, PairingsRoundTripThroughTheSettings) {
  PushClient::Pairing a{"s-a", "iPhone15,2", "production", Time{} + 1772442000s + 250ms};
  make().setPairings({a, pairing("s-b")});
  auto json = Json::parse(*settings.stringValue("pushPairings"));
  EXPECT_DOUBLE_EQ(json[0]["pairedAt"].get<double>(), 1772442000.25 - kReferenceDateUnixSeconds);
  const auto& loaded = make().pairings();
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(loaded[1], pairing("s-b"));
  // Seconds as a double keep the date to well under a microsecond.
  EXPECT_LT(std::chrono::abs(loaded[0].pairedAt - a.pairedAt), 1us);
}

TEST_F(PushState, StoredPairingsDecodeAllOrNothing) {
  auto zero = PushClient::decodePairings(
      R"([{"secret":"s","deviceModel":"iPhone","environment":"development","pairedAt":0}])");
  ASSERT_TRUE(zero && zero->size() == 1);
  EXPECT_EQ((*zero)[0].pairedAt, Time{} + 978307200s);  // 2001-01-01 00:00:00 UTC

  const char* oneBad = R"([{"secret":"s","deviceModel":"iPhone","environment":"development","pairedAt":0},
                           {"secret":"t","deviceModel":"iPhone","environment":"development"}])";
  for (const char* text : {oneBad, R"([{"secret":1,"deviceModel":"i","environment":"e","pairedAt":0}])",
                           R"({"secret":"s"})", "not json"}) {
    EXPECT_FALSE(PushClient::decodePairings(text)) << text;
  }
  settings.setString("pushPairings", oneBad);
  EXPECT_TRUE(make().pairings().empty());

  // Dates beyond the clock's range are kept at its edge, not overflowed.
  auto far =
      PushClient::decodePairings(R"([{"secret":"s","deviceModel":"m","environment":"e","pairedAt":1e300}])");
  ASSERT_TRUE(far);
  EXPECT_GT((*far)[0].pairedAt, Time{} + std::chrono::hours(24 * 365 * 200));
}

TEST_F(PushState, AnotherServerURLClearsTheProblemsTheSameKeepsThem) {
  PushClient& c = make();
  replyAll(answer(502, R"({"reason":"BadDeviceToken"})"));
  run(c.request("/v1/push", "POST", "s", {}));
  replyAll(answer(503));
  run(c.request("/v1/status", "POST", "s", {}));
  ASSERT_TRUE(c.connectionProblem() && c.deliveryProblem());

  c.setServerURL("https://relay.test");
  EXPECT_TRUE(c.connectionProblem() && c.deliveryProblem());
  c.setServerURL("https://other.test");
  EXPECT_FALSE(c.connectionProblem() || c.deliveryProblem());
  EXPECT_EQ(settings.stringValue("pushServerURL"), "https://other.test");
}
