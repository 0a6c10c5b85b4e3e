// Durable delivery over the fake transport, in virtual time: notifications
// that a passing failure kept from a phone wait in the outbox and reach it
// later, exactly once and in order.
#include <gtest/gtest.h>

#include <map>

#include "base/log.h"
#include "base/settings.h"
#include "base/virtual_loop.h"
#include "push/printers.h"
#include "push/push_client.h"
#include "support/fake_platform.h"

using namespace corvid;
using namespace corvid::testing;
using namespace std::chrono_literals;

namespace {

struct Outage : ::testing::Test {
  VirtualLoop loop;
  MemorySettings settings;
  MemoryLog log;
  FakeTransport transport{loop};
  MemoryDurableFile file;
  int badge = 3;
  std::unique_ptr<PushClient> client;
  // Answers by secret, then by the time since the test began.
  std::function<HttpResult(const std::string& secret, Duration elapsed)> relay;
  Time began = loop.now();

  Outage() {
    transport.delay = 100ms;
    transport.respond = [this](const HttpRequest& r) {
      std::string secret = headerOf(r, "Authorization").substr(7);
      return relay ? relay(secret, loop.now() - began) : answer(200);
    };
  }
  PushClient& make(std::vector<std::string> secrets = {"s-a"}) {
    client.reset();
    std::vector<PushClient::Pairing> pairings;
    for (auto& s : secrets) pairings.push_back({s, "iPhone15,2", "production", loop.now()});
    settings.setString("pushPairings", *PushClient::encodePairings(pairings));
    client = std::make_unique<PushClient>(PushClient::Dependencies{
        settings, log, loop, transport, [] { return std::string("PC"); }, "https://relay.test", 15s, nullptr,
        &loop, &file, [this] { return badge; }, [] { return 0.5; }});
    return *client;
  }
  int message(const std::string& title, std::optional<PushClient::Pairing> target = std::nullopt) {
    return runTask(loop, client->push("message", title, "본문 " + title, "t-1", "friend", badge, "c-" + title,
                                      std::move(target)));
  }
  // The titles of the pushes the relay answered with 200, per secret.
  std::map<std::string, std::vector<std::string>> delivered;
  void recordDeliveries() {
    auto inner = transport.respond;
    transport.respond = [this, inner](const HttpRequest& r) {
      HttpResult result = inner(r);
      if (pathOf(r) == "/v1/push" && result.response && result.response->status == 200) {
        delivered[headerOf(r, "Authorization").substr(7)].push_back(jsonOf(r)["title"]);
      }
      return result;
    };
  }
  std::size_t lines(const std::string& part) const {
    return static_cast<std::size_t>(
        std::count_if(log.lines.begin(), log.lines.end(), [&](auto& l) { return l.find(part) != std::string::npos; }));
  }
};

}  // namespace

TEST_F(Outage, MessagesOfAnOutageArriveOnceInOrderWithTheNewestBadge) {
  relay = [](const std::string&, Duration t) { return t < 20s ? answer(503) : answer(200); };
  recordDeliveries();
  make();
  EXPECT_EQ(message("m1"), 0);
  EXPECT_EQ(client->lastFailure(), "HTTP 503");
  EXPECT_EQ(client->connectionProblem(), "알림 서버에 문제가 있습니다 (HTTP 503).");
  EXPECT_EQ(client->waitingCount(), 1);
  loop.advance(1s);
  const std::size_t before = transport.requests.size();
  // Later messages join the queue behind the first; the queue tries its
  // oldest entry at once, so only that request goes out.
  EXPECT_EQ(message("m2"), 0);
  EXPECT_EQ(message("m3"), 0);
  EXPECT_EQ(client->waitingCount(), 3);
  for (auto i = before; i < transport.requests.size(); ++i) EXPECT_EQ(jsonOf(transport.requests[i])["title"], "m1");
  EXPECT_EQ(lines("push: queued message (3 waiting)"), 1u);
  EXPECT_EQ(lines("push: message sent 0/1 badge 3"), 3u);

  badge = 7;
  loop.advance(60s);
  EXPECT_EQ(delivered["s-a"], (std::vector<std::string>{"m1", "m2", "m3"}));
  EXPECT_EQ(client->waitingCount(), 0);
  EXPECT_EQ(client->sentCount(), 3);
  EXPECT_TRUE(client->lastPushAt());
  EXPECT_EQ(lines("push: retry message sent 1/1"), 3u);
  EXPECT_EQ(*file.text, R"({"entries":[],"version":1})");
  // A retried push is the first one again, with the newest badge.
  const Json last = jsonOf(transport.requests.back());
  EXPECT_EQ(last, (Json{{"kind", "message"}, {"title", "m3"}, {"body", "본문 m3"}, {"threadKey", "t-1"},
                        {"username", "friend"}, {"badge", 7}, {"collapseId", "c-m3"}}));
  // Back-off while the relay failed: 2 s, 4 s, 8 s ... not a request per tick.
  EXPECT_LT(transport.requests.size(), 12u);
}

