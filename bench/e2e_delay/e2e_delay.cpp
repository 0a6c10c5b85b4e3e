// Sends N messages, one at a time, to a 40-thread test inbox while the real
// corvid watches it, and measures from the moment the page server queues
// each one until its push reaches the loopback relay. The messages are
// spaced by a random 0 to 2 seconds, so that they fall at every moment of
// the read loop, and alternate between two conversations:
//
//   read:   a conversation the user has read; after each push it is read
//           again elsewhere, so every message raises the page's badge.
//   unread: a conversation that is already unread; the badge cannot move.
//
//   bench_e2e_delay [N] [path/to/corvid]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "app_harness.h"

using namespace corvid::testing;
using Clock = std::chrono::steady_clock;

namespace {

double quantile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  double pos = q * static_cast<double>(v.size() - 1);
  auto lo = static_cast<std::size_t>(pos);
  std::size_t hi = std::min(lo + 1, v.size() - 1);
  return v[lo] + (pos - static_cast<double>(lo)) * (v[hi] - v[lo]);
}

void summary(const char* name, const std::vector<double>& v) {
  if (v.empty()) return;
  std::printf("%s: messages %zu  median %.3f s  p95 %.3f s  min %.3f s  max %.3f s\n", name, v.size(),
              quantile(v, 0.5), quantile(v, 0.95), *std::min_element(v.begin(), v.end()),
              *std::max_element(v.begin(), v.end()));
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 20;
  const std::string readThread = "34028236690000000006";    // read up to its newest message
  const std::string unreadThread = "34028236690000000001";  // holds unread messages from the start
  AppHarness app({.pairingSecrets = {"secret-1"},
                  .everWatched = true,
                  .pageOptions = {"--threads", "40"},
                  .executable = argc > 2 ? argv[2] : ""});
  app.start();
  if (!app.waitForLog("baseline: ", 60s)) {
    std::fprintf(stderr, "corvid did not read the inbox:\n%s\n", app.output().c_str());
    return 1;
  }
  app.waitUntil([] { return false; }, 3s);
  std::mt19937 random(42);
  std::uniform_int_distribution<int> gap(0, 2000);
  std::vector<double> read, unread;
  for (int i = 0; i < count; ++i) {
    const bool intoRead = i % 2 == 0;
    app.waitUntil([] { return false; }, Millis(gap(random)));
    const std::string text = "delay probe " + std::to_string(i);
    const std::size_t before = app.relay().count("/v1/push", text);
    const auto sent = Clock::now();
    app.page().sendEvent({{"type", "message"}, {"thread", intoRead ? readThread : unreadThread}, {"text", text}});
    if (!app.waitUntil([&] { return app.relay().count("/v1/push", text) > before; }, 20s)) {
      std::fprintf(stderr, "message %d never arrived\n", i);
      return 1;
    }
    const double delay = std::chrono::duration<double>(Clock::now() - sent).count();
    (intoRead ? read : unread).push_back(delay);
    std::printf("message %2d (%s): %.3f s\n", i, intoRead ? "read" : "unread", delay);
    if (intoRead) {
      // Read elsewhere: the badge drops again before the next message.
      const std::size_t badges = app.relay().count("/v1/push", "\"kind\":\"badge\"");
      app.page().sendEvent({{"type", "read"}, {"thread", readThread}});
      app.waitUntil([&] { return app.relay().count("/v1/push", "\"kind\":\"badge\"") > badges; }, 10s);
    }
  }
  summary("read conversation", read);
  summary("unread conversation", unread);
  return 0;
}
