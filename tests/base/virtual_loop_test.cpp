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
  t.cancel();
  loop.advance(10s);
  EXPECT_EQ(at, (std::vector<Duration>{2s, 4s, 6s}));
}

TEST(VirtualLoop, WorkRunsInDueOrderAndCancelledOrDroppedTimersNever) {
  VirtualLoop loop;
  std::vector<int> order;
  Time start = loop.now();
  Timer a = loop.after(3s, [&] {
    order.push_back(3);
    EXPECT_EQ(loop.now() - start, 3s);
  });
  Timer self;
  self = loop.after(1s, [&] {
    order.push_back(1);
    self.cancel();  // a timer may cancel itself while firing
    loop.post([&] { order.push_back(2); });
  });
  {
    Timer dropped = loop.after(1s, [&] { order.push_back(100); });
  }
  loop.advance(10s);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(loop.now() - start, 10s);
}