TEST_F(Outage, BadgesTestsAndRefusalsAreNotKept) {
  relay = [](const std::string&, Duration) { return answer(503); };
  make();
  runTask(loop, client->push("badge", "", "", "", "", 2, ""));
  runTask(loop, client->sendTest());
  EXPECT_EQ(client->waitingCount(), 0);
  relay = [](const std::string&, Duration) { return answer(400, R"({"error":"bad"})"); };
  message("m1");
  EXPECT_EQ(client->waitingCount(), 0);
  EXPECT_EQ(lines("push: dropped message HTTP 400"), 1u);
}

TEST_F(Outage, RetryAfterIsWaitedForEvenWhenTheRelayAnswersOtherwise) {
  relay = [](const std::string&, Duration t) {
    if (t < 1s) return HttpResult{HttpResponse{429, "{}", {{"retry-after", "30"}}}, {}};
    return answer(200);
  };
  recordDeliveries();
  make();
  message("m1");
  // A status report that gets through would normally send it at once.
  runTask(loop, client->request("/v1/status", "POST", "s-a", {}));
  loop.advance(28s);
  EXPECT_TRUE(delivered["s-a"].empty());
  loop.advance(3s);
  EXPECT_EQ(delivered["s-a"], std::vector<std::string>{"m1"});
}

TEST_F(Outage, AGonePairingTakesItsQueueAndAFanOutKeepsOnlyWhatFailed) {
  relay = [](const std::string& secret, Duration t) {
    if (secret == "s-b") return t < 3s ? answer(503) : answer(401);
    return answer(200);
  };
  recordDeliveries();
  make({"s-a", "s-b"});
  EXPECT_EQ(message("m1"), 1);
  EXPECT_EQ(message("m2"), 1);
  EXPECT_EQ(client->waitingCount(), 2);
  loop.advance(10s);
  EXPECT_EQ(client->pairings().size(), 1u);
  EXPECT_EQ(client->waitingCount(), 0);
  EXPECT_EQ(lines("push: dropped message unpaired"), 2u);
  EXPECT_EQ(delivered["s-a"], (std::vector<std::string>{"m1", "m2"}));
  EXPECT_TRUE(delivered["s-b"].empty());
  // Unpairing drops what waited, too.
  relay = [](const std::string&, Duration) { return answer(503); };
  message("m3");
  EXPECT_EQ(client->waitingCount(), 1);
  runTask(loop, client->unpair(client->pairings()[0]));
  EXPECT_EQ(client->waitingCount(), 0);
}

TEST_F(Outage, OldAndSurplusEntriesAreDropped) {
  relay = [](const std::string&, Duration) { return answer(503); };
  make();
  message("old");
  loop.advance(6h + 1min);
  EXPECT_EQ(client->waitingCount(), 0);
  EXPECT_EQ(lines("push: dropped message expired"), 1u);
  for (int i = 0; i < 201; ++i) message("m" + std::to_string(i));
  EXPECT_EQ(client->waitingCount(), 200);
  EXPECT_EQ(lines("push: dropped message overflow"), 1u);
  loop.advance(5min);  // let requests in flight end
}

TEST_F(Outage, WaitingEntriesSurviveARestartAndGoOutAtLaunch) {
  relay = [](const std::string&, Duration) { return answer(503); };
  recordDeliveries();
  make();
  message("m1");
  message("m2");
  loop.advance(10s);
  ASSERT_EQ(client->waitingCount(), 2);
  // The file names the pairing, never its secret.
  EXPECT_EQ(file.text->find("s-a"), std::string::npos);
  EXPECT_NE(file.text->find(PushClient::pairingReference("s-a")), std::string::npos);
  client.reset();

  relay = nullptr;
  make();
  EXPECT_EQ(client->waitingCount(), 2);
  loop.advance(1s);
  EXPECT_EQ(delivered["s-a"], (std::vector<std::string>{"m1", "m2"}));
  EXPECT_EQ(client->sentCount(), 2);
}

