#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "base/virtual_loop.h"
#include "webbridge/bridge_core.h"

using namespace webbridge;
using namespace std::chrono_literals;

namespace {

Json snapshot(const std::string& type, int seq, const std::string& html = "<p>x</p>") {
  return Json{{"type", type}, {"seq", seq}, {"selector", "#t"}, {"html", html}};
}
Json missing(int seq) { return Json{{"type", "missing"}, {"seq", seq}, {"selector", "#t"}}; }
Json custom(const std::string& name) { return Json{{"type", "custom"}, {"name", name}, {"payload", 1}}; }

const std::optional<std::string> kBridgeWorld = WebBridgeCore::kWorldName;
const std::optional<std::string> kPageWorld = std::nullopt;

// Reads a stream to its end into `out`.
corvid::Task<void> drain(EventStream& stream, std::vector<BridgeEvent>& out) {
  while (auto event = co_await stream.next()) out.push_back(std::move(*event));
}

}  // namespace

TEST(BridgeCore, OnlyTheBridgeWorldChangesThePublishedState) {
  WebBridgeCore bridge(WebBridgeOptions("#t"));
  std::vector<BridgeEvent> seen;
  int announced = 0;
  bridge.onEvent = [&](const BridgeEvent& e) { seen.push_back(e); };
  bridge.objectWillChange().connect([&] { ++announced; });

  bridge.handle(snapshot("snapshot", 1, "forged"), kPageWorld);
  bridge.handle(missing(2), kPageWorld);
  bridge.handle(snapshot("patch", 3, "forged"), std::string("OtherWorld"));
  bridge.handle(Json{{"type", "snapshot"}, {"selector", "#t"}}, kBridgeWorld);  // no "html"
  EXPECT_EQ(bridge.snapshot(), std::nullopt);
  EXPECT_FALSE(bridge.isTargetMissing());
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(announced, 0);

  bridge.handle(custom("hello"), kPageWorld);  // custom messages come from any world
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].message()->name, "hello");

  bridge.handle(snapshot("snapshot", 1), kBridgeWorld);
  ASSERT_TRUE(bridge.snapshot());
  EXPECT_EQ(bridge.snapshot()->html, "<p>x</p>");

  bridge.handle(missing(2), kBridgeWorld);
  EXPECT_TRUE(bridge.isTargetMissing());
  EXPECT_EQ(bridge.snapshot()->sequence, 1);  // keeps the last snapshot

  bridge.handle(snapshot("patch", 3, "<p>y</p>"), kBridgeWorld);
  EXPECT_FALSE(bridge.isTargetMissing());
  EXPECT_EQ(bridge.snapshot()->html, "<p>y</p>");
  EXPECT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[2], BridgeEvent::missing("#t", 2));
  EXPECT_GT(announced, 0);
}

TEST(BridgeCore, ThrottleWithoutEncodingIsRejected) {
  WebBridgeOptions options("#t");
  options.throttle = 1.0 / 0.0;
  EXPECT_THROW(WebBridgeCore{options}, std::invalid_argument);
}

TEST(BridgeCore, CallbackRunsBeforeStreamsAndMayDestroyTheBridge) {
  auto bridge = std::make_unique<WebBridgeCore>(WebBridgeOptions("#t"));
  EventStream stream = bridge->events();
  bridge->onEvent = [&](const BridgeEvent&) { bridge.reset(); };
  bridge->handle(snapshot("snapshot", 1), kBridgeWorld);
  EXPECT_EQ(bridge, nullptr);
  EXPECT_TRUE(stream.isFinished());
}

