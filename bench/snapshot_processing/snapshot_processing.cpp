// What the Watcher does natively with one snapshot of a 3000-thread inbox:
// parse the JSON text the page returns, read the thread rows, and run change
// detection against the previous read (steady state: nothing new, the case
// of almost every tick; and one new message).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "watcher/change_detection.h"
#include "watcher/snapshot_reader.h"

#include <nlohmann/json.hpp>

using namespace corvid;
using nlohmann::json;

namespace {

const Time kNow = Time{} + std::chrono::seconds(1772442000);

// A thread row with every field the snapshot script returns, diagnostic ones
// included, and five recent entries.
json row(int i, int version) {
  double ts = unixMillis(kNow) - 1000.0 * i - (version ? 0 : 1);
  std::string id = "3401" + std::to_string(100000 + i);
  json recent = json::array();
  for (int m = 0; m < 5; ++m) {
    recent.push_back({{"id", "mid.$" + id + "." + std::to_string(m + version)},
                      {"ts", ts - 60000.0 * m},
                      {"snippet", "메시지 미리보기 " + std::to_string(m) + " with some text"}});
  }
  json members = json::array({{{"username", "friend" + std::to_string(i)},
                               {"fullName", "친구 " + std::to_string(i)},
                               {"avatar", "https://cdn.example/p/" + id + ".jpg"},
                               {"verified", false}}});
  return {{"key", id}, {"id", id}, {"fbid", id}, {"connMask", 1}, {"recIdLen", 24},
          {"title", "친구 " + std::to_string(i)}, {"username", "friend" + std::to_string(i)},
          {"members", members}, {"snippet", "메시지 미리보기 0 with some text"}, {"previewKind", "message"},
          {"newestInfo", "mine=false type=TEXT content=XFBIGDirectSlideMessageText text=20 snip=20 tomb=n"},
          {"lastInfo", "mine=false type=TEXT content=XFBIGDirectSlideMessageText text=20 snip=20 tomb=n"},
          {"skipped", false}, {"signature", "them|TEXT|XFBIGDirectSlideMessageText|text|xxxxx"},
          {"resolvedUnreadCount", i % 7 == 0 ? 1 : 0}, {"resolvedIsUnread", i % 7 == 0},
          {"resolvedTitle", ""}, {"contentType", "TEXT"}, {"lastId", "mid.$" + id + "." + std::to_string(version)},
          {"lastMine", false}, {"unreadCount", i % 7 == 0 ? 1 : 0}, {"fetchedMessages", 20}, {"lastTs", ts},
          {"watermark", ts - 1}, {"hasReceipt", true}, {"markedUnread", false},
          {"msgInfo", "sm_first_20:20:3600s unreadTypes="}, {"unreadSenders", 0}, {"reactionTs", 0},
          {"reactionEmoji", ""}, {"reactionByMe", false}, {"reactionOnMine", false}, {"reactionKeys", ""},
          {"ts", ts}, {"sortBase", ts}, {"activityTs", ts}, {"unread", i % 7 == 0}, {"isGroup", false},
          {"isPin", false}, {"isMuted", false}, {"folder", "INBOX"}, {"systemFolder", "INBOX"},
          {"avatars", json::array({"https://cdn.example/p/" + id + ".jpg"})}, {"sortTs", ts}, {"order", i},
          {"fromConnection", true}, {"recent", recent}};
}

std::string snapshotText(int rows, int newMessageInRow) {
  json threads = json::array();
  for (int i = 0; i < rows; ++i) threads.push_back(row(i, i == newMessageInRow ? 1 : 0));
  return json{{"threads", threads}, {"total", rows}, {"hasNext", true}, {"source", "connection"},
              {"connKey", "__XDTMailbox_connection(folder:INBOX)"}, {"viewerUsername", "me"}}
      .dump();
}

std::vector<ThreadRow> rowsOf(const std::string& text) { return std::move(readSnapshot(text)->rows); }

void process(benchmark::State& state, int newMessageInRow) {
  const int n = static_cast<int>(state.range(0));
  const std::string baseline = snapshotText(n, -1);
  const std::string next = snapshotText(n, newMessageInRow);
  // Made and dropped outside the timed part: a tick only updates it.
  DetectionState detection{{}, {}, false, kNow};
  for (auto _ : state) {
    state.PauseTiming();
    detection = DetectionState{{}, {}, false, kNow - std::chrono::hours(1)};
    detectChanges(rowsOf(baseline), detection, true, kNow);
    state.ResumeTiming();
    std::vector<ThreadRow> rows = rowsOf(next);
    int unread = countUnread(rows);
    DetectionResult r = detectChanges(rows, detection, true, kNow);
    benchmark::DoNotOptimize(unread);
    benchmark::DoNotOptimize(r);
  }
  state.counters["bytes"] = static_cast<double>(next.size());
}

// Change detection alone, over rows already read, nothing new.
void BM_DetectionOnly(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<ThreadRow> baseline = rowsOf(snapshotText(n, -1));
  DetectionState detection{{}, {}, false, kNow - std::chrono::hours(1)};
  detectChanges(baseline, detection, true, kNow);
  for (auto _ : state) {
    DetectionResult r = detectChanges(baseline, detection, true, kNow);
    benchmark::DoNotOptimize(r);
  }
}

void BM_SnapshotNothingNew(benchmark::State& state) { process(state, -1); }
void BM_SnapshotOneNewMessage(benchmark::State& state) { process(state, 0); }

}  // namespace

BENCHMARK(BM_SnapshotNothingNew)->Arg(3000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SnapshotOneNewMessage)->Arg(3000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectionOnly)->Arg(3000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
