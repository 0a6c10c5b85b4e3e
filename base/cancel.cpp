#include "base/cancel.h"

namespace corvid {

void CancelRegistration::reset() {
  if (id_ == 0) return;
  if (auto s = scope_.lock()) s->remove(id_);
  id_ = 0;
  scope_.reset();
}

std::shared_ptr<CancelScope> CancelScope::childOf(const std::shared_ptr<CancelScope>& parent) {
  auto child = make();
  if (parent) {
    std::weak_ptr<CancelScope> weak = child;
    child->parentLink_ = parent->onCancel([weak] {
      if (auto c = weak.lock()) c->cancel();
    });
  }
  return child;
}

CancelScope::~CancelScope() = default;

void CancelScope::cancel() {
  if (cancelled_) return;
  cancelled_ = true;
  auto keepAlive = weak_from_this().lock();
  // A callback may unregister later ones while it runs (for example by
  // resuming a task that then drops its registrations), so take them one at
  // a time from the front of the list.
  while (!callbacks_.empty()) {
    auto fn = std::move(callbacks_.front().second);
    callbacks_.erase(callbacks_.begin());
    if (fn) fn();
  }
}

CancelRegistration CancelScope::onCancel(std::function<void()> fn) {
  if (cancelled_) {
    fn();
    return {};
  }
  std::size_t id = nextId_++;
  callbacks_.emplace_back(id, std::move(fn));
  return CancelRegistration(weak_from_this(), id);
}

void CancelScope::remove(std::size_t id) {
  for (auto it = callbacks_.begin(); it != callbacks_.end(); ++it) {
    if (it->first == id) {
      callbacks_.erase(it);
      return;
    }
  }
}

}  // namespace corvid
