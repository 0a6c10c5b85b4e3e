// The async runtime, the virtual loop, observables, in-memory settings and
// the Korean time format.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "base/korean_time.h"
#include "base/observable.h"
#include "base/settings.h"
#include "base/task.h"
#include "base/virtual_loop.h"

using namespace corvid;
using namespace std::chrono_literals;

TEST(Task, SpawnRunsToTheFirstSuspensionAndExceptionsGoToTheParentOrTheHandler) {
  VirtualLoop loop;
  std::vector<std::string> trace;
  auto body = [&](std::string name, Duration d) -> Task<void> {
    trace.push_back(name + " start");
    co_await sleepFor(loop, d);
    if (name != "a") throw std::logic_error(name);
  };
  std::string seen;
  setUnhandledTaskErrorHandler([&](const std::string& what) { seen += what; });
  spawn(body("a", 2s));
  trace.push_back("after spawn");
  spawn(body("b", 1s));
  loop.advance(3s);
  EXPECT_EQ(trace, (std::vector<std::string>{"a start", "after spawn", "b start"}));
  // An awaiting parent gets its child's exception instead.
  EXPECT_THROW(runTask(loop, body("c", 1s)), std::logic_error);
  setUnhandledTaskErrorHandler(nullptr);
  EXPECT_EQ(seen, "b");
}

TEST(Task, FirstOfAndCancellingReachAwaitedChildrenAndLateAnswersAreIgnored) {
  VirtualLoop loop;
  std::vector<bool> slept;  // what each cancelled sleep answered
  auto sleeper = [&](Duration d) -> Task<void> { slept.push_back(co_await sleepFor(loop, d)); };
  auto both = [&]() -> Task<std::size_t> {
    std::vector<Task<void>> tasks;
    tasks.push_back(sleeper(10s));
    tasks.push_back(sleeper(1500ms));
    co_return co_await firstOf(std::move(tasks));
  };
  EXPECT_EQ(runTask(loop, both()), 1u);
  EXPECT_EQ(loop.now() - VirtualLoop::defaultStart(), 1500ms);
  EXPECT_EQ(slept, (std::vector<bool>{true, false}));  // the slow one ended at once, answering false
  EXPECT_EQ(loop.pending(), 0u);

  slept.clear();
  auto outer = [&]() -> Task<void> {
    co_await sleeper(5s);
    slept.push_back(co_await sleepFor(loop, 5s));  // already cancelled: returns at once
  };
  auto scope = spawn(outer());
  loop.advance(1s);
  scope->cancel();
  EXPECT_EQ(slept, (std::vector<bool>{false, false}));

  // A resumer ignores a second, late answer.
  std::optional<Resumer<int>> saved;
  int got = 0;
  auto wait = [&]() -> Task<void> {
    got = co_await suspendUntil<int>([&](Resumer<int> r, CancelScope&) { saved.emplace(r); });
  };
  spawn(wait());
  (*saved)(7);
  (*saved)(8);
  EXPECT_EQ(got, 7);
}

TEST(Observable, ObjectWillChangeComesBeforeTheStoreAndChangedAfterIt) {
  struct Model : ObservableObject {
    Published<int> value{*this, 1};
  } m;
  std::vector<std::string> seen;
  m.objectWillChange().connect([&] { seen.push_back("will " + std::to_string(m.value.get())); });
  m.value.changed().connect([&](const int& v) { seen.push_back("changed " + std::to_string(v)); });
  m.value = 2;
  m.value = 2;  // an equal value announces too
  EXPECT_EQ(seen, (std::vector<std::string>{"will 1", "changed 2", "will 2", "changed 2"}));
}

TEST(MemorySettings, KindsStayApartAndEveryWriteCounts) {
  MemorySettings s;
  s.setBool("b", true);
  s.setString("t", "x");
  EXPECT_EQ(s.boolValue("b"), true);
  EXPECT_EQ(s.boolValue("t"), std::nullopt);  // a text is no boolean
  s.remove("b");
  EXPECT_FALSE(s.contains("b"));
  EXPECT_EQ(s.writes(), 3);
}

TEST(KoreanTime, ClockAndMonthDayTimesAndTheDayFollowTheTimeZone) {
  const Time afternoon = Time{} + std::chrono::seconds(1764947250);  // 2025-12-05 15:07:30 UTC
  KoreanTimeFormat utc("UTC");
  KoreanTimeFormat seoul("Asia/Seoul");  // UTC+9: already the 6th, after midnight
  EXPECT_EQ(utc.clockTime(afternoon), "오후 3:07");
  EXPECT_EQ(utc.clockTime(afternoon - 15h - 7min), "오전 12:00");
  EXPECT_EQ(seoul.monthDayTime(afternoon), "12월 6일 오전 12:07");
  EXPECT_TRUE(utc.sameDay(afternoon, afternoon + 8h + 50min));  // 23:57 UTC
  EXPECT_FALSE(seoul.sameDay(afternoon - 10min, afternoon));    // 23:57 and 00:07 in Seoul
}
