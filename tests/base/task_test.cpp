#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "base/scheduler.h"
#include "base/task.h"
#include "base/virtual_loop.h"

using namespace corvid;
using namespace std::chrono_literals;

TEST(Task, ParentAwaitsChildrenInVirtualTimeAndCatchesTheirExceptions) {
  VirtualLoop loop;
  auto answer = [&](Duration d, int v) -> Task<int> {
    co_await sleepFor(loop, d);
    if (v < 0) throw std::logic_error("bad");
    co_return v;
  };
  auto parent = [&]() -> Task<std::string> {
    int sum = co_await answer(1s, 2);
    sum += co_await answer(2s, 3);
    try {
      co_await answer(1s, -1);
    } catch (const std::logic_error& e) {
      std::string text = std::to_string(sum) + " " + e.what();
      co_return text;
    }
    co_return std::string("none");
  };
  Time start = loop.now();
  EXPECT_EQ(runTask(loop, parent()), "5 bad");
  EXPECT_EQ(loop.now() - start, 4s);
}

TEST(Task, SpawnRunsToFirstSuspensionAndAnExceptionGoesToTheHandler) {
  VirtualLoop loop;
  std::vector<std::string> trace;
  auto body = [&](std::string name, Duration d) -> Task<void> {
    trace.push_back(name + " start");
    co_await sleepFor(loop, d);
    trace.push_back(name + " end");
    if (name == "b") throw std::runtime_error("boom");
  };
  std::string seen;
  setUnhandledTaskErrorHandler([&](const std::string& what) { seen = what; });
  spawn(body("a", 2s));
  trace.push_back("after spawn");
  spawn(body("b", 1s));
  EXPECT_NO_THROW(loop.advance(3s));
  setUnhandledTaskErrorHandler(nullptr);
  EXPECT_EQ(trace, (std::vector<std::string>{"a start", "after spawn", "b start", "b end", "a end"}));
  EXPECT_EQ(seen, "boom");
}

TEST(Task, FirstOfContinuesWithFirstAndCancelsTheOther) {
  VirtualLoop loop;
  bool slowCompleted = true;
  auto slow = [&]() -> Task<void> { slowCompleted = co_await sleepFor(loop, 10s); };
  auto fast = [&]() -> Task<void> { co_await sleepFor(loop, 1500ms); };
  auto both = [&]() -> Task<std::size_t> {
    std::vector<Task<void>> tasks;
    tasks.push_back(slow());
    tasks.push_back(fast());
    co_return co_await firstOf(std::move(tasks));
  };
  Time start = loop.now();
  EXPECT_EQ(runTask(loop, both()), 1u);
  EXPECT_EQ(loop.now() - start, 1500ms);
  EXPECT_FALSE(slowCompleted);  // cancelled sleeps end at once, answering false
  EXPECT_EQ(loop.pending(), 0u);
}

TEST(Task, CancellingASpawnedTaskReachesItsAwaitedChildren) {
  VirtualLoop loop;
  std::vector<bool> results;
  auto inner = [&]() -> Task<void> { results.push_back(co_await sleepFor(loop, 5s)); };
  auto outer = [&]() -> Task<void> {
    co_await inner();
    results.push_back(co_await sleepFor(loop, 5s));  // already cancelled: returns at once
  };
  auto scope = spawn(outer());
  loop.advance(1s);
  scope->cancel();
  EXPECT_EQ(results, (std::vector<bool>{false, false}));
}

TEST(Task, ResumerIgnoresLateAnswers) {
  VirtualLoop loop;
  std::optional<Resumer<int>> saved;
  int got = 0;
  auto run = [&]() -> Task<void> {
    got = co_await suspendUntil<int>([&](Resumer<int> r, CancelScope&) { saved.emplace(r); });
  };
  spawn(run());
  (*saved)(7);
  (*saved)(8);  // a second answer, after the task went on, changes nothing
  EXPECT_EQ(got, 7);
}
