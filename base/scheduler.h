// The main loop as seen by the core: posted work, one-shot and repeating
// timers. The Linux build runs them on the GLib main loop; tests use the
// virtual loop, whose time moves only when the test advances it.
#pragma once

#include <functional>
#include <utility>

#include "base/task.h"
#include "base/time.h"

namespace corvid {

// Owns a scheduled timer; destroying or cancelling it stops the timer.
// Cancelling a one-shot timer that already fired (also from inside its own
// callback) does nothing.
class Timer {
 public:
  Timer() = default;
  explicit Timer(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
  Timer(Timer&& o) noexcept : cancel_(std::exchange(o.cancel_, nullptr)) {}
  Timer& operator=(Timer&& o) noexcept {
    if (this != &o) {
      cancel();
      cancel_ = std::exchange(o.cancel_, nullptr);
    }
    return *this;
  }
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;
  ~Timer() { cancel(); }

  void cancel() {
    if (auto c = std::exchange(cancel_, nullptr)) c();
  }
  explicit operator bool() const { return bool(cancel_); }

 private:
  std::function<void()> cancel_;
};

class Scheduler {
 public:
  virtual ~Scheduler() = default;
  // Runs `fn` on the main loop soon, after the current work.
  virtual void post(std::function<void()> fn) = 0;
  // Runs `fn` once, `delay` from now.
  [[nodiscard]] virtual Timer after(Duration delay, std::function<void()> fn) = 0;
  // Runs `fn` every `interval`, the first time one interval from now.
  [[nodiscard]] virtual Timer every(Duration interval, std::function<void()> fn) = 0;
};

// Suspends the calling task for `delay`. Answers true when the time passed,
// false when the task's scope was cancelled first (then it returns at once).
Task<bool> sleepFor(Scheduler& scheduler, Duration delay);

}  // namespace corvid