TEST(EventStreams, IndependentStreamsSeeOnlyLaterEvents) {
  corvid::VirtualLoop loop;
  WebBridgeCore bridge(WebBridgeOptions("#t"), [&](std::function<void()> fn) { loop.post(std::move(fn)); });
  EventStream early = bridge.events();
  bridge.handle(snapshot("snapshot", 1), kBridgeWorld);
  EventStream late = bridge.events();
  bridge.handle(snapshot("patch", 2), kBridgeWorld);

  std::vector<BridgeEvent> fromEarly, fromLate;
  auto a = corvid::spawn(drain(early, fromEarly));
  auto b = corvid::spawn(drain(late, fromLate));
  bridge.handle(custom("c"), kPageWorld);
  // A waiting consumer is resumed from the loop, not inside handle().
  EXPECT_EQ(fromEarly.size(), 2u);
  EXPECT_EQ(fromLate.size(), 1u);
  loop.runDue();
  EXPECT_EQ(fromEarly.size(), 3u);
  EXPECT_EQ(fromLate.size(), 2u);
  EXPECT_EQ(fromLate[0].kind(), BridgeEvent::Kind::patch);
  // Ending the streams wakes both readers, again through the loop.
  early.cancel();
  late.cancel();
  loop.runDue();
  EXPECT_EQ(fromEarly.size(), 3u);
}

TEST(EventStreams, AnUnreadStreamKeepsTheNewest256) {
  WebBridgeCore bridge(WebBridgeOptions("#t"));
  EventStream stream = bridge.events();
  for (int i = 1; i <= 300; ++i) bridge.handle(snapshot("patch", i), kBridgeWorld);
  std::vector<BridgeEvent> got;
  stream.forEach([&](const BridgeEvent& e) { got.push_back(e); });
  ASSERT_EQ(got.size(), 256u);
  EXPECT_EQ(got.front().capture()->sequence, 45);
  EXPECT_EQ(got.back().capture()->sequence, 300);
  bridge.handle(snapshot("patch", 301), kBridgeWorld);  // later ones arrive at once
  EXPECT_EQ(got.back().capture()->sequence, 301);
}

TEST(EventStreams, DestroyingTheBridgeFinishesEveryStream) {
  auto bridge = std::make_unique<WebBridgeCore>(WebBridgeOptions("#t"));
  EventStream waiting = bridge->events();
  EventStream buffered = bridge->events();
  EventStream callback = bridge->events();
  std::vector<BridgeEvent> fromWaiting;
  auto task = corvid::spawn(drain(waiting, fromWaiting));
  bool finished = false;
  callback.forEach([](const BridgeEvent&) {}, [&] { finished = true; });
  bridge->handle(snapshot("snapshot", 1), kBridgeWorld);
  bridge.reset();

  EXPECT_TRUE(waiting.isFinished());
  EXPECT_EQ(fromWaiting.size(), 1u);
  EXPECT_TRUE(finished);
  // What was buffered is still delivered, then the end.
  std::vector<BridgeEvent> fromBuffered;
  auto rest = corvid::spawn(drain(buffered, fromBuffered));
  EXPECT_EQ(fromBuffered.size(), 1u);
  EXPECT_TRUE(buffered.isFinished());
}

TEST(EventStreams, CancellingTheConsumerEndsItsStream) {
  WebBridgeCore bridge(WebBridgeOptions("#t"));
  std::optional<EventStream> stream = bridge.events();
  std::vector<BridgeEvent> got;
  bool done = false;
  auto reader = [&]() -> corvid::Task<void> {
    co_await drain(*stream, got);
    done = true;
  };
  auto scope = corvid::spawn(reader());
  EXPECT_FALSE(done);
  scope->cancel();
  EXPECT_TRUE(done);
  EXPECT_TRUE(stream->isFinished());
  bridge.handle(snapshot("snapshot", 1), kBridgeWorld);
  EXPECT_TRUE(got.empty());
}

TEST(EventSubscribers, EndedStreamsLeaveTheRegistry) {
  auto registry = EventSubscribers::make();
  EventStream kept = registry->subscribe();
  {
    EventStream dropped = registry->subscribe();
    EventStream cancelled = registry->subscribe();
    cancelled.cancel();
    EXPECT_EQ(registry->size(), 2u);
  }
  EXPECT_EQ(registry->size(), 1u);
  registry->finishAll();
  EXPECT_EQ(registry->size(), 0u);
  EXPECT_TRUE(kept.isFinished());
  EXPECT_TRUE(registry->subscribe().isFinished());  // after the end, streams end at once
}
