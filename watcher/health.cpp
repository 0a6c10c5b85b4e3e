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
  if (!in.hasPairings) return Health::noPhone();
  if (in.connectionProblem) return Health::serverProblem(*in.connectionProblem);
  if (in.deliveryProblem) return Health::serverProblem(*in.deliveryProblem);
  return Health::ok();
}

}  // namespace corvid
