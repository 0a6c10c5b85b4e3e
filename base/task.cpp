#include "base/task.h"

#include <cstdio>
#include <stdexcept>

namespace corvid {

namespace {

std::function<void(const std::string&)>& errorHandler() {
  static std::function<void(const std::string&)> handler;
  return handler;
}

}  // namespace

void setUnhandledTaskErrorHandler(std::function<void(const std::string&)> handler) {
  errorHandler() = std::move(handler);
}

void reportUnhandledTaskError(std::exception_ptr error) {
  std::string what = "unknown exception";
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
  }
  try {
    if (auto& h = errorHandler()) {
      h(what);
      return;
    }
  } catch (...) {
  }
  std::fprintf(stderr, "corvid: task ended by an exception: %s\n", what.c_str());
}

namespace detail {

Detached runDetached(Task<void> task, std::function<void()> onDone) {
  try {
    co_await std::move(task);
  } catch (...) {
    reportUnhandledTaskError(std::current_exception());
  }
  if (onDone) onDone();
}

}  // namespace detail

std::shared_ptr<CancelScope> spawn(Task<void> task) { return spawnIn(nullptr, std::move(task)); }

std::shared_ptr<CancelScope> spawnIn(const std::shared_ptr<CancelScope>& parent, Task<void> task) {
  auto scope = CancelScope::childOf(parent);
  auto d = detail::runDetached(std::move(task), nullptr);
  d.h.promise().scope = scope;
  d.h.resume();
  return scope;
}

namespace {

struct RaceState {
  std::coroutine_handle<> parent;
  std::shared_ptr<CancelScope> scope;
  std::size_t remaining = 0;
  std::optional<std::size_t> first;
  bool suspended = false;
};

class RaceAwaiter {
 public:
  explicit RaceAwaiter(std::vector<Task<void>> tasks) : tasks_(std::move(tasks)) {}
  bool await_ready() const noexcept { return tasks_.empty(); }
  template <class P>
  bool await_suspend(std::coroutine_handle<P> h) {
    st_->parent = h;
    st_->scope = CancelScope::childOf(detail::scopeOf(h));
    st_->remaining = tasks_.size();
    for (std::size_t i = 0; i < tasks_.size(); ++i) {
      auto st = st_;
      auto d = detail::runDetached(std::move(tasks_[i]), [st, i] {
        if (!st->first) {
          st->first = i;
          st->scope->cancel();
        }
        if (--st->remaining == 0 && st->suspended) st->parent.resume();
      });
      d.h.promise().scope = st_->scope;
      d.h.resume();
    }
    if (st_->remaining == 0) return false;
    st_->suspended = true;
    return true;
  }
  std::size_t await_resume() const { return st_->first.value_or(0); }

 private:
  std::vector<Task<void>> tasks_;
  std::shared_ptr<RaceState> st_ = std::make_shared<RaceState>();
};

}  // namespace

Task<std::size_t> firstOf(std::vector<Task<void>> tasks) {
  if (tasks.empty()) throw std::invalid_argument("firstOf needs at least one task");
  co_return co_await RaceAwaiter(std::move(tasks));
}

}  // namespace corvid
