#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/linux/glib/glib_loop.h"

using namespace corvid;
using namespace corvid::linux_platform;
using namespace std::chrono_literals;

TEST(GLibLoop, SleepsTimersAndCancellationOnTheRealMainLoop) {
  GLibScheduler loop;
  std::vector<int> order;
  Timer repeating = loop.every(20ms, [&] { order.push_back(0); });
  Timer once;
  once = loop.after(30ms, [&] {
    order.push_back(1);
    once.cancel();  // cancelling a firing one-shot timer is harmless
  });
  loop.post([&] { order.push_back(2); });
  auto race = [&]() -> Task<std::size_t> {
    auto sleeper = [&](Duration d) -> Task<void> { co_await sleepFor(loop, d); };
    std::vector<Task<void>> tasks;
    tasks.push_back(sleeper(5s));
    tasks.push_back(sleeper(100ms));
    co_return co_await firstOf(std::move(tasks));
  };
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(runOnMainLoop(race()), 1u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);  // the 5 s sleep was cancelled
  repeating.cancel();
  ASSERT_GE(order.size(), 3u);
  EXPECT_EQ(order.front(), 2);
  EXPECT_EQ(std::count(order.begin(), order.end(), 1), 1);
  EXPECT_GE(std::count(order.begin(), order.end(), 0), 2);
}
