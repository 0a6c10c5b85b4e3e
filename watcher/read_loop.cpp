// The read loop: one tick every 2 seconds looks where the web view is and
// reads the inbox, recognises a login page, or steers a stray page back.
#include <algorithm>
#include <array>

#include "base/json_text.h"
#include "base/url.h"
#include "scripts/page_scripts.h"
#include "watcher/snapshot_reader.h"
#include "watcher/watcher.h"

namespace corvid {

namespace {

using namespace std::chrono_literals;

std::string firstPathComponent(const std::string& path) {
  std::size_t i = 0;
  while (i < path.size()) {
    std::size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    if (j > i) return path.substr(i, j - i);
    i = j + 1;
  }
  return "-";
}

}  // namespace

bool Watcher::isLoginPath(std::string_view path) {
  static constexpr std::array<std::string_view, 5> prefixes = {"/accounts/", "/challenge", "/auth_platform",
                                                               "/two_factor", "/consent"};
  for (auto p : prefixes) {
    if (path.substr(0, p.size()) == p) return true;
  }
  return false;
}

Task<bool> Watcher::hasSessionCookie() {
  std::vector<Cookie> cookies = co_await webView_->allCookies();
  for (const Cookie& c : cookies) {
    if (c.name != "sessionid" || c.value.empty()) continue;
    // The cookie's domain is the service's domain or one under it.
    std::string domain = c.domain;
    if (!domain.empty() && domain.front() == '.') domain.erase(0, 1);
    if (domain == serviceDomain_ ||
        (domain.size() > serviceDomain_.size() &&
         domain.compare(domain.size() - serviceDomain_.size(), serviceDomain_.size(), serviceDomain_) == 0 &&
         domain[domain.size() - serviceDomain_.size() - 1] == '.')) {
      co_return true;
    }
  }
  co_return false;
}

Task<void> Watcher::tick() {
  tickAt_ = now();
  const std::string path = urlPath(webView_->url().value_or(""));

  if (isLoginPath(path)) {
    auto set = setSession("logged_out", "login page");
    co_await std::move(set);
    if (secondsBetween(lastTickLog_, now()) > 60.0) {
      lastTickLog_ = now();
      deps_.log.log("tick: login page (" + firstPathComponent(path) + ")");
    }
    co_return;
  }

  // The inbox, and conversation pages ("/direct/t/…"), are read.
  if (path.rfind("/direct", 0) == 0) {
    co_await readInbox();
    co_return;
  }

  if (path.empty() || webView_->isLoading()) co_return;

  if (!co_await hasSessionCookie()) {
    auto set = setSession("logged_out", "no session");
    co_await std::move(set);
    co_return;
  }
  if (!inspecting_ && secondsBetween(lastInboxNavigation_, now()) > 15.0) {
    lastInboxNavigation_ = now();
    reload("not inbox");
  }
}

Task<void> Watcher::readInbox(bool hinted) {
  // The snapshot of a large inbox is megabytes of JSON every 2 seconds: it
  // comes back as text and is read straight into thread rows. Within 60 s
  // of a full read, on the same page address, the page may instead answer
  // "unchanged" when its store has taken no write since.
  Json arguments = scripts::snapshotArguments();
  std::optional<ReadMark> asked;
  const std::string url = webView_->url().value_or("");
  if (readMark_ && detection_.baselineDone && url == readMark_->url && secondsBetween(lastFullRead_, now()) < 60.0) {
    asked = readMark_;
    arguments["unchangedSince"] = Json{{"mark", asked->mark}, {"epoch", asked->epoch}};
  }
  Task<ScriptTextResult> call = webView_->callAsyncJavaScriptText(scripts::inboxSnapshotSource(), arguments);
  ScriptTextResult result = co_await std::move(call);
  if (hinted) hintedSnapshot_ = false;
  std::optional<SnapshotRead> read;
  if (!result.failed() && result.json) {
    read = readSnapshot(*result.json);
    if (!read) read = readSnapshot(replaceLoneSurrogates(*result.json));
  }
  result.json.reset();
  const bool unchanged = read && read->unchanged() && asked && read->mark == asked->mark;
  if (unchanged && (!readMark_ || readMark_->mark != asked->mark)) co_return;  // a reload came in between
  if (!unchanged && (!read || !read->accepted)) {
    std::optional<std::string> source;
    if (read) source = read->source;
    Task<void> failed = failedRead(std::move(source));
    co_await std::move(failed);
    co_return;
  }

  lastSuccessfulRead_ = now();
  reloadScheduled_ = false;
  lastReadAt_ = now();
  std::vector<ThreadRow> rows;
  if (!unchanged) {
    lastFullRead_ = now();
    threads_ = static_cast<int>(read->rows.size());
    if (!read->viewerUsername.empty() && read->viewerUsername != viewerUsername_.get()) {
      viewerUsername_ = read->viewerUsername;
    }
    if (!read->mark.empty() && read->epoch) {
      readMark_ = ReadMark{read->mark, *read->epoch, url};
    } else {
      readMark_.reset();
    }
    // The first read of a store starts following it.
    if (!read->mark.empty() && !following_ && read->mark != followedMark_) {
      following_ = true;
      followedMark_ = read->mark;
      tasks_.spawn(followStore(read->epoch));
    }
    rows = std::move(read->rows);
  }
  read.reset();

  const int badgeBefore = igBadge_;
  co_await readBadge();

  // Change detection runs in one go, without suspension: a tick that starts
  // while this one waits for the badge or delivers already sees the updated
  // maps and does not announce the same messages again. An unchanged store
  // holds the rows of the last full read, which detection has seen already.
  DetectionResult detected;
  bool badgeCanRise = true;
  if (unchanged) {
    detected.rows = threads_;
    detected.unread = unread_;
  } else {
    unread_ = countUnread(rows);
    detected = detectChanges(rows, detection_, includeSnippet_, now());
    // The badge counts unread conversations: messages only into threads
    // that were unread already cannot raise it.
    badgeCanRise = !std::all_of(detected.eventThreads.begin(), detected.eventThreads.end(),
                                [&](const std::string& id) { return unreadThreads_.count(id) > 0; });
    unreadThreads_.clear();
    for (const ThreadRow& row : rows) {
      if (row.unread && !row.id.empty()) unreadThreads_.insert(row.id);
    }
    rows.clear();
  }
  if (detected.baseline) deps_.log.log(baselineLine(detected));
  if (detected.changed > 0 || secondsBetween(lastTickLog_, now()) > 300.0) {
    lastTickLog_ = now();
    deps_.log.log(tickLine(detected));
  }

  if (sessionState_.get() != "ok") {
    auto set = setSession("ok", "");
    co_await std::move(set);
  }

  if (!detected.events.empty()) {
    // Give the page up to 1.5 seconds to raise its badge, so that the
    // notification carries the new count.
    for (int i = 0; badgeCanRise && i < 15 && igBadge_ == badgeBefore; ++i) {
      co_await sleepFor(deps_.scheduler, 100ms);
      co_await readBadge();
    }
    co_await deliver(std::move(detected.events));
  } else {
    co_await badgeOnlyNotification();
  }

  if (secondsBetween(lastRefetch_, now()) > 300.0) {
    lastRefetch_ = now();
    co_await refetchStore();
  } else {
    // Every 300 seconds; every 30 while the relay has a connection problem;
    // every 20 while notifications wait in the outbox: a report that gets
    // through sends them at once, so a relay that answers again is noticed
    // well within half a minute even after a long back-off.
    double interval = push_->waitingCount() > 0 ? 20.0 : push_->connectionProblem() ? 30.0 : 300.0;
    if (secondsBetween(lastHeartbeat_, now()) > interval) {
      auto report = sendStatus("ok");
      co_await std::move(report);
    }
  }
}

Task<void> Watcher::followStore(std::optional<double> since) {
  const std::weak_ptr<Watcher*> alive = alive_;
  for (;;) {
    std::optional<Json> answer = co_await scripts::runStoreWait(*webView_, since, 15s, 100ms);
    if (alive.expired()) co_return;
    const Json* state = answer ? &(*answer)["state"] : nullptr;
    const Json* epoch = answer ? &(*answer)["epoch"] : nullptr;
    if (state && *state == "timeout") {
      if (epoch->is_number()) since = epoch->get<double>();
      continue;
    }
    if (!state || *state != "changed") {
      // No epoch to follow, or the call failed (the page went away): the
      // timer reads alone until a read finds another store.
      if (state && *state == "unsupported") {
        const Json& reason = (*answer)["reason"];
        deps_.log.log("store wait: unsupported (" + (reason.is_string() ? reason.get<std::string>() : "-") +
                      "), reading every 2 s");
      }
      following_ = false;
      co_return;
    }
    since = epoch->is_number() ? std::optional<double>(epoch->get<double>()) : std::nullopt;
    // At most one hinted read every 250 ms, and never two snapshots at once:
    // a page that changes all the time is read at that rate and no faster.
    const Duration gap = std::chrono::duration_cast<Duration>(now() - lastHintedRead_);
    if (gap < 250ms) {
      co_await sleepFor(deps_.scheduler, std::chrono::duration_cast<Duration>(250ms - gap));
      if (alive.expired()) co_return;
    }
    while (hintedSnapshot_) {
      co_await sleepFor(deps_.scheduler, 50ms);
      if (alive.expired()) co_return;
    }
    lastHintedRead_ = now();
    tasks_.spawn(hintedRead());
  }
}

Task<void> Watcher::hintedRead() {
  const std::string path = urlPath(webView_->url().value_or(""));
  if (path.rfind("/direct", 0) != 0) co_return;
  hintedSnapshot_ = true;
  Task<void> read = readInbox(true);
  co_await std::move(read);
}

Task<void> Watcher::failedRead(std::optional<std::string> source) {
  const double age = secondsBetween(lastSuccessfulRead_, now());
  if (secondsBetween(lastTickLog_, now()) > 60.0) {
    lastTickLog_ = now();
    deps_.log.log("tick: store missing " + std::to_string(static_cast<long long>(age)) +
                  "s path=direct source=" + source.value_or("-"));
  }
  // Once per outage: reload() sets reloadScheduled, and only an accepted
  // read clears it.
  if (age > 120.0 && !reloadScheduled_ && !inspecting_) reload("store missing");
  if (age > 600.0) {
    auto set = setSession("error", "store missing");
    co_await std::move(set);
  }
}

Task<void> Watcher::refetchStore() {
  std::optional<Json> result = co_await scripts::runStoreRefetch(*webView_);
  if (result && result->is_object()) {
    auto ok = result->find("ok");
    if (ok != result->end() && ok->is_boolean() && ok->get<bool>()) co_return;
  }
  std::string reason = "-";
  if (result && result->is_object()) {
    if (auto r = result->find("reason"); r != result->end() && r->is_string()) reason = r->get<std::string>();
  }
  deps_.systemLog.message("refetch failed: " + reason);
}

}  // namespace corvid
