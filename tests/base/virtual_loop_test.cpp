#include <gtest/gtest.h>

#include <vector>

#include "base/virtual_loop.h"

using namespace corvid;
using namespace std::chrono_literals;

TEST(VirtualLoop, RepeatingTimerFiresEveryIntervalAndStopsWhenCancelled) {
  VirtualLoop loop;
  std::vector<Duration> at;
  Time start = loop.now();
  Timer t = loop.every(2s, [&] { at.push_back(loop.now() - start); });
  loop.advance(7s);
  EXPECT_EQ(at, (std::vector<Duration>{2s, 4s, 6s}));
  t.cancel();
  loop.advance(10s);
  EXPECT_EQ(at.size(), 3u);
}

TEST(VirtualLoop, OneShotTimerMayCancelItselfWhileFiringAndDroppedHandleCancels) {
  VirtualLoop loop;
  int fired = 0;
  Timer self;
  self = loop.after(1s, [&] {
    ++fired;
    self.cancel();
  });
  { Timer dropped = loop.after(1s, [&] { fired += 100; }); }
  loop.advance(5s);
  EXPECT_EQ(fired, 1);
}

TEST(VirtualLoop, WorkRunsInDueOrderWithTheClockAtItsDueTime) {
  VirtualLoop loop;
  std::vector<int> order;
  Time start = loop.now();
  Timer a = loop.after(3s, [&] { order.push_back(3); EXPECT_EQ(loop.now() - start, 3s); });
  Timer b = loop.after(1s, [&] {
    order.push_back(1);
    loop.post([&] { order.push_back(2); });
  });
  loop.advance(10s);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(loop.now() - start, 10s);
}
