#include "platform/linux/glib/glib_loop.h"

#include <memory>

namespace corvid::linux_platform {

namespace {

struct Source {
  std::function<void()> fn;
  bool repeating = false;
  guint id = 0;
  bool done = false;  // fired (one-shot) or cancelled
};

gboolean dispatch(gpointer data) {
  auto* s = static_cast<std::shared_ptr<Source>*>(data);
  auto source = *s;  // keep alive while the callback runs
  if (source->done) return G_SOURCE_REMOVE;
  if (!source->repeating) source->done = true;
  try {
    source->fn();
  } catch (...) {
    reportUnhandledTaskError(std::current_exception());
  }
  return source->repeating && !source->done ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void destroy(gpointer data) { delete static_cast<std::shared_ptr<Source>*>(data); }

Timer add(Duration d, std::function<void()> fn, bool repeating) {
  auto source = std::make_shared<Source>();
  source->fn = std::move(fn);
  source->repeating = repeating;
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
  if (ms < 0) ms = 0;
  source->id = g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(ms), dispatch,
                                  new std::shared_ptr<Source>(source), destroy);
  std::weak_ptr<Source> weak = source;
  return Timer([weak] {
    auto s = weak.lock();
    if (!s || s->done) return;
    s->done = true;
    g_source_remove(s->id);
  });
}

}  // namespace

void GLibScheduler::post(std::function<void()> fn) {
  auto* held = new std::function<void()>(std::move(fn));
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        try {
          (*static_cast<std::function<void()>*>(data))();
        } catch (...) {
          reportUnhandledTaskError(std::current_exception());
        }
        return G_SOURCE_REMOVE;
      },
      held, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

Timer GLibScheduler::after(Duration delay, std::function<void()> fn) { return add(delay, std::move(fn), false); }

Timer GLibScheduler::every(Duration interval, std::function<void()> fn) {
  return add(interval, std::move(fn), true);
}

}  // namespace corvid::linux_platform
