// Median in-engine time of one inbox snapshot call (script run, result
// conversion and JSON parsing into native values) on test inbox stores of
// 300 and 3000 threads with 20 messages each, and the web process's
// resident memory over 1000 consecutive snapshots.
//
//   bench_inbox_snapshot [runs [threads...]]   (default: 30 runs, 300 and 3000 threads)
//
// The memory check (1000 snapshots) runs on the 300-thread store.
#include <glib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "page_server.h"
#include "platform/linux/glib/glib_loop.h"
#include "platform/linux/web/webkit_engine.h"
#include "platform_glib/test_support.h"
#include "scripts/page_scripts.h"

using namespace corvid;
using namespace corvid::linux_platform;
using namespace std::chrono_literals;

namespace {

bool waitFor(WebView& view, const std::string& condition, Duration limit) {
  GLibScheduler scheduler;
  auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    ScriptResult r = runOnMainLoop(view.callAsyncJavaScript(condition, Json::object(), kPageWorld), 60s);
    if (!r.failed() && r.value && *r.value == true) return true;
    runOnMainLoop(sleepFor(scheduler, 200ms));
  }
  return false;
}

// Resident memory (kB) of the web content processes below this process.
long webProcessRssKb() {
  long total = 0;
  for (pid_t pid : corvid::testing::descendantsNamed("WebKitWebProces")) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("VmRSS:", 0) == 0) total += std::stol(line.substr(6));
    }
  }
  return total;
}

// Median of `runs` timings of `body` (with the snapshot's arguments).
double medianMs(WebView& view, const std::string& body, int runs) {
  std::vector<double> times;
  for (int i = 0; i < runs; i++) {
    auto start = std::chrono::steady_clock::now();
    runOnMainLoop(view.callAsyncJavaScript(body, scripts::snapshotArguments(), kPageWorld), 60s);
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

double snapshotMs(WebView& view, size_t* rows) {
  auto start = std::chrono::steady_clock::now();
  auto result = runOnMainLoop(scripts::runInboxSnapshot(view), 60s);
  auto end = std::chrono::steady_clock::now();
  if (rows) *rows = result ? (*result)["threads"].size() : 0;
  return std::chrono::duration<double, std::milli>(end - start).count();
}

void measure(WebKitEngine& engine, int threads, int runs, bool memory) {
  corvid::testing::PageServer server({"--threads", std::to_string(threads), "--messages", "20"});
  WebViewConfiguration configuration;
  configuration.persistentDataStore = false;
  auto view = engine.createWebView(configuration, 420, 800);
  view->load(server.url("/direct/inbox/?nopoll=1&first=" + std::to_string(threads)));
  if (!waitFor(*view,
               "return !!window.__corvidTest && window.__corvidTest.rowKeys().length >= " +
                   std::to_string(threads),
               180s)) {
    std::printf("%d threads: the page did not load\n", threads);
    return;
  }
  size_t rows = 0;
  for (int i = 0; i < 3; i++) snapshotMs(*view, &rows);
  std::vector<double> times;
  for (int i = 0; i < runs; i++) times.push_back(snapshotMs(*view, &rows));
  std::sort(times.begin(), times.end());
  std::printf("%d threads x 20 messages: %zu rows, median %.1f ms, p90 %.1f ms, min %.1f ms (%d runs)\n",
              threads, rows, times[times.size() / 2], times[times.size() * 9 / 10], times.front(), runs);
  // The parts: the script alone (its result kept in the page, nothing
  // returned), and handing back an already made result.
  const std::string inner =
      "const r = await (async () => {\n" + std::string(scripts::inboxSnapshotSource()) + "\n})();\n";
  double scriptOnly = medianMs(*view, inner + "window.__corvidBenchResult = r; return 0;", runs);
  double conversion = medianMs(*view, "return window.__corvidBenchResult;", runs);
  std::printf("  parts: script alone %.1f ms, handing back its result %.1f ms\n", scriptOnly, conversion);
  if (!memory) return;
  std::printf("  web process RSS before: %ld kB\n", webProcessRssKb());
  for (int i = 1; i <= 1000; i++) {
    snapshotMs(*view, nullptr);
    if (i % 250 == 0) std::printf("  after %4d snapshots: %ld kB\n", i, webProcessRssKb());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (!gtk_init_check(nullptr, nullptr)) {
    std::fprintf(stderr, "no display\n");
    return 1;
  }
  int runs = argc > 1 ? std::atoi(argv[1]) : 30;
  char* dir = g_dir_make_tmp("corvid-bench-XXXXXX", nullptr);
  std::string root = dir;
  g_free(dir);
  {
    WebKitEngine engine(WebKitEngineOptions{root + "/data", root + "/cache", 60s, 120s});
    std::vector<int> sizes;
    for (int i = 2; i < argc; i++) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {300, 3000};
    for (int threads : sizes) measure(engine, threads, runs, threads == 300);
  }
  std::filesystem::remove_all(root);
  return 0;
}
