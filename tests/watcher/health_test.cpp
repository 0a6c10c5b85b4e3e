#include <gtest/gtest.h>

#include "watcher/health.h"

using namespace corvid;
using namespace std::chrono_literals;

namespace {

struct Case {
  const char* name;
  HealthInputs in;
  Duration sinceStart;
  std::optional<Duration> sinceRead;
  Health expected;
};

}  // namespace

TEST(Health, PriorityOrderAndTheTwoFortyFiveSecondEdges) {
  Time now = Time{} + 1000000s;
  auto base = [] {
    HealthInputs in;
    in.sessionState = "ok";
    in.everWatched = true;
    in.hasPairings = true;
    return in;
  };
  auto with = [&](auto f) {
    HealthInputs in = base();
    f(in);
    return in;
  };
  std::vector<Case> cases = {
      {"fresh install on the login page", with([](auto& i) { i.sessionState = "logged_out"; i.everWatched = false; }),
       10s, std::nullopt, Health::loginNeeded(true)},
      {"session ran out while watching", with([](auto& i) { i.sessionState = "logged_out"; }), 10s, 1s,
       Health::loginNeeded(false)},
      {"logged out by the user", with([](auto& i) { i.sessionState = "logged_out"; i.loggedOutByUser = true; }), 10s,
       1s, Health::loginNeeded(true)},
      {"logged out and offline", with([](auto& i) { i.sessionState = "logged_out"; i.offline = true; }), 10s, 1s,
       Health::loginNeeded(false)},
      {"offline hides read problems", with([](auto& i) { i.offline = true; }), 500s, 400s, Health::offline()},
      {"no read yet, 44.9 s", base(), 44900ms, std::nullopt, Health::starting()},
      {"no read yet, exactly 45 s", base(), 45s, std::nullopt, Health::readProblem()},
      {"last read exactly 45 s old", base(), 500s, 45s, Health::ok()},
      {"last read 45.1 s old", base(), 500s, 45100ms, Health::readProblem()},
      {"no phone, even with a relay problem",
       with([](auto& i) { i.hasPairings = false; i.connectionProblem = "down"; }), 500s, 1s, Health::noPhone()},
      {"connection problem wins over delivery problem",
       with([](auto& i) { i.connectionProblem = "conn"; i.deliveryProblem = "deliv"; }), 500s, 1s,
       Health::serverProblem("conn")},
      {"delivery problem", with([](auto& i) { i.deliveryProblem = "deliv"; }), 500s, 1s,
       Health::serverProblem("deliv")},
      {"error state is not shown by itself", with([](auto& i) { i.sessionState = "error"; }), 500s, 2s, Health::ok()},
  };
  for (auto& c : cases) {
    c.in.startedAt = now - c.sinceStart;
    if (c.sinceRead) c.in.lastReadAt = now - *c.sinceRead;
    EXPECT_EQ(deriveHealth(c.in, now), c.expected) << c.name;
  }
}
