// Template part of glib_loop.h.
#pragma once

#include <optional>
#include <stdexcept>

namespace corvid::linux_platform {

template <class T>
T runOnMainLoop(Task<T> task, Duration limit) {
  std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> result;
  std::exception_ptr error;
  auto wrapper = [](Task<T> t, auto& out, std::exception_ptr& err) -> Task<void> {
    try {
      if constexpr (std::is_void_v<T>) {
        co_await std::move(t);
        out.emplace(true);
      } else {
        out.emplace(co_await std::move(t));
      }
    } catch (...) {
      err = std::current_exception();
    }
  };
  auto scope = spawn(wrapper(std::move(task), result, error));
  gint64 end = g_get_monotonic_time() + std::chrono::duration_cast<std::chrono::microseconds>(limit).count();
  while (!result && !error && g_get_monotonic_time() < end) {
    g_main_context_iteration(nullptr, FALSE) || (g_usleep(1000), true);
  }
  if (!result && !error) {
    scope->cancel();
    // Let the cancelled task wind down so that it does not outlive its
    // result slots.
    for (int i = 0; i < 1000 && !result && !error; ++i) g_main_context_iteration(nullptr, FALSE);
    throw std::runtime_error("task did not finish on the main loop in time");
  }
  if (error) std::rethrow_exception(error);
  if constexpr (!std::is_void_v<T>) return std::move(*result);
}

}  // namespace corvid::linux_platform
