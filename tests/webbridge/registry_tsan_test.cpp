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

BridgeEvent event(std::int64_t seq) { return BridgeEvent::missing("#t", seq); }

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

Reader readAll(EventStream& stream, std::atomic<int>& count, std::atomic<bool>& ended) {
  while (auto e = co_await stream.next()) {
    if (e->missingTarget()) count.fetch_add(1);
  }
  ended = true;
}

}  // namespace

TEST(RegistryThreads, SubscribeBroadcastTerminateAndFinishTogether) {
  for (int round = 0; round < 20; ++round) {
    auto registry = EventSubscribers::make();
    std::atomic<bool> stop{false};
    std::atomic<int> delivered{0};

    // Callback consumers that come and go.
    std::vector<std::thread> churn;
    for (int t = 0; t < 3; ++t) {
      churn.emplace_back([&] {
        while (!stop) {
          EventStream s = registry->subscribe();
          s.forEach([&](const BridgeEvent&) { delivered.fetch_add(1); });
          std::this_thread::yield();
          if (delivered % 2) s.cancel();
        }
      });
    }
    // Coroutine consumers that stay until the end.
    constexpr int kReaders = 4;
    std::vector<EventStream> streams;
    for (int i = 0; i < kReaders; ++i) streams.push_back(registry->subscribe());
    std::atomic<int> counts[kReaders] = {};
    std::atomic<bool> ended[kReaders] = {};
    std::vector<std::thread> readers;
    for (int i = 0; i < kReaders; ++i) {
      readers.emplace_back([&, i] { readAll(streams[i], counts[i], ended[i]); });
    }
    for (auto& r : readers) r.join();  // each is now suspended or has buffered events

    std::vector<std::thread> producers;
    for (int t = 0; t < 2; ++t) {
      producers.emplace_back([&, t] {
        for (int i = 0; i < 200; ++i) registry->broadcast(event(t * 1000 + i));
      });
    }
    for (auto& p : producers) p.join();
    std::thread finisher([&] { registry->finishAll(); });
    finisher.join();
    stop = true;
    for (auto& c : churn) c.join();

    for (int i = 0; i < kReaders; ++i) {
      EXPECT_TRUE(ended[i]);
      EXPECT_EQ(counts[i], 400);  // every event, none over the 256 limit at once
    }
    EXPECT_EQ(registry->size(), 0u);
    EXPECT_TRUE(registry->subscribe().isFinished());
  }
}
