#include "app/session_member.h"

namespace corvid {

void SessionMember::saveYourself(SessionSave save) {
  if (!save.shutdown) {
    // A checkpoint: settings are stored as they change, nothing is left to
    // save, and the application goes on.
    deps_.saveDone();
    return;
  }
  // No interaction is asked for: a system quit asks no question.
  deps_.quit.sessionEnding([done = deps_.saveDone] { done(); });
}

void SessionMember::die() { deps_.systemQuit(); }

void SessionMember::shutdownCancelled() { deps_.quit.sessionContinues(); }

}  // namespace corvid
