// The one overall verdict on whether Corvid is doing its job.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/time.h"

namespace corvid {

struct Health {
  enum class Kind { loginNeeded, serverProblem, starting, offline, readProblem, noPhone, ok };

  Kind kind = Kind::starting;
  bool firstTime = false;  // loginNeeded: a login the user has yet to make
  std::string message;     // serverProblem: the relay client's own text

  static Health loginNeeded(bool firstTime) { return {Kind::loginNeeded, firstTime, {}}; }
  static Health serverProblem(std::string message) { return {Kind::serverProblem, false, std::move(message)}; }
  static Health starting() { return {Kind::starting, false, {}}; }
  static Health offline() { return {Kind::offline, false, {}}; }
  static Health readProblem() { return {Kind::readProblem, false, {}}; }
  static Health noPhone() { return {Kind::noPhone, false, {}}; }
  static Health ok() { return {Kind::ok, false, {}}; }

  bool operator==(const Health&) const = default;
};

// What the verdict is derived from.
struct HealthInputs {
  std::string sessionState;
  bool offline = false;
  std::optional<Time> lastReadAt;
  Time startedAt;
  bool everWatched = false;
  bool loggedOutByUser = false;
  bool hasPairings = false;
  std::optional<std::string> connectionProblem;
  std::optional<std::string> deliveryProblem;
  bool hasNtfyTopic = false;  // an ntfy topic reaches a phone too
  std::optional<std::string> ntfyProblem;
};

// The first rule that applies, in priority order: a logged-out session
// hides every other problem, being offline hides read problems, read
// problems hide phone and relay problems.
Health deriveHealth(const HealthInputs& in, Time now);

}  // namespace corvid
