// The real corvid binary against a relay that fails: three messages arrive
// while the relay answers 503, Corvid is stopped with SIGTERM and started
// again, the relay recovers, and each message reaches the relay with a 200
// exactly once, in order. The figures go to the test's output.
#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include "app_harness.h"

namespace corvid::testing {
namespace {

using nlohmann::json;

// The collapse ids of message pushes the relay answered with 200, in order.
std::vector<std::string> deliveredMessages(const RecordingRelay& relay) {
  std::vector<std::string> out;
  for (const auto& a : relay.answered()) {
    if (a.path != "/v1/push" || a.status != 200) continue;
    json body = json::parse(a.body);
    if (body["kind"] == "message") out.push_back(body["collapseId"]);
  }
  return out;
}

TEST(App, MessagesOfARelayOutageSurviveARestartAndArriveOnceInOrder) {
  AppHarness app({.pairingSecrets = {"secret-1"}, .everWatched = true});
  app.start();
  ASSERT_TRUE(app.waitForLog("baseline: threads 8")) << app.output();

  app.relay().setStatus(503);
  const std::vector<std::string> ids = {"outage.1", "outage.2", "outage.3"};
  for (std::size_t i = 0; i < ids.size(); ++i) {
    app.page().sendEvent({{"type", "message"},
                          {"thread", threadKey(static_cast<int>(i) + 4)},
                          {"text", "밀린 메시지 " + std::to_string(i + 1)},
                          {"id", ids[i]}});
    ASSERT_TRUE(app.waitUntil([&] { return app.countLog("events: 1 pushed 0") == i + 1; }, 20s))
        << app.output();
  }
  ASSERT_TRUE(app.waitForLog("(3 waiting)", 10s)) << app.output();

  app.sendSignal(SIGTERM);
  auto status = app.waitForExit(10s);
  ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << app.output();
  const std::string outbox = readFile(app.outboxFile());
  EXPECT_EQ(json::parse(outbox)["entries"].size(), 3u) << outbox;
  EXPECT_EQ(outbox.find("secret-1"), std::string::npos);
  struct stat st {};
  ASSERT_EQ(::stat(app.outboxFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  app.start();
  ASSERT_TRUE(app.waitUntil([&] { return app.countLog("app: launched") == 2; }, 20s)) << app.output();
  app.waitUntil([] { return false; }, 3s);  // the relay still fails for a while
  EXPECT_TRUE(deliveredMessages(app.relay()).empty());

  app.relay().setStatus(200);
  const auto recovered = std::chrono::steady_clock::now();
  ASSERT_TRUE(app.waitUntil([&] { return deliveredMessages(app.relay()).size() >= 3; }, 60s)) << app.output();
  app.waitUntil([] { return false; }, 3s);  // nothing more comes

  std::vector<std::string> expected;
  for (const auto& id : ids) expected.push_back(expectedCollapseId("mid.$" + id));
  EXPECT_EQ(deliveredMessages(app.relay()), expected);
  std::chrono::steady_clock::time_point last{};
  for (const auto& a : app.relay().answered()) {
    if (a.path == "/v1/push" && a.status == 200) last = a.at;
  }
  const auto seconds = std::chrono::duration<double>(last - recovered).count();
  std::cout << "durable delivery: sent during the outage " << ids.size() << ", delivered "
            << deliveredMessages(app.relay()).size() << ", recovery to last delivery " << seconds << " s\n";
  EXPECT_LT(seconds, 30.0);
  EXPECT_TRUE(app.waitUntil([&] { return app.countLog("retry message sent 1/1") == 3; }, 5s));
}

}  // namespace
}  // namespace corvid::testing
