// Sends N messages, one at a time, to the test inbox while the real corvid
// watches it, and measures from the moment the page server queues each one
// until its push reaches the loopback relay. The messages are spaced by a
// random 0 to 2 seconds, so that they fall at every phase of the 2-second
// read loop.
//
//   bench_e2e_delay [N] [read|unread]
//
// "read" (the default): after each push the conversation is read elsewhere,
// so the next message raises the page's badge, as a message in a read
// conversation does. "unread": the conversation stays unread, the badge
// does not move, and every push waits the full 1.5 seconds the Watcher
// gives the page to raise its badge.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "app_harness.h"

using namespace corvid::testing;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 20;
  const bool readEach = !(argc > 2 && std::string(argv[2]) == "unread");
  const std::string thread = "34028236690000000006";
  AppHarness app({.pairingSecrets = {"secret-1"}, .everWatched = true});
  app.start();
  if (!app.waitForLog("baseline: ", 60s)) {
    std::fprintf(stderr, "corvid did not read the inbox:\n%s\n", app.output().c_str());
    return 1;
  }
  std::mt19937 random(42);
  std::uniform_int_distribution<int> gap(0, 2000);
  std::vector<double> delays;
  for (int i = 0; i < count; ++i) {
    app.waitUntil([] { return false; }, Millis(gap(random)));
    const std::string text = "delay probe " + std::to_string(i);
    const std::size_t before = app.relay().count("/v1/push", text);
    const auto sent = Clock::now();
    app.page().sendEvent({{"type", "message"}, {"thread", thread}, {"text", text}});
    if (!app.waitUntil([&] { return app.relay().count("/v1/push", text) > before; }, 20s)) {
      std::fprintf(stderr, "message %d never arrived\n", i);
      return 1;
    }
    delays.push_back(std::chrono::duration<double>(Clock::now() - sent).count());
    std::printf("message %2d: %.3f s\n", i, delays.back());
    if (readEach) {
      const std::size_t badges = app.relay().count("/v1/push", "\"kind\":\"badge\"");
      app.page().sendEvent({{"type", "read"}, {"thread", thread}});
      app.waitUntil([&] { return app.relay().count("/v1/push", "\"kind\":\"badge\"") > badges; }, 10s);
    }
  }
  std::sort(delays.begin(), delays.end());
  auto at = [&](double q) {
    double pos = q * static_cast<double>(delays.size() - 1);
    auto lo = static_cast<std::size_t>(pos);
    std::size_t hi = std::min(lo + 1, delays.size() - 1);
    return delays[lo] + (pos - static_cast<double>(lo)) * (delays[hi] - delays[lo]);
  };
  std::printf("%s: messages %zu  median %.3f s  p95 %.3f s  min %.3f s  max %.3f s\n",
              readEach ? "read conversation" : "unread conversation", delays.size(), at(0.5),
              at(0.95), delays.front(), delays.back());
  return 0;
}
