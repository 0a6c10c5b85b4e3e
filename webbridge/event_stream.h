// Event streams: every accepted bridge event, delivered to any number of
// independent consumers.
//
// Each stream keeps the newest 256 events that its consumer has not taken
// yet; when a slow consumer lets more pile up, the oldest are dropped. A
// stream is read by one consumer, either a coroutine
//
//   auto stream = bridge.events();
//   while (auto event = co_await stream.next()) { ... }   // nothing once finished
//
// or a callback (forEach). The registry of open streams is guarded by one
// plain mutex that is never held while anything outside it runs, so that
// subscribing, broadcasting and termination (cancel or destruction of a
// stream, finishing every stream) may come from any thread.
#pragma once

#include <coroutine>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "base/cancel.h"
#include "base/task.h"
#include "webbridge/messages.h"

namespace webbridge {

// Runs a resumption of a waiting consumer. The bridge resumes waiting
// coroutines through its main loop, never inside the call that delivered
// the event; an empty executor resumes them at once, on the delivering
// thread.
using Executor = std::function<void(std::function<void()>)>;

namespace detail {

// One stream's buffer and consumer, shared by the stream and its entry in
// the registry (the continuation).
class StreamChannel {
 public:
  StreamChannel(std::size_t capacity, Executor executor);
  StreamChannel(const StreamChannel&) = delete;
  StreamChannel& operator=(const StreamChannel&) = delete;

  // Runs once when the stream ends, by finish or by cancel.
  void setOnTermination(std::function<void()> handler);

  // Producer side.
  void yield(const BridgeEvent& event);
  // Ends the stream; the consumer still gets what is buffered, then nothing.
  void finish();

  // Consumer side. Ends the stream at once and drops what is buffered.
  void cancel();
  // Takes the next event into `slot`, or registers `waiter` to be resumed
  // with it. Answers true when the caller should suspend.
  bool takeOrWait(std::optional<BridgeEvent>& slot, std::coroutine_handle<> waiter);
  void setCallbacks(std::function<void(const BridgeEvent&)> onEvent, std::function<void()> onFinish);
  bool isFinished() const;

 private:
  void resume(std::coroutine_handle<> waiter);
  void deliverCallbacks(std::unique_lock<std::mutex>& lock);
  void end(bool dropBuffered);

  const std::size_t capacity_;
  const Executor executor_;
  mutable std::mutex mutex_;
  std::deque<BridgeEvent> buffer_;
  bool finished_ = false;
  std::coroutine_handle<> waiter_;
  std::optional<BridgeEvent>* slot_ = nullptr;
  std::function<void(const BridgeEvent&)> onEvent_;
  std::function<void()> onFinish_;
  bool delivering_ = false;
  bool finishDelivered_ = false;
  std::function<void()> onTermination_;
};

}  // namespace detail

class EventStream {
 public:
  // An empty stream, finished from the start.
  EventStream() = default;
  explicit EventStream(std::shared_ptr<detail::StreamChannel> channel) : channel_(std::move(channel)) {}
  EventStream(EventStream&&) noexcept = default;
  EventStream& operator=(EventStream&& other) noexcept;
  EventStream(const EventStream&) = delete;
  EventStream& operator=(const EventStream&) = delete;
  // Ends the stream (as cancel()).
  ~EventStream();

  class NextAwaiter {
   public:
    explicit NextAwaiter(std::shared_ptr<detail::StreamChannel> channel) : channel_(std::move(channel)) {}
    bool await_ready() const noexcept { return !channel_; }
    template <class P>
    bool await_suspend(std::coroutine_handle<P> h) {
      return suspend(h, corvid::detail::scopeOf(h));
    }
    std::optional<BridgeEvent> await_resume() { return std::move(result_); }

   private:
    bool suspend(std::coroutine_handle<> h, const std::shared_ptr<corvid::CancelScope>& scope);
    std::shared_ptr<detail::StreamChannel> channel_;
    std::optional<BridgeEvent> result_;
    corvid::CancelRegistration cancelRegistration_;
  };

  // The next event; nothing once the stream has finished. When the awaiting
  // corvid::Task is cancelled, the stream ends and this answers nothing. One
  // consumer at a time: a stream is read either with next() or with
  // forEach, and a suspended consumer must not be destroyed.
  NextAwaiter next() { return NextAwaiter(channel_); }

  // Hands every event to `onEvent` (first those already buffered), then
  // calls `onFinish` once when the stream has ended. The calls run on the
  // thread that delivers, one at a time and in order.
  void forEach(std::function<void(const BridgeEvent&)> onEvent, std::function<void()> onFinish = {});

  // Ends the stream; buffered events are dropped.
  void cancel();
  bool isFinished() const;

 private:
  std::shared_ptr<detail::StreamChannel> channel_;
};

// The registry of open streams: a map from a stream's id to its
// continuation, read and changed only under one lock.
class EventSubscribers : public std::enable_shared_from_this<EventSubscribers> {
 public:
  static constexpr std::size_t kBufferLimit = 256;

  static std::shared_ptr<EventSubscribers> make(Executor resumeOn = {});
  EventSubscribers(const EventSubscribers&) = delete;
  EventSubscribers& operator=(const EventSubscribers&) = delete;

  // A new, independent stream that receives every event broadcast after
  // this call. After finishAll it answers a finished stream.
  EventStream subscribe();
  // Hands `event` to every open stream.
  void broadcast(const BridgeEvent& event);
  // Ends every open stream; later subscriptions end at once.
  void finishAll();
  std::size_t size() const;

 private:
  struct Private {};

 public:
  EventSubscribers(Private, Executor resumeOn) : executor_(std::move(resumeOn)) {}

 private:
  void remove(std::uint64_t id);

  const Executor executor_;
  mutable std::mutex mutex_;
  // Stream ids are drawn from a counter: unique for the registry's life.
  std::uint64_t nextId_ = 1;
  bool closed_ = false;
  std::map<std::uint64_t, std::shared_ptr<detail::StreamChannel>> continuations_;
};

}  // namespace webbridge
