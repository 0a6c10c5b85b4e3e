// Template part of glib_loop.h.
#pragma once

#include <optional>
#include <stdexcept>

namespace corvid::linux_platform {

template <class T>
T runOnMainLoop(Task<T> task, Duration limit) {
  TaskOutcome<T> outcome;
  auto scope = spawn(outcome.record(std::move(task)));
  gint64 end = g_get_monotonic_time() + std::chrono::duration_cast<std::chrono::microseconds>(limit).count();
  while (!outcome.done() && g_get_monotonic_time() < end) {
    g_main_context_iteration(nullptr, FALSE) || (g_usleep(1000), true);
  }
  if (!outcome.done()) {
    scope->cancel();
    // Let the cancelled task wind down so that it does not outlive its
    // outcome.
    for (int i = 0; i < 1000 && !outcome.done(); ++i) g_main_context_iteration(nullptr, FALSE);
    throw std::runtime_error("task did not finish on the main loop in time");
  }
  return outcome.take();
}

}  // namespace corvid::linux_platform
