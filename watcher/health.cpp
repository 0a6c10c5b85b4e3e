#include "watcher/health.h"

namespace corvid {

Health deriveHealth(const HealthInputs& in, Time now) {
  if (in.sessionState == "logged_out") return Health::loginNeeded(!in.everWatched || in.loggedOutByUser);
  if (in.offline) return Health::offline();
  if (!in.lastReadAt) {
    // Starting holds while strictly less than 45 seconds have passed.
    return secondsBetween(in.startedAt, now) < 45.0 ? Health::starting() : Health::readProblem();
  }
  // A last read exactly 45 seconds old still counts as recent.
  if (secondsBetween(*in.lastReadAt, now) > 45.0) return Health::readProblem();
  if (!in.hasPairings && !in.hasNtfyTopic) return Health::noPhone();
  // The relay's problems count only while a phone is paired through it.
  if (in.hasPairings && in.connectionProblem) return Health::serverProblem(*in.connectionProblem);
  if (in.hasPairings && in.deliveryProblem) return Health::serverProblem(*in.deliveryProblem);
  if (in.hasNtfyTopic && in.ntfyProblem) return Health::serverProblem(*in.ntfyProblem);
  return Health::ok();
}

}  // namespace corvid
