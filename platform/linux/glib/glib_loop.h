// The GLib main loop as the core's scheduler and clock.
#pragma once

#include <glib.h>

#include "base/scheduler.h"
#include "base/time.h"

namespace corvid::linux_platform {

// Posts and timers on the thread-default (normally the global default)
// main context. Timer callbacks run on the main loop at default priority.
class GLibScheduler : public Scheduler {
 public:
  void post(std::function<void()> fn) override;
  Timer after(Duration delay, std::function<void()> fn) override;
  Timer every(Duration interval, std::function<void()> fn) override;
};

class SystemClock : public Clock {
 public:
  Time now() const override { return std::chrono::system_clock::now(); }
};

// Starts `task` and iterates the default main context until it ends or
// `limit` passes (real time). For integration tests and tools: answers the
// result, or throws on time-out.
template <class T>
T runOnMainLoop(Task<T> task, Duration limit = std::chrono::seconds(60));

}  // namespace corvid::linux_platform

#include "platform/linux/glib/glib_loop_impl.h"
