// Cancellation shared by a task and the children it awaits.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace corvid {

class CancelScope;

// Keeps a cancellation callback registered; unregisters it when destroyed.
class CancelRegistration {
 public:
  CancelRegistration() = default;
  CancelRegistration(std::weak_ptr<CancelScope> scope, std::size_t id)
      : scope_(std::move(scope)), id_(id) {}
  CancelRegistration(CancelRegistration&& o) noexcept
      : scope_(std::move(o.scope_)), id_(std::exchange(o.id_, 0)) {}
  CancelRegistration& operator=(CancelRegistration&& o) noexcept {
    if (this != &o) {
      reset();
      scope_ = std::move(o.scope_);
      id_ = std::exchange(o.id_, 0);
    }
    return *this;
  }
  CancelRegistration(const CancelRegistration&) = delete;
  CancelRegistration& operator=(const CancelRegistration&) = delete;
  ~CancelRegistration() { reset(); }
  void reset();

 private:
  std::weak_ptr<CancelScope> scope_;
  std::size_t id_ = 0;
};

// The cancellation state of one task tree. A task awaiting a child shares
// its scope with it; a group (firstOf) gives its children a scope of their
// own that the parent's cancellation also cancels. Main thread only.
class CancelScope : public std::enable_shared_from_this<CancelScope> {
 public:
  static std::shared_ptr<CancelScope> make() { return std::make_shared<CancelScope>(); }
  // A scope that is cancelled with `parent` (and can be cancelled alone).
  static std::shared_ptr<CancelScope> childOf(const std::shared_ptr<CancelScope>& parent);

  ~CancelScope();

  bool cancelled() const { return cancelled_; }

  // Cancels the scope: every registered callback runs once, in order.
  void cancel();

  // Runs `fn` when the scope is cancelled; at once when it already is.
  [[nodiscard]] CancelRegistration onCancel(std::function<void()> fn);

 private:
  friend class CancelRegistration;
  void remove(std::size_t id);

  bool cancelled_ = false;
  std::size_t nextId_ = 1;
  std::vector<std::pair<std::size_t, std::function<void()>>> callbacks_;
  CancelRegistration parentLink_;
};

}  // namespace corvid