TEST_F(Outage, AnUnreadableFileIsKeptAsideAndABadEntryDroppedAlone) {
  file.text = "{\"entries\": [tru";
  make();
  EXPECT_EQ(client->waitingCount(), 0);
  EXPECT_EQ(file.keptAside, "{\"entries\": [tru");

  const std::string ref = PushClient::pairingReference("s-a");
  auto entry = [&](const std::string& title) {
    return Json{{"target", ref},  {"kind", "message"},   {"title", title}, {"body", "b"},
                {"threadKey", ""}, {"username", ""}, {"collapseId", ""},   {"badge", -1},
                {"queuedAt", std::chrono::duration<double>(loop.now().time_since_epoch()).count()}};
  };
  Json broken = entry("broken");
  broken["badge"] = "3";
  Json other = entry("elsewhere");
  other["target"] = "ntfy";  // kept while reading; dropped below, as no topic is set
  Json gone = entry("gone");
  gone["target"] = PushClient::pairingReference("s-unpaired");
  file.text = Json{{"version", 1}, {"entries", {entry("m1"), broken, 7, other, gone, entry("m2")}}}.dump();
  make();
  EXPECT_EQ(client->waitingCount(), 3);
  EXPECT_EQ(lines("push: dropped entry unreadable"), 2u);
  loop.advance(1s);
  EXPECT_EQ(client->waitingCount(), 0);
  EXPECT_EQ(lines("push: dropped message ntfy off"), 1u);
}

// The relay fails, then hangs until every request times out, then answers
// again; the Watcher reports the status every 20 s while entries wait.
TEST_F(Outage, RecoveryAfterHungRequestsIsQuickerThanTheBackOff) {
  relay = [](const std::string&, Duration t) { return t < 30s ? answer(503) : answer(200); };
  transport.hangs = [this](const HttpRequest&) {
    Duration t = loop.now() - began;
    return t >= 30s && t < 200s;
  };
  recordDeliveries();
  make();
  for (int i = 1; i <= 3; ++i) message("m" + std::to_string(i));
  Timer heartbeat = loop.every(20s, [this] { spawn([](PushClient& c) -> Task<void> {
                                               co_await c.request("/v1/status", "POST", "s-a", {});
                                             }(*client)); });
  loop.advance(200s - 1ms);
  ASSERT_EQ(client->waitingCount(), 3);
  const Time recovered = loop.now();
  while (client->waitingCount() > 0 && loop.now() - recovered < 2min) loop.advance(100ms);
  EXPECT_LE(loop.now() - recovered, 30s);
  EXPECT_EQ(delivered["s-a"], (std::vector<std::string>{"m1", "m2", "m3"}));
  heartbeat.cancel();
  loop.advance(1min);
}

TEST(Retries, DelaysDoubleToAMinuteAndServerWaitsAreRead) {
  EXPECT_EQ(PushClient::retryDelay(1, 0.5), 2s);
  EXPECT_EQ(PushClient::retryDelay(2, 0.5), 4s);
  EXPECT_EQ(PushClient::retryDelay(5, 0.5), 32s);
  EXPECT_EQ(PushClient::retryDelay(6, 0.5), 60s);
  EXPECT_EQ(PushClient::retryDelay(40, 0.99), 60s);
  EXPECT_EQ(PushClient::retryDelay(1, 0.0), 1600ms);

  using relay::PushFailure;
  for (int code : {-1, -2, 408, 429, 500, 502, 503, 599}) {
    EXPECT_EQ(relay::classifyPushFailure({"push", code, ""}), PushFailure::transient) << code;
  }
  EXPECT_EQ(relay::classifyPushFailure({"push", 401, ""}), PushFailure::gone);
  EXPECT_EQ(relay::classifyPushFailure({"push", 410, ""}), PushFailure::gone);
  for (int code : {0, 201, 302, 400, 403, 404, 413}) {
    EXPECT_EQ(relay::classifyPushFailure({"push", code, ""}), PushFailure::refused) << code;
  }
  EXPECT_EQ(relay::classifyPushFailure({"json", 316, ""}), PushFailure::refused);

  const Time now = Time{} + 784111777s;  // Sun, 06 Nov 1994 08:49:37 GMT
  EXPECT_EQ(relay::retryAfterDelay(" 120 ", now), 120s);
  EXPECT_EQ(relay::retryAfterDelay("Sun, 06 Nov 1994 08:50:07 GMT", now), 30s);
  EXPECT_EQ(relay::retryAfterDelay("Sun, 06 Nov 1994 08:00:00 GMT", now), 0s);
  EXPECT_EQ(relay::retryAfterDelay("99999999999", now), std::chrono::hours(6));
  EXPECT_FALSE(relay::retryAfterDelay("soon", now));
  EXPECT_FALSE(relay::retryAfterDelay("-5", now));
}
