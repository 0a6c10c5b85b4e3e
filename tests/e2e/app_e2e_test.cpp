// The real corvid binary watching the React and Relay test inbox: the first
// read is only a baseline, each new incoming message reaches the relay once
// with everything the phone shows, a burst gives one push per message, the
// viewer's own reply and a read elsewhere push no message. On the way, a
// second launch and the actions open the windows, the page is still read
// after the Instagram window has closed, and a system quit while the quit
// question shows takes the question away and tells the phones "stopped" once
// although the relay never answers.
#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include "app_harness.h"
#include "platform_net/ntfy_server.h"

namespace corvid::testing {
namespace {

using nlohmann::json;

std::vector<json> bodies(const RecordingRelay& relay, const std::string& path) {
  std::vector<json> out;
  for (const auto& r : relay.requests()) {
    if (r.path == path) out.push_back(json::parse(r.body));
  }
  return out;
}

TEST(App, DeliversNewMessagesOnceAndTellsStoppedOnceAtASystemQuit) {
  AppHarness app({.pairingSecrets = {"secret-1"}, .everWatched = true});
  app.start();
  ASSERT_TRUE(app.waitForLog("session: unknown → ok")) << app.output();
  ASSERT_TRUE(app.waitForLog("baseline: threads 8 unread 2"));
  app.waitUntil([] { return false; }, 4s);  // a few more reads announce nothing
  EXPECT_TRUE(bodies(app.relay(), "/v1/push").empty());
  auto statuses = bodies(app.relay(), "/v1/status");
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.front()["status"], "ok");
  EXPECT_EQ(statuses.front()["threads"], 8);
  EXPECT_EQ(app.relay().requests().front().headers.at("Authorization"), "Bearer secret-1");

  // Launching again reaches the running instance and opens the main window;
  // the Instagram window opens and closes, its web view going back home.
  auto second = app.launchAgain();
  ASSERT_TRUE(second && WIFEXITED(*second) && WEXITSTATUS(*second) == 0);
  ASSERT_TRUE(app.waitUntil([&] { return app.windowsShown("Corvid") == 1; }));
  ASSERT_TRUE(app.activateAction("show-instagram", "inspect"));
  ASSERT_TRUE(app.waitUntil([&] { return app.windowsShown("Instagram 화면") == 1; }));
  ASSERT_TRUE(app.closeWindow("Instagram 화면"));
  ASSERT_TRUE(app.waitUntil([&] { return app.windowsShown("Instagram 화면") == 0; }));

  // A friend writes in a read one-to-one thread.
  app.page().sendEvent(
      {{"type", "message"}, {"thread", threadKey(6)}, {"text", " 안녕, 잘 지내? "}, {"id", "e2e.1"}});
  ASSERT_TRUE(app.waitForLog("events: 1 pushed 1")) << app.output();
  auto pushes = bodies(app.relay(), "/v1/push");
  ASSERT_EQ(pushes.size(), 1u);
  EXPECT_EQ(pushes[0], (json{{"kind", "message"},
                             {"title", "Friend 60"},
                             {"body", "안녕, 잘 지내?"},
                             {"threadKey", threadKey(6)},
                             {"username", "friend_60"},
                             {"badge", 3},
                             {"collapseId", expectedCollapseId("mid.$e2e.1")}}));

  // Three messages at once: three pushes.
  app.page().sendEvent({{"type", "burst"}, {"thread", threadKey(2)}, {"count", 3}, {"text", "burst"}});
  ASSERT_TRUE(app.waitForLog("events: 3 pushed 3")) << app.output();
  EXPECT_EQ(app.relay().count("/v1/push", threadKey(2)), 3u);

  // The viewer's own reply, then a read elsewhere: the badge goes out alone.
  app.page().sendEvent({{"type", "reply"}, {"thread", threadKey(6)}, {"text", "응 잘 지내"}});
  ASSERT_TRUE(app.waitForLog("skipped mine", 10s)) << app.output();
  app.waitUntil([] { return false; }, 3s);
  const std::size_t badges = app.relay().count("/v1/push", "\"kind\":\"badge\"");
  app.page().sendEvent({{"type", "read"}, {"thread", threadKey(0)}});
  ASSERT_TRUE(app.waitUntil([&] { return app.relay().count("/v1/push", "\"kind\":\"badge\"") > badges; }));
  EXPECT_EQ(app.relay().count("/v1/push", "\"kind\":\"message\""), 4u);

  // The system quits while the quit question shows (over the main window,
  // with the same title); the relay never answers.
  app.relay().setSilent(true);
  ASSERT_TRUE(app.activateAction("quit"));
  ASSERT_TRUE(app.waitUntil([&] { return app.windowsShown("Corvid") == 2; }));
  app.sendSignal(SIGTERM);
  auto status = app.waitForExit(10s);
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << app.output();
  EXPECT_EQ(app.relay().count("/v1/status", "\"stopped\""), 1u);
  EXPECT_EQ(app.countLog("quit: status stopped"), 1u);
  // Both windows saved their frames.
  const std::string state = readFile(app.stateFile());
  EXPECT_NE(state.find("[HalvyMain]"), std::string::npos) << state;
  EXPECT_NE(state.find("[HalvyInstagram]"), std::string::npos) << state;
}

TEST(App, WithAnNtfyTopicAMessageIsPublishedOnceAndShownOnTheDesktop) {
  NtfyServer ntfy;
  AppHarness app(
      {.everWatched = true,
       .settingsLines = {"ntfyTopicURL=" + ntfy.topicURL("corvid-e2e"), "desktopMessageNotifications=true"}});
  auto notifications = notificationServer(app.busAddress(), "actions");
  auto shown = [&](const std::string& part) {
    std::size_t n = 0;
    for (const auto& call : notifications->calls()) n += call.args.find(part) != std::string::npos;
    return n;
  };
  app.start();
  ASSERT_TRUE(app.waitForLog("baseline: threads 8")) << app.output();
  app.waitUntil([] { return false; }, 3s);
  EXPECT_TRUE(ntfy.requests().empty());

  app.page().sendEvent(
      {{"type", "message"}, {"thread", threadKey(6)}, {"text", "ntfy로 가는 메시지"}, {"id", "e2e.n1"}});
  ASSERT_TRUE(app.waitForLog("events: 1 pushed 1")) << app.output();
  ASSERT_EQ(ntfy.messages().size(), 1u);
  const NtfyServer::Message& m = ntfy.messages()[0];
  EXPECT_EQ(m.topic, "corvid-e2e");
  EXPECT_EQ(m.title, "Friend 60");
  EXPECT_EQ(m.message, "ntfy로 가는 메시지");
  EXPECT_EQ(m.click, app.page().url("/direct/t/" + threadKey(6) + "/"));
  ASSERT_TRUE(app.waitUntil([&] { return shown("'Friend 60', 'ntfy로 가는 메시지'") == 1; }));
  app.waitUntil([] { return false; }, 3s);  // later reads repeat nothing
  EXPECT_EQ(ntfy.requests().size(), 1u);
  EXPECT_EQ(shown("'Friend 60'"), 1u);
  EXPECT_TRUE(app.relay().requests().empty());  // no pairing: the relay hears nothing
}

}  // namespace
}  // namespace corvid::testing
