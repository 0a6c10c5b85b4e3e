// Main-thread asynchronous tasks as C++20 coroutines.
//
// A `Task<T>` is a lazily started coroutine: nothing runs until it is
// awaited (`co_await child()`) or started with `spawn`. Every suspension
// point is a visible `co_await`; between two of them a task runs without
// interruption, because everything runs on the one main thread. Tasks that
// wait for a platform callback resume from the main loop.
//
// Cancellation follows the task tree: a child awaited with `co_await` shares
// its parent's `CancelScope`; `firstOf` gives its children a scope of their
// own. Leaf operations (sleeps, HTTP requests, script calls) look at the
// scope and stop early when it is cancelled. Cancellation never throws.
#pragma once

#include <coroutine>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/cancel.h"

namespace corvid {

// Called with a description of an exception that escaped a spawned task.
// The app routes it to the system log; the default writes to stderr. Such an
// exception ends only the task that threw it.
void setUnhandledTaskErrorHandler(std::function<void(const std::string&)> handler);
void reportUnhandledTaskError(std::exception_ptr error);

namespace detail {

struct PromiseBase {
  std::coroutine_handle<> continuation;
  std::shared_ptr<CancelScope> scope;
  std::exception_ptr error;
};

template <class P>
std::shared_ptr<CancelScope> scopeOf(std::coroutine_handle<P> h) {
  if constexpr (std::is_base_of_v<PromiseBase, P>) {
    return h.promise().scope;
  } else {
    return nullptr;
  }
}

template <class P>
struct FinalAwaiter {
  bool await_ready() noexcept { return false; }
  std::coroutine_handle<> await_suspend(std::coroutine_handle<P> h) noexcept {
    auto next = h.promise().continuation;
    return next ? next : std::noop_coroutine();
  }
  void await_resume() noexcept {}
};

}  // namespace detail

template <class T = void>
class [[nodiscard]] Task;

namespace detail {

template <class T>
struct TaskPromise : PromiseBase {
  std::optional<T> value;
  Task<T> get_return_object() noexcept;
  std::suspend_always initial_suspend() noexcept { return {}; }
  FinalAwaiter<TaskPromise> final_suspend() noexcept { return {}; }
  template <class U>
  void return_value(U&& v) {
    value.emplace(std::forward<U>(v));
  }
  void unhandled_exception() noexcept { error = std::current_exception(); }
  T take() {
    if (error) std::rethrow_exception(error);
    return std::move(*value);
  }
};

template <>
struct TaskPromise<void> : PromiseBase {
  Task<void> get_return_object() noexcept;
  std::suspend_always initial_suspend() noexcept { return {}; }
  FinalAwaiter<TaskPromise> final_suspend() noexcept { return {}; }
  void return_void() noexcept {}
  void unhandled_exception() noexcept { error = std::current_exception(); }
  void take() {
    if (error) std::rethrow_exception(error);
  }
};

}  // namespace detail

template <class T>
class [[nodiscard]] Task {
 public:
  using promise_type = detail::TaskPromise<T>;
  using Handle = std::coroutine_handle<promise_type>;

  Task() = default;
  explicit Task(Handle h) noexcept : h_(h) {}
  Task(Task&& o) noexcept : h_(std::exchange(o.h_, {})) {}
  Task& operator=(Task&& o) noexcept {
    if (this != &o) {
      if (h_) h_.destroy();
      h_ = std::exchange(o.h_, {});
    }
    return *this;
  }
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;
  ~Task() {
    if (h_) h_.destroy();
  }

  bool valid() const noexcept { return bool(h_); }

  struct Awaiter {
    Handle h;
    bool await_ready() const noexcept { return !h || h.done(); }
    template <class P>
    std::coroutine_handle<> await_suspend(std::coroutine_handle<P> parent) noexcept {
      h.promise().continuation = parent;
      if (!h.promise().scope) h.promise().scope = detail::scopeOf(parent);
      return h;
    }
    T await_resume() { return h.promise().take(); }
  };

  Awaiter operator co_await() && noexcept { return Awaiter{h_}; }
  Awaiter operator co_await() & noexcept { return Awaiter{h_}; }

  // For spawn and firstOf: the coroutine handle, and a way to give the task
  // its scope before it starts.
  Handle handle() const noexcept { return h_; }

 private:
  Handle h_;
};

namespace detail {

template <class T>
Task<T> TaskPromise<T>::get_return_object() noexcept {
  return Task<T>(std::coroutine_handle<TaskPromise<T>>::from_promise(*this));
}
inline Task<void> TaskPromise<void>::get_return_object() noexcept {
  return Task<void>(std::coroutine_handle<TaskPromise<void>>::from_promise(*this));
}

// A self-destroying coroutine frame that runs one task to its end.
struct Detached {
  struct promise_type : PromiseBase {
    Detached get_return_object() noexcept {
      return Detached{std::coroutine_handle<promise_type>::from_promise(*this)};
    }
    std::suspend_always initial_suspend() noexcept { return {}; }
    std::suspend_never final_suspend() noexcept { return {}; }
    void return_void() noexcept {}
    void unhandled_exception() noexcept { reportUnhandledTaskError(std::current_exception()); }
  };
  std::coroutine_handle<promise_type> h;
};

Detached runDetached(Task<void> task, std::function<void()> onDone);

}  // namespace detail

// Starts `task` now, as an independent task on the main thread: it runs until
// its first suspension before `spawn` returns. The task gets a scope of its
// own (returned, so that the caller may cancel it). An exception that escapes
// the task is reported to the unhandled-error handler, never to the caller.
std::shared_ptr<CancelScope> spawn(Task<void> task);

// Starts `task` like `spawn`, in a scope of its own that is cancelled with
// `parent` (and returned, so that it may also be cancelled alone).
std::shared_ptr<CancelScope> spawnIn(const std::shared_ptr<CancelScope>& parent, Task<void> task);

// The independent tasks an object starts, which must not outlive it: a task
// suspended in its object's coroutine would otherwise keep `this` and its
// frame forever, or resume into a destroyed object. `cancel` (called by the
// owner's destructor while its members still live, and by the destructor
// here) cancels every task, so that each one that waits on a leaf operation
// resumes at once and runs to its end; tasks started afterwards start
// cancelled. Declare it after the members those tasks use.
class OwnedTasks {
 public:
  OwnedTasks() = default;
  OwnedTasks(const OwnedTasks&) = delete;
  OwnedTasks& operator=(const OwnedTasks&) = delete;
  ~OwnedTasks() { cancel(); }

