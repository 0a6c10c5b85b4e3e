#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "base/virtual_loop.h"
#include "webbridge/bridge_core.h"

using namespace webbridge;

namespace {

Json patch(int seq) {
  return Json{{"type", "patch"}, {"seq", seq}, {"selector", "#t"}, {"html", "<p>x</p>"}};
}
const std::optional<std::string> kWorld = WebBridgeCore::kWorldName;

corvid::Task<void> drain(EventStream& stream, std::vector<BridgeEvent>& out) {
  while (auto event = co_await stream.next()) out.push_back(std::move(*event));
}

}  // namespace

TEST(BridgeCore, CallbackRunsBeforeStreamsAndMayDestroyTheBridge) {
  auto bridge = std::make_unique<WebBridgeCore>(WebBridgeOptions("#t"));
  EventStream stream = bridge->events();
  bridge->onEvent = [&](const BridgeEvent&) { bridge.reset(); };
  bridge->handle(patch(1), kWorld);
  EXPECT_EQ(bridge, nullptr);
  EXPECT_TRUE(stream.isFinished());
}

TEST(EventStreams, IndependentStreamsResumeFromTheLoop) {
  corvid::VirtualLoop loop;
  WebBridgeCore bridge(WebBridgeOptions("#t"), [&](std::function<void()> fn) { loop.post(std::move(fn)); });
  EventStream early = bridge.events();
  bridge.handle(patch(1), kWorld);
  EventStream late = bridge.events();
  std::vector<BridgeEvent> fromEarly, fromLate;
  auto a = corvid::spawn(drain(early, fromEarly));
  auto b = corvid::spawn(drain(late, fromLate));
  bridge.handle(patch(2), kWorld);
  // A waiting consumer is resumed from the loop, not inside handle().
  EXPECT_EQ(fromEarly.size(), 1u);
  EXPECT_EQ(fromLate.size(), 0u);
  loop.runDue();
  EXPECT_EQ(fromEarly.size(), 2u);
  EXPECT_EQ(fromLate.size(), 1u);
  a->cancel();  // cancelling the consumer's task ends its stream
  EXPECT_TRUE(early.isFinished());
  bridge.handle(patch(3), kWorld);
  loop.runDue();
  EXPECT_EQ(fromEarly.size(), 2u);
  EXPECT_EQ(fromLate.size(), 2u);
}

TEST(EventStreams, AnUnreadStreamKeepsTheNewest256AndEndsWithTheBridge) {
  auto bridge = std::make_unique<WebBridgeCore>(WebBridgeOptions("#t"));
  EventStream callbacks = bridge->events();
  EventStream buffered = bridge->events();
  for (int i = 1; i <= 300; ++i) bridge->handle(patch(i), kWorld);
  std::vector<BridgeEvent> got;
  bool finished = false;
  callbacks.forEach([&](const BridgeEvent& e) { got.push_back(e); }, [&] { finished = true; });
  ASSERT_EQ(got.size(), 256u);
  EXPECT_EQ(got.front().capture()->sequence, 45);
  bridge->handle(patch(301), kWorld);  // later ones arrive at once
  EXPECT_EQ(got.back().capture()->sequence, 301);
  bridge.reset();
  EXPECT_TRUE(finished);
  // What was buffered is still delivered, then the end.
  std::vector<BridgeEvent> rest;
  auto task = corvid::spawn(drain(buffered, rest));
  EXPECT_EQ(rest.size(), 256u);
  EXPECT_TRUE(buffered.isFinished());
}
