// A counted reference to a GObject.
#pragma once

#include <glib-object.h>

#include <utility>

namespace webbridge {

template <class T>
class GRef {
 public:
  GRef() = default;
  // Takes over a reference the caller owns (the result of a *_new call).
  static GRef adopt(T* object) {
    GRef r;
    r.p_ = object;
    return r;
  }
  // Adds a reference of its own; a floating reference stays floating.
  static GRef ref(T* object) {
    GRef r;
    r.p_ = object ? static_cast<T*>(g_object_ref(object)) : nullptr;
    return r;
  }
  // Takes over a floating reference (a new widget nobody holds yet), or adds
  // a reference when there is none floating.
  static GRef sink(T* object) {
    GRef r;
    r.p_ = object ? static_cast<T*>(g_object_ref_sink(object)) : nullptr;
    return r;
  }
  GRef(const GRef& o) : p_(o.p_ ? static_cast<T*>(g_object_ref(o.p_)) : nullptr) {}
  GRef(GRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  GRef& operator=(GRef o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~GRef() {
    if (p_) g_object_unref(p_);
  }

  T* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

}  // namespace webbridge
