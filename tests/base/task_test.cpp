#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "base/scheduler.h"
#include "base/task.h"
#include "base/virtual_loop.h"

using namespace corvid;
using namespace std::chrono_literals;

namespace {

Task<int> answer(VirtualLoop& loop, Duration d, int v) {
  co_await sleepFor(loop, d);
  co_return v;
}

Task<int> sum(VirtualLoop& loop) {
  int a = co_await answer(loop, 1s, 2);
  int b = co_await answer(loop, 2s, 3);
  co_return a + b;
}

}  // namespace

TEST(Task, ParentAwaitsChildrenInVirtualTime) {
  VirtualLoop loop;
  Time start = loop.now();
  EXPECT_EQ(runTask(loop, sum(loop)), 5);
  EXPECT_EQ(loop.now() - start, 3s);
}

TEST(Task, SpawnRunsToFirstSuspensionAndTasksInterleaveOnlyThere) {
  VirtualLoop loop;
  std::vector<std::string> trace;
  auto body = [&](std::string name, Duration d) -> Task<void> {
    trace.push_back(name + " start");
    co_await sleepFor(loop, d);
    trace.push_back(name + " end");
  };
  spawn(body("a", 2s));
  trace.push_back("after spawn");
  spawn(body("b", 1s));
  loop.advance(3s);
  EXPECT_EQ(trace, (std::vector<std::string>{"a start", "after spawn", "b start", "b end", "a end"}));
}

TEST(Task, ExceptionOfSpawnedTaskGoesToHandlerNotCaller) {
  VirtualLoop loop;
  std::string seen;
  setUnhandledTaskErrorHandler([&](const std::string& what) { seen = what; });
  auto boom = [&]() -> Task<void> {
    co_await sleepFor(loop, 1s);
    throw std::runtime_error("boom");
  };
  spawn(boom());
  EXPECT_NO_THROW(loop.advance(2s));
  EXPECT_EQ(seen, "boom");
  setUnhandledTaskErrorHandler(nullptr);
}

TEST(Task, ExceptionPropagatesToAwaitingParent) {
  VirtualLoop loop;
  auto child = []() -> Task<int> {
    throw std::logic_error("bad");
    co_return 1;
  };
  auto parent = [&]() -> Task<std::string> {
    try {
      co_await child();
    } catch (const std::logic_error& e) {
      co_return std::string(e.what());
    }
    co_return std::string("none");
  };
  EXPECT_EQ(runTask(loop, parent()), "bad");
}

TEST(Task, FirstOfContinuesWithFirstAndCancelsTheOther) {
  VirtualLoop loop;
  bool slowCompleted = true;
  bool fastCompleted = false;
  auto slow = [&]() -> Task<void> { slowCompleted = co_await sleepFor(loop, 10s); };
  auto fast = [&]() -> Task<void> { fastCompleted = co_await sleepFor(loop, 1500ms); };
  auto both = [&]() -> Task<std::size_t> {
    std::vector<Task<void>> tasks;
    tasks.push_back(slow());
    tasks.push_back(fast());
    co_return co_await firstOf(std::move(tasks));
  };
  Time start = loop.now();
  EXPECT_EQ(runTask(loop, both()), 1u);
  EXPECT_EQ(loop.now() - start, 1500ms);
  EXPECT_TRUE(fastCompleted);
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
  auto waiter = [&]() -> Task<int> {
    co_return co_await suspendUntil<int>([&](Resumer<int> r, CancelScope&) { saved.emplace(r); });
  };
  int got = 0;
  auto run = [&]() -> Task<void> { got = co_await waiter(); };
  spawn(run());
  (*saved)(7);
  (*saved)(8);  // a second answer, after the task went on, changes nothing
  EXPECT_EQ(got, 7);
}
