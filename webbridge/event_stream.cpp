#include "webbridge/event_stream.h"

#include <stdexcept>
#include <utility>
#include <vector>

namespace webbridge {

namespace detail {

StreamChannel::StreamChannel(std::size_t capacity, Executor executor)
    : capacity_(capacity), executor_(std::move(executor)) {}

void StreamChannel::setOnTermination(std::function<void()> handler) {
  std::lock_guard lock(mutex_);
  onTermination_ = std::move(handler);
}

void StreamChannel::resume(std::coroutine_handle<> waiter) {
  if (executor_) {
    executor_([waiter] { waiter.resume(); });
  } else {
    waiter.resume();
  }
}

void StreamChannel::yield(const BridgeEvent& event) {
  std::unique_lock lock(mutex_);
  if (finished_) return;
  if (waiter_) {
    auto waiter = std::exchange(waiter_, {});
    std::exchange(slot_, nullptr)->emplace(event);
    lock.unlock();
    resume(waiter);
    return;
  }
  buffer_.push_back(event);
  if (buffer_.size() > capacity_) buffer_.pop_front();
  if (onEvent_ && !delivering_) deliverCallbacks(lock);
}

// Hands the buffer to the callbacks, one event at a time, with the lock
// released during each call. Only one thread delivers at a time; events that
// arrive meanwhile are picked up by the loop.
void StreamChannel::deliverCallbacks(std::unique_lock<std::mutex>& lock) {
  delivering_ = true;
  while (true) {
    if (!buffer_.empty()) {
      BridgeEvent event = std::move(buffer_.front());
      buffer_.pop_front();
      auto onEvent = onEvent_;
      lock.unlock();
      onEvent(event);
      lock.lock();
      continue;
    }
    if (finished_ && !finishDelivered_) {
      finishDelivered_ = true;
      auto onFinish = onFinish_;
      lock.unlock();
      if (onFinish) onFinish();
      lock.lock();
      continue;
    }
    break;
  }
  delivering_ = false;
}

void StreamChannel::end(bool dropBuffered) {
  std::unique_lock lock(mutex_);
  if (dropBuffered) buffer_.clear();
  if (finished_) return;
  finished_ = true;
  // A waiting consumer means an empty buffer: it wakes up with nothing.
  auto waiter = std::exchange(waiter_, {});
  slot_ = nullptr;
  auto termination = std::exchange(onTermination_, nullptr);
  if (onEvent_ && !delivering_) deliverCallbacks(lock);
  lock.unlock();
  if (waiter) resume(waiter);
  if (termination) termination();
}

void StreamChannel::finish() { end(false); }

void StreamChannel::cancel() { end(true); }

bool StreamChannel::takeOrWait(std::optional<BridgeEvent>& slot, std::coroutine_handle<> waiter) {
  std::lock_guard lock(mutex_);
  if (!buffer_.empty()) {
    slot.emplace(std::move(buffer_.front()));
    buffer_.pop_front();
    return false;
  }
  if (finished_) return false;
  if (waiter_ || onEvent_) throw std::logic_error("an event stream has one consumer at a time");
  waiter_ = waiter;
  slot_ = &slot;
  return true;
}

void StreamChannel::setCallbacks(std::function<void(const BridgeEvent&)> onEvent,
                                 std::function<void()> onFinish) {
  std::unique_lock lock(mutex_);
  if (waiter_ || onEvent_) throw std::logic_error("an event stream has one consumer at a time");
  onEvent_ = std::move(onEvent);
  onFinish_ = std::move(onFinish);
  if (!onEvent_) onEvent_ = [](const BridgeEvent&) {};
  if (!delivering_) deliverCallbacks(lock);
}

bool StreamChannel::isFinished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

}  // namespace detail

bool EventStream::NextAwaiter::suspend(std::coroutine_handle<> h,
                                       const std::shared_ptr<corvid::CancelScope>& scope) {
  if (scope) {
    // A cancelled consumer ends its stream, which wakes it with nothing.
    std::weak_ptr<detail::StreamChannel> weak = channel_;
    cancelRegistration_ = scope->onCancel([weak] {
      if (auto channel = weak.lock()) channel->cancel();
    });
  }
  return channel_->takeOrWait(result_, h);
}

EventStream& EventStream::operator=(EventStream&& other) noexcept {
  if (this != &other) {
    cancel();
    channel_ = std::move(other.channel_);
  }
  return *this;
}

EventStream::~EventStream() { cancel(); }

void EventStream::forEach(std::function<void(const BridgeEvent&)> onEvent, std::function<void()> onFinish) {
  if (!channel_) {
    if (onFinish) onFinish();
    return;
  }
  channel_->setCallbacks(std::move(onEvent), std::move(onFinish));
}

void EventStream::cancel() {
  if (channel_) channel_->cancel();
}

bool EventStream::isFinished() const { return !channel_ || channel_->isFinished(); }

std::shared_ptr<EventSubscribers> EventSubscribers::make(Executor resumeOn) {
  return std::make_shared<EventSubscribers>(Private{}, std::move(resumeOn));
}

EventStream EventSubscribers::subscribe() {
  auto channel = std::make_shared<detail::StreamChannel>(kBufferLimit, executor_);
  std::uint64_t id;
  {
    std::lock_guard lock(mutex_);
    id = nextId_++;
  }
  // The termination handler holds the registry weakly, never the bridge.
  std::weak_ptr<EventSubscribers> weak = weak_from_this();
  channel->setOnTermination([weak, id] {
    if (auto registry = weak.lock()) registry->remove(id);
  });
  bool closed;
  {
    std::lock_guard lock(mutex_);
    closed = closed_;
    if (!closed) continuations_.emplace(id, channel);
  }
  if (closed) channel->finish();
  return EventStream(std::move(channel));
}

void EventSubscribers::broadcast(const BridgeEvent& event) {
  std::vector<std::shared_ptr<detail::StreamChannel>> targets;
  {
    std::lock_guard lock(mutex_);
    targets.reserve(continuations_.size());
    for (const auto& [id, channel] : continuations_) targets.push_back(channel);
  }
  for (const auto& channel : targets) channel->yield(event);
}

void EventSubscribers::finishAll() {
  std::map<std::uint64_t, std::shared_ptr<detail::StreamChannel>> open;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    open.swap(continuations_);
  }
  // Finishing runs each stream's termination handler, which takes the lock
  // again; so it happens only after the lock is released.
  for (const auto& [id, channel] : open) channel->finish();
}

std::size_t EventSubscribers::size() const {
  std::lock_guard lock(mutex_);
  return continuations_.size();
}

void EventSubscribers::remove(std::uint64_t id) {
  std::shared_ptr<detail::StreamChannel> removed;
  {
    std::lock_guard lock(mutex_);
    auto it = continuations_.find(id);
    if (it == continuations_.end()) return;
    removed = std::move(it->second);
    continuations_.erase(it);
  }
}

}  // namespace webbridge