  void spawn(Task<void> task) { spawnIn(scope_, std::move(task)); }
  void cancel() { scope_->cancel(); }

 private:
  std::shared_ptr<CancelScope> scope_ = CancelScope::make();
};

// The scope of the running task (`co_await currentScope()`), for tasks that
// want to check for cancellation between steps.
struct CurrentScope {
  std::shared_ptr<CancelScope> scope;
  bool await_ready() const noexcept { return false; }
  template <class P>
  bool await_suspend(std::coroutine_handle<P> h) noexcept {
    scope = detail::scopeOf(h);
    return false;
  }
  std::shared_ptr<CancelScope> await_resume() noexcept { return scope; }
};
inline CurrentScope currentScope() { return {}; }

// ---------------------------------------------------------------------------
// Bridging callback-based operations into tasks.
//
//   T result = co_await suspendUntil<T>([&](Resumer<T> resume, CancelScope& scope) {
//     startOperation(..., [resume](T value) { resume(std::move(value)); });
//     return keepAlive;   // optional: kept until the task resumes
//   });
//
// The resumer may be called at most once that counts; later calls (a late
// answer after a time-out, say) are ignored, so callback state can safely
// outlive the waiting task. It may also be called before the starter
// returns. A starter may return an object (a timer, a cancel registration)
// that stays alive until the task resumes.

namespace detail {
template <class T>
struct ResumeState {
  std::coroutine_handle<> handle;
  std::optional<T> value;
  bool suspended = false;
  bool fired = false;
};
}  // namespace detail

template <class T>
class Resumer {
 public:
  explicit Resumer(std::shared_ptr<detail::ResumeState<T>> s) : s_(std::move(s)) {}
  void operator()(T value) const {
    if (s_->fired) return;
    s_->fired = true;
    s_->value.emplace(std::move(value));
    if (s_->suspended) s_->handle.resume();
  }
  bool done() const { return s_->fired; }

 private:
  std::shared_ptr<detail::ResumeState<T>> s_;
};

template <class T, class Starter>
class SuspendAwaiter {
  using Held = std::invoke_result_t<Starter&, Resumer<T>, CancelScope&>;

 public:
  explicit SuspendAwaiter(Starter starter) : starter_(std::move(starter)) {}
  bool await_ready() const noexcept { return false; }
  template <class P>
  bool await_suspend(std::coroutine_handle<P> h) {
    state_->handle = h;
    scope_ = detail::scopeOf(h);
    if (!scope_) scope_ = CancelScope::make();
    if constexpr (std::is_void_v<Held>) {
      starter_(Resumer<T>(state_), *scope_);
    } else {
      held_.emplace(starter_(Resumer<T>(state_), *scope_));
    }
    if (state_->fired) return false;
    state_->suspended = true;
    return true;
  }
  T await_resume() { return std::move(*state_->value); }

 private:
  struct Nothing {};
  Starter starter_;
  std::shared_ptr<detail::ResumeState<T>> state_ = std::make_shared<detail::ResumeState<T>>();
  std::shared_ptr<CancelScope> scope_;
  std::optional<std::conditional_t<std::is_void_v<Held>, Nothing, Held>> held_;
};

template <class T, class Starter>
SuspendAwaiter<T, std::decay_t<Starter>> suspendUntil(Starter&& starter) {
  return SuspendAwaiter<T, std::decay_t<Starter>>(std::forward<Starter>(starter));
}

// ---------------------------------------------------------------------------
// Structured concurrency: run tasks side by side, continue with the first.
//
// Starts every task at once in a group scope of its own (cancelled when the
// caller's scope is). When the first finishes, the group is cancelled, and
// once every task has wound down the caller resumes with the index of the
// task that finished first. Like a task group, the call never leaves a child
// running behind it.
Task<std::size_t> firstOf(std::vector<Task<void>> tasks);

// ---------------------------------------------------------------------------
// Driving a task from outside any task (a test, a benchmark, a loop runner):
// `record(task)` runs it and keeps how it ended; `take()` gives its value or
// rethrows its exception.
template <class T>
struct TaskOutcome {
  std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> value;
  std::exception_ptr error;

  bool done() const { return value.has_value() || error != nullptr; }
  Task<void> record(Task<T> task) {
    try {
      if constexpr (std::is_void_v<T>) {
        co_await std::move(task);
        value.emplace(true);
      } else {
        value.emplace(co_await std::move(task));
      }
    } catch (...) {
      error = std::current_exception();
    }
  }
  T take() {
    if (error) std::rethrow_exception(error);
    if constexpr (!std::is_void_v<T>) return std::move(*value);
  }
};

}  // namespace corvid
