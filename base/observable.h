// Observable objects with published properties.
//
// A long-lived model object (the Watcher, the push client, the window
// router) derives from ObservableObject. Each published property announces
// the coming change on the owner's `objectWillChange` signal before the new
// value is stored, like a Combine publisher; views that listen schedule a
// re-render and read the new values after the change. `changed` of the
// property itself fires after the store, with the new value.
#pragma once

#include <sigc++/sigc++.h>

#include <utility>

namespace corvid {

class ObservableObject {
 public:
  ObservableObject() = default;
  ObservableObject(const ObservableObject&) = delete;
  ObservableObject& operator=(const ObservableObject&) = delete;
  virtual ~ObservableObject() = default;

  // Emitted before every change of a published property.
  sigc::signal<void()>& objectWillChange() { return willChange_; }

 protected:
  void announceChange() { willChange_.emit(); }

 private:
  sigc::signal<void()> willChange_;
};

template <class T>
class Published {
 public:
  Published(ObservableObject& owner, T initial) : owner_(owner), value_(std::move(initial)) {}
  Published(const Published&) = delete;
  Published& operator=(const Published&) = delete;

  const T& get() const { return value_; }
  const T& operator()() const { return value_; }
  operator const T&() const { return value_; }  // NOLINT: reads like the value
  const T* operator->() const { return &value_; }

  // Announces the change on the owner, then stores the value, then emits
  // `changed`. Every assignment announces, also one that stores an equal value.
  void set(T v) {
    owner_.objectWillChange().emit();
    value_ = std::move(v);
    changed_.emit(value_);
  }
  Published& operator=(T v) {
    set(std::move(v));
    return *this;
  }

  // Emitted after each assignment, with the new value.
  sigc::signal<void(const T&)>& changed() { return changed_; }

 private:
  ObservableObject& owner_;
  T value_;
  sigc::signal<void(const T&)> changed_;
};

}  // namespace corvid
