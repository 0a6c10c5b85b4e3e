#include <gtest/gtest.h>

#include "watcher/health.h"

using namespace corvid;
using namespace std::chrono_literals;

TEST(Health, PriorityOrderAndTheFortyFiveSecondEdges) {
  struct Case {
    const char* name;
    std::string session = "ok";
    bool offline = false, everWatched = true, byUser = false, paired = true;
    std::optional<std::string> connection = {}, delivery = {};
    Duration sinceStart = 500s;
    std::optional<Duration> sinceRead = 1s;
    Health expected = Health::ok();
  };
  const char* out = "logged_out";
  const Health first = Health::loginNeeded(true), lost = Health::loginNeeded(false);
  const Health offline = Health::offline(), noPhone = Health::noPhone();
  auto server = Health::serverProblem;
  const Case cases[] = {
      {.name = "fresh install", .session = out, .everWatched = false, .sinceRead = {}, .expected = first},
      {.name = "session ran out while watching", .session = out, .expected = lost},
      {.name = "logged out by the user", .session = out, .byUser = true, .expected = first},
      {.name = "logged out and offline", .session = out, .offline = true, .expected = lost},
      {.name = "offline hides read problems", .offline = true, .sinceRead = 400s, .expected = offline},
      {.name = "no read yet, 44.9 s", .sinceStart = 44900ms, .sinceRead = {}, .expected = Health::starting()},
      {.name = "no read yet, 45 s", .sinceStart = 45s, .sinceRead = {}, .expected = Health::readProblem()},
      {.name = "last read 45 s old", .sinceRead = 45s},
      {.name = "last read 45.1 s old", .sinceRead = 45100ms, .expected = Health::readProblem()},
      {.name = "no phone, even with relay problems", .paired = false, .connection = "x", .expected = noPhone},
      {.name = "connection problem wins", .connection = "c", .delivery = "d", .expected = server("c")},
      {.name = "delivery problem", .delivery = "d", .expected = server("d")},
      {.name = "error state is not shown by itself", .session = "error"},
  };
  const Time now = Time{} + 1000000s;
  for (const auto& c : cases) {
    HealthInputs in{c.session, c.offline, std::nullopt, now - c.sinceStart, c.everWatched,
                    c.byUser,  c.paired,  c.connection, c.delivery, false, {}};
    if (c.sinceRead) in.lastReadAt = now - *c.sinceRead;
    EXPECT_EQ(deriveHealth(in, now), c.expected) << c.name;
  }
}
