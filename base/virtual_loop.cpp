#include "base/virtual_loop.h"

#include <algorithm>

namespace corvid {

VirtualLoop::VirtualLoop(Time start) : now_(start) {}

VirtualLoop::~VirtualLoop() { *alive_ = false; }

Time VirtualLoop::defaultStart() {
  // 2026-03-02 09:00:00 UTC
  return Time{} + std::chrono::seconds(1772442000);
}

void VirtualLoop::post(std::function<void()> fn) {
  // Posted work cannot be cancelled: it gets no handle.
  static_cast<void>(schedule(now_, Duration::zero(), std::move(fn)));
}

Timer VirtualLoop::after(Duration delay, std::function<void()> fn) {
  return handleFor(schedule(now_ + std::max(delay, Duration::zero()), Duration::zero(), std::move(fn)));
}

Timer VirtualLoop::every(Duration interval, std::function<void()> fn) {
  if (interval <= Duration::zero()) throw std::invalid_argument("repeating timer needs an interval");
  return handleFor(schedule(now_ + interval, interval, std::move(fn)));
}

std::uint64_t VirtualLoop::schedule(Time due, Duration interval, std::function<void()> fn) {
  std::uint64_t id = nextSeq_++;
  Key key{due, id};
  entries_.emplace(key, Entry{std::move(fn), interval, id});
  byId_.emplace(id, key);
  return id;
}

Timer VirtualLoop::handleFor(std::uint64_t id) {
  std::weak_ptr<bool> alive = alive_;
  return Timer([this, alive, id] {
    if (auto a = alive.lock(); a && *a) cancel(id);
  });
}

void VirtualLoop::cancel(std::uint64_t id) {
  auto it = byId_.find(id);
  if (it == byId_.end()) return;
  entries_.erase(it->second);
  byId_.erase(it);
}

bool VirtualLoop::runOne(Time limit) {
  if (entries_.empty()) return false;
  auto it = entries_.begin();
  if (it->first.first > limit) return false;
  Time due = it->first.first;
  Entry entry = std::move(it->second);
  entries_.erase(it);
  byId_.erase(entry.id);
  now_ = std::max(now_, due);
  if (entry.interval > Duration::zero()) {
    // Re-arm before running, under the same id, so that the callback can
    // cancel its own repeating timer.
    Key key{due + entry.interval, entry.id};
    auto fn = entry.fn;
    entries_.emplace(key, Entry{std::move(fn), entry.interval, entry.id});
    byId_.emplace(entry.id, key);
  }
  entry.fn();
  return true;
}

void VirtualLoop::runDue() {
  while (runOne(now_)) {
  }
}

void VirtualLoop::advance(Duration d) { advanceTo(now_ + d); }

void VirtualLoop::advanceTo(Time t) {
  while (runOne(t)) {
  }
  now_ = std::max(now_, t);
}

}  // namespace corvid
