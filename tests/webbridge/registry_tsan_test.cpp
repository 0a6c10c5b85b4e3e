// The event-stream registry under ThreadSanitizer: subscribing, consuming,
// cancelling, broadcasting and finishing from several threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <coroutine>
#include <thread>
#include <vector>

#include "webbridge/event_stream.h"

using namespace webbridge;

namespace {

// A bare coroutine (not a corvid::Task) that reads a stream to its end. It
// resumes on whichever thread delivers, which is what this test wants.
struct Reader {
  struct promise_type {
    Reader get_return_object() { return {}; }
    std::suspend_never initial_suspend() noexcept { return {}; }
    std::suspend_never final_suspend() noexcept { return {}; }
    void return_void() {}
    void unhandled_exception() { std::terminate(); }
  };
};

Reader readAll(EventStream& stream, std::atomic<int>& count) {
  while (auto event = co_await stream.next()) count.fetch_add(1);
  count.fetch_add(1000);  // the end
}

}  // namespace

TEST(RegistryThreads, SubscribeBroadcastCancelAndFinishTogether) {
  for (int round = 0; round < 10; ++round) {
    auto registry = EventSubscribers::make();
    // Waits on this thread, resumed on whichever thread broadcasts.
    EventStream waiting = registry->subscribe();
    std::atomic<int> count{0};
    readAll(waiting, count);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < 60; ++i) {
          EventStream s = registry->subscribe();
          s.forEach([](const BridgeEvent&) {});
          registry->broadcast(BridgeEvent::missing("#t", i));
          if ((i + t) % 2) s.cancel();
        }
      });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(registry->size(), 1u);  // cancelled and dropped streams have left
    std::thread finisher([&] { registry->finishAll(); });
    EventStream late = registry->subscribe();
    finisher.join();
    EXPECT_TRUE(late.isFinished());  // finished with the others, or at once after the end
    EXPECT_EQ(count, 1240);          // every event (240 fit the buffer, none dropped), then the end
    EXPECT_EQ(registry->size(), 0u);
  }
}
