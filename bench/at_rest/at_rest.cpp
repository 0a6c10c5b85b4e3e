// What watching costs: the CPU time and resident memory of the real corvid
// (its UI process and every process below it: WebKit's web, network and
// sandbox processes) while it watches a 40-thread test inbox, read from
// /proc. CPU time is the process's own (utime + stime), so other jobs on
// the machine do not count, though they can slow corvid down.
//
//   bench_at_rest [quiet minutes] [minutes with one message a minute]
//                 [quiet minutes after] [path/to/corvid]
//
// Prints the CPU share of one core for each phase, and the resident size of
// the UI process and of the web processes every minute.
#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app_harness.h"

using namespace corvid::testing;
using Clock = std::chrono::steady_clock;

namespace {

struct Proc {
  pid_t pid = 0;
  pid_t parent = 0;
  std::string name;
  double cpu = 0;  // utime + stime, seconds
  long rssKb = 0;
};

std::map<pid_t, Proc> allProcesses() {
  std::map<pid_t, Proc> out;
  const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
  DIR* dir = opendir("/proc");
  if (!dir) return out;
  while (dirent* e = readdir(dir)) {
    char* end = nullptr;
    long pid = std::strtol(e->d_name, &end, 10);
    if (*end || pid <= 0) continue;
    std::ifstream stat("/proc/" + std::string(e->d_name) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // The name is in parentheses and may hold anything; fields follow the last ')'.
    auto open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    Proc p;
    p.pid = static_cast<pid_t>(pid);
    p.name = line.substr(open + 1, close - open - 1);
    std::istringstream rest(line.substr(close + 2));
    std::vector<std::string> f;
    for (std::string s; rest >> s;) f.push_back(s);
    if (f.size() < 22) continue;
    // f[0] is field 3 (state): ppid is field 4, utime 14, stime 15, rss 24 (pages).
    p.parent = static_cast<pid_t>(std::stol(f[1]));
    p.cpu = (std::stod(f[11]) + std::stod(f[12])) / tick;
    p.rssKb = std::stol(f[21]) * (sysconf(_SC_PAGESIZE) / 1024);
    out[p.pid] = p;
  }
  closedir(dir);
  return out;
}

// The UI process and its descendants.
struct Sample {
  double uiCpu = 0, webCpu = 0;
  long uiRss = 0, webRss = 0;
  std::vector<std::string> names;
};

Sample sample(pid_t ui) {
  auto procs = allProcesses();
  Sample s;
  std::vector<pid_t> todo = {ui};
  while (!todo.empty()) {
    pid_t p = todo.back();
    todo.pop_back();
    for (const auto& [pid, proc] : procs) {
      if (proc.parent != p) continue;
      todo.push_back(pid);
      s.webCpu += proc.cpu;
      s.webRss += proc.rssKb;
      s.names.push_back(proc.name);
    }
  }
  if (auto it = procs.find(ui); it != procs.end()) {
    s.uiCpu = it->second.cpu;
    s.uiRss = it->second.rssKb;
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const int quiet = argc > 1 ? std::atoi(argv[1]) : 10;
  const int busy = argc > 2 ? std::atoi(argv[2]) : 10;
  const int after = argc > 3 ? std::atoi(argv[3]) : 10;
  AppHarness app({.pairingSecrets = {"secret-1"},
                  .everWatched = true,
                  .pageOptions = {"--threads", "40"},
                  .executable = argc > 4 ? argv[4] : ""});
  app.start();
  if (!app.waitForLog("baseline: ", 60s)) {
    std::fprintf(stderr, "corvid did not read the inbox:\n%s\n", app.output().c_str());
    return 1;
  }
  app.waitUntil([] { return false; }, 30s);  // settle after loading
  const pid_t ui = app.pid();
  {
    Sample s = sample(ui);
    std::printf("processes:");
    for (const auto& n : s.names) std::printf(" %s", n.c_str());
    std::printf("\n");
  }
  std::printf("minute  UI RSS kB  web RSS kB  UI CPU s  web CPU s\n");
  const Sample first = sample(ui);
  std::printf("%6d  %9ld  %10ld  %8.2f  %9.2f\n", 0, first.uiRss, first.webRss, first.uiCpu, first.webCpu);
  std::fflush(stdout);

  struct Phase {
    const char* name;
    int minutes;
    bool messages;
  };
  const Phase phases[] = {{"quiet", quiet, false}, {"one message a minute", busy, true}, {"quiet again", after, false}};
  int minute = 0;
  int sent = 0;
  std::vector<std::string> results;
  for (const Phase& phase : phases) {
    const Sample start = sample(ui);
    const auto began = Clock::now();
    for (int m = 0; m < phase.minutes; ++m) {
      if (phase.messages) {
        const std::string text = "rest probe " + std::to_string(sent++);
        app.page().sendEvent({{"type", "message"}, {"thread", "34028236690000000006"}, {"text", text}});
        app.waitUntil([&] { return app.relay().count("/v1/push", text) > 0; }, 20s);
      }
      app.waitUntil([] { return false; }, std::chrono::duration_cast<Millis>(began + std::chrono::minutes(m + 1) -
                                                                              Clock::now()));
      const Sample s = sample(ui);
      std::printf("%6d  %9ld  %10ld  %8.2f  %9.2f\n", ++minute, s.uiRss, s.webRss, s.uiCpu, s.webCpu);
      std::fflush(stdout);
    }
    if (phase.minutes == 0) continue;
    const Sample end = sample(ui);
    const double wall = std::chrono::duration<double>(Clock::now() - began).count();
    char line[256];
    std::snprintf(line, sizeof line, "%s, %d min: UI %.2f %%  web %.2f %%  total %.2f %% of one core", phase.name,
                  phase.minutes, 100 * (end.uiCpu - start.uiCpu) / wall, 100 * (end.webCpu - start.webCpu) / wall,
                  100 * (end.uiCpu + end.webCpu - start.uiCpu - start.webCpu) / wall);
    results.push_back(line);
  }
  for (const auto& r : results) std::printf("%s\n", r.c_str());
  std::printf("pushed messages: %zu of %d\n", app.relay().count("/v1/push", "rest probe"), sent);
  return 0;
}
