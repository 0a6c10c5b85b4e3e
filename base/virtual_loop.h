// A main loop in virtual time, for tests and benchmarks: it implements both
// the scheduler and the clock. Time stands still until the test advances it;
// advancing runs every timer and posted function that falls due, in time
// order, with the clock set to each one's due time. So "130 seconds of failed
// reads" take milliseconds.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>

#include "base/scheduler.h"
#include "base/time.h"

namespace corvid {

class VirtualLoop : public Scheduler, public Clock {
 public:
  // Starts at `start` (by default 2026-03-02 09:00:00 UTC, a fixed date so
  // that tests do not depend on the day they run).
  explicit VirtualLoop(Time start = defaultStart());
  ~VirtualLoop() override;

  static Time defaultStart();

  Time now() const override { return now_; }
  void post(std::function<void()> fn) override;
  Timer after(Duration delay, std::function<void()> fn) override;
  Timer every(Duration interval, std::function<void()> fn) override;

  // Runs what is due now (posted work included), without moving time.
  void runDue();
  // Moves time forward by `d`, running everything that falls due on the way.
  void advance(Duration d);
  // Moves time to `t` (not backwards).
  void advanceTo(Time t);
  // Number of scheduled timers and posted functions still waiting.
  std::size_t pending() const { return entries_.size(); }

 private:
  struct Entry {
    std::function<void()> fn;
    Duration interval{};  // zero for one-shot work
    std::uint64_t id = 0;
  };
  using Key = std::pair<Time, std::uint64_t>;  // due time, then order of scheduling
  std::uint64_t schedule(Time due, Duration interval, std::function<void()> fn);
  Timer handleFor(std::uint64_t id);
  void cancel(std::uint64_t id);
  bool runOne(Time limit);

  Time now_;
  std::uint64_t nextSeq_ = 1;
  std::map<Key, Entry> entries_;
  std::map<std::uint64_t, Key> byId_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Starts `task` on `loop` and runs the loop until the task ends, advancing
// virtual time as far as needed (at most `limit`). Returns the task's result;
// throws when the task did not finish within the limit.
template <class T>
T runTask(VirtualLoop& loop, Task<T> task, Duration limit = std::chrono::hours(24)) {
  TaskOutcome<T> outcome;
  spawn(outcome.record(std::move(task)));
  Time end = loop.now() + limit;
  while (!outcome.done()) {
    loop.runDue();
    if (outcome.done()) break;
    if (loop.now() >= end) throw std::runtime_error("task did not finish in virtual time");
    loop.advance(std::min<Duration>(std::chrono::milliseconds(10), end - loop.now()));
  }
  return outcome.take();
}

}  // namespace corvid
