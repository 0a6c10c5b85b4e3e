#include "base/scheduler.h"

namespace corvid {

Task<bool> sleepFor(Scheduler& scheduler, Duration delay) {
  struct Held {
    Timer timer;
    CancelRegistration cancel;
  };
  co_return co_await suspendUntil<bool>([&](Resumer<bool> resume, CancelScope& scope) {
    Held held;
    held.cancel = scope.onCancel([resume] { resume(false); });
    if (!resume.done()) held.timer = scheduler.after(delay, [resume] { resume(true); });
    return held;
  });
}

}  // namespace corvid
