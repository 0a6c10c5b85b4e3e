// A Watcher wired to fakes and virtual time, over a fake inbox page.
#pragma once

#include <algorithm>
#include <memory>

#include "base/log.h"
#include "base/settings.h"
#include "base/virtual_loop.h"
#include "scripts/page_scripts.h"
#include "support/fake_platform.h"
#include "watcher/watcher.h"

namespace corvid::testing {

// A watched inbox page: answers the page scripts from `rows` and `badge`
// like the real scripts would on the real page.
struct FakeInbox {
  std::vector<Json> rows;
  std::string viewer = "me";
  bool storeMissing = false;  // the snapshot finds no store (null)
  int badge = 0;
  int refetches = 0;
  // The Relay store's write epoch, when the page names its store reads
  // (mark and epoch) and answers the store wait; a test that changes `rows`
  // moves it on, as a store write does. A new mark stands for a new store.
  std::optional<double> epoch;
  std::string mark = "store-1";
  int fullReads = 0, unchangedReads = 0, storeWaits = 0;

  void attach(FakeWebView& view, Scheduler* scheduler = nullptr) {
    scheduler_ = scheduler;
    if (scheduler) {
      view.waitingBody = std::string(scripts::storeWaitSource());
      view.waitingScript = [this](Json arguments) { return storeWait(std::move(arguments)); };
    }
    view.scripts = [this](std::string_view body, const Json& arguments) -> ScriptResult {
      if (body == scripts::inboxSnapshotSource()) {
        if (storeMissing) return {std::nullopt, Json(nullptr)};
        if (epoch) {
          const Json since = arguments.value("unchangedSince", Json());
          if (since.is_object() && since.value("mark", "") == mark && since.value("epoch", -1.0) == *epoch) {
            ++unchangedReads;
            return {std::nullopt, Json{{"source", "unchanged"}, {"mark", mark}, {"epoch", *epoch}}};
          }
          ++fullReads;
          return {std::nullopt, Json{{"source", "connection"}, {"threads", rows}, {"viewerUsername", viewer},
                                     {"mark", mark}, {"epoch", *epoch}}};
        }
        return {std::nullopt, Json{{"source", "connection"}, {"threads", rows}, {"viewerUsername", viewer}}};
      }
      if (body == scripts::badgeSource()) return {std::nullopt, Json{{"badge", badge}}};
      if (body == scripts::storeRefetchSource()) ++refetches;
      return {std::nullopt, Json{{"ok", true}}};
    };
  }

  // A one-to-one thread whose newest message is `lastId`.
  static Json thread(const std::string& id, const std::string& lastId, double lastTs, Json recent,
                     Json extra = Json::object()) {
    Json r = {
        {"id", id},         {"key", "key-" + id}, {"title", "Friend " + id}, {"username", "friend_" + id},
        {"lastId", lastId}, {"lastTs", lastTs},   {"recent", recent}};
    r.update(extra);
    return r;
  }
  static Json message(const std::string& id, double ts, const std::string& text) {
    return Json{{"id", id}, {"ts", ts}, {"snippet", text}};
  }

 private:
  // The store wait as the page runs it: polls the epoch every `intervalMs`.
  Task<ScriptResult> storeWait(Json arguments) {
    ++storeWaits;
    if (!epoch) co_return ScriptResult{std::nullopt, Json{{"state", "unsupported"}, {"reason", "no epoch"}}};
    const double since = arguments["since"].is_number() ? arguments["since"].get<double>() : *epoch;
    const auto interval = std::chrono::milliseconds(arguments.value("intervalMs", 100));
    const auto limit = std::chrono::milliseconds(arguments.value("timeoutMs", 15000));
    for (auto waited = std::chrono::milliseconds(0);; waited += interval) {
      if (*epoch != since) co_return ScriptResult{std::nullopt, Json{{"state", "changed"}, {"epoch", *epoch}}};
      if (waited >= limit) co_return ScriptResult{std::nullopt, Json{{"state", "timeout"}, {"epoch", *epoch}}};
      co_await sleepFor(*scheduler_, interval);
    }
  }
  Scheduler* scheduler_ = nullptr;
};

struct WatcherHarness {
  VirtualLoop loop;
  MemorySettings settings;
  MemoryLog log;
  FakeWebEngine engine{loop};
  FakeNetworkMonitor network;
  FakeProcessActivity activity;
  FakeLoginItem loginItem;
  FakeTransport transport{loop};
  FakeNotifier notifier;
  std::unique_ptr<Watcher> watcher;
  FakeInbox page;

  Watcher& make() {
    watcher = std::make_unique<Watcher>(WatcherDependencies{
        loop, loop, settings, log, log, engine, network, activity, loginItem, transport, notifier,
        [] { return std::string("Test PC"); }, "https://relay.test.invalid", "https://www.instagram.com"});
    page.attach(web(), &loop);
    return *watcher;
  }
  FakeWebView& web() { return *engine.last; }

  void storePairing(const std::string& secret = "s1") {
    settings.setString(
        "pushPairings",
        R"([{"secret":")" + secret + R"(","deviceModel":"iPhone","environment":"production","pairedAt":0}])");
  }

  // The bodies sent to `path`, and one field of each.
  std::vector<Json> sent(const std::string& path) const {
    std::vector<Json> out;
    for (const auto& r : transport.requests) {
      if (pathOf(r) == path) out.push_back(jsonOf(r));
    }
    return out;
  }
  std::vector<std::string> field(const std::string& path, const std::string& name) const {
    std::vector<std::string> out;
    for (const auto& body : sent(path)) out.push_back(body[name]);
    return out;
  }
  // How many activity-log lines start with `prefix`.
  long logged(const std::string& prefix) const {
    return std::count_if(log.lines.begin(), log.lines.end(),
                         [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
  }
};

}  // namespace corvid::testing
