// The real corvid binary watching the React and Relay test inbox: the first
// read is only a baseline, each new incoming message reaches the relay once
// with everything the phone shows, a burst gives one push per message in
// order, the viewer's own reply and a read elsewhere push no message, and
// session changes are reported.
#include <glib.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app_harness.h"

namespace corvid::testing {
namespace {

using nlohmann::json;

std::string threadKey(int i) {
  std::string n = std::to_string(i);
  return "3402823669" + std::string(10 - n.size(), '0') + n;
}

// The collapse id the phone gets for a message id, computed independently.
std::string expectedCollapseId(const std::string& messageId) {
  gchar* hex = g_compute_checksum_for_string(G_CHECKSUM_SHA256, messageId.c_str(), -1);
  std::string id = "m-" + std::string(hex, 32);
  g_free(hex);
  return id;
}

std::vector<json> bodies(const RecordingRelay& relay, const std::string& path) {
  std::vector<json> out;
  for (const auto& r : relay.requests()) {
    if (r.path == path) out.push_back(json::parse(r.body));
  }
  return out;
}

TEST(Delivery, NewMessagesReachTheRelayOnceWithTheirTexts) {
  AppHarness app({.pairingSecrets = {"secret-1"}, .everWatched = true});
  app.start();
  ASSERT_TRUE(app.waitForLog("session: unknown → ok")) << app.output();
  ASSERT_TRUE(app.waitForLog("baseline: threads 8 unread 2"));
  // Give the loop a few more reads: the baseline announces nothing.
  ASSERT_TRUE(app.waitForLog("tick: ", 10s));
  app.waitUntil([] { return false; }, 4s);
  EXPECT_TRUE(bodies(app.relay(), "/v1/push").empty());
  auto statuses = bodies(app.relay(), "/v1/status");
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.front()["status"], "ok");
  EXPECT_EQ(statuses.front()["threads"], 8);
  EXPECT_EQ(app.relay().requests().front().authorization, "Bearer secret-1");

  // A friend writes in a read one-to-one thread.
  app.page().sendEvent({{"type", "message"}, {"thread", threadKey(6)}, {"text", " 안녕, 잘 지내? "}, {"id", "e2e.1"}});
  ASSERT_TRUE(app.waitForLog("events: 1 pushed 1")) << app.output();
  auto pushes = bodies(app.relay(), "/v1/push");
  ASSERT_EQ(pushes.size(), 1u);
  EXPECT_EQ(pushes[0], (json{{"kind", "message"}, {"title", "Friend 60"}, {"body", "안녕, 잘 지내?"},
                             {"threadKey", threadKey(6)}, {"username", "friend_60"}, {"badge", 3},
                             {"collapseId", expectedCollapseId("mid.$e2e.1")}}));

  // Three messages at once: three pushes, oldest first.
  app.page().sendEvent({{"type", "burst"}, {"thread", threadKey(2)}, {"count", 3}, {"text", "burst"}});
  ASSERT_TRUE(app.waitForLog("events: 3 pushed 3")) << app.output();
  pushes = bodies(app.relay(), "/v1/push");
  ASSERT_EQ(pushes.size(), 4u);
  for (std::size_t i = 1; i < 4; ++i) EXPECT_EQ(pushes[i]["threadKey"], threadKey(2));
  EXPECT_NE(pushes[1]["collapseId"], pushes[2]["collapseId"]);

  // The viewer's own reply, then a read elsewhere: no message push; the
  // badge changes go out alone.
  app.page().sendEvent({{"type", "reply"}, {"thread", threadKey(6)}, {"text", "응 잘 지내"}});
  ASSERT_TRUE(app.waitForLog("skipped mine", 10s)) << app.output();
  auto badgePushes = [&] { return app.relay().count("/v1/push", "\"kind\":\"badge\""); };
  app.waitUntil([] { return false; }, 3s);
  const std::size_t before = badgePushes();
  app.page().sendEvent({{"type", "read"}, {"thread", threadKey(0)}});
  ASSERT_TRUE(app.waitUntil([&] { return badgePushes() > before; }, 10s)) << app.output();
  pushes = bodies(app.relay(), "/v1/push");
  EXPECT_EQ(pushes.back()["kind"], "badge");
  EXPECT_GE(pushes.back()["badge"].get<int>(), 0);
  EXPECT_EQ(app.relay().count("/v1/push", "\"kind\":\"message\""), 4u);
}

}  // namespace
}  // namespace corvid::testing
