#include "watcher/change_detection.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>

#include "base/text.h"

namespace corvid {

namespace {

const char* const kNewMessage = "새 메시지";

NewMessage makeMessage(const ThreadRow& row, const std::string& trimmedTitle, const std::string& body,
                       const std::string& messageId, bool includeSnippet) {
  return NewMessage{row.key, row.username, trimmedTitle.empty() ? kNewMessage : trimmedTitle,
                    includeSnippet && !body.empty() ? body : kNewMessage, messageId};
}

}  // namespace

int countUnread(const std::vector<ThreadRow>& rows) {
  return static_cast<int>(std::count_if(rows.begin(), rows.end(), [](const ThreadRow& r) { return r.unread; }));
}

std::optional<std::vector<RecentEntry>> recentMessages(const ThreadRow& row, double since) {
  if (!row.recent) return std::nullopt;
  std::vector<RecentEntry> kept;
  for (const RecentEntry& e : *row.recent) {
    if (!e.id.empty() && e.ts > since && e.ts > row.watermark) kept.push_back({e.id, e.ts, trimmed(e.snippet)});
  }
  std::stable_sort(kept.begin(), kept.end(), [](const RecentEntry& a, const RecentEntry& b) { return a.ts < b.ts; });
  return kept;
}

DetectionResult detectChanges(const std::vector<ThreadRow>& rows, DetectionState& state, bool includeSnippet,
                              Time now) {
  DetectionResult r;
  r.rows = static_cast<int>(rows.size());
  r.unread = countUnread(rows);
  const double baselineMs = unixMillis(state.baselineAt);

  for (const ThreadRow& row : rows) {
    if (row.recent) ++r.withRecent;
    if (row.id.empty()) continue;

    bool considered = false;
    double since = 0;
    auto [known, inserted] = state.lastIds.try_emplace(row.id);
    auto [seen, firstSeen] = state.lastTsSeen.try_emplace(row.id, 0.0);
    if (!inserted) {
      considered = state.baselineDone && known->second != row.lastId;
      since = firstSeen ? row.lastTs : seen->second;
    } else {
      considered = state.baselineDone && row.lastTs > baselineMs;
      if (considered) ++r.isNew;
      since = baselineMs;
    }

    if (considered) {
      const std::size_t eventsBefore = r.events.size();
      ++r.changed;
      std::string title = trimmed(row.title);
      const char* skipReason = row.lastMine ? "mine" : "read";
      auto kept = recentMessages(row, since);
      if (!kept) {
        if (!row.lastMine && row.unread) {
          if (row.lastId.empty()) {
            r.skipped.emplace_back("noId");
          } else {
            r.events.push_back(makeMessage(row, title, trimmed(row.snippet), row.lastId, includeSnippet));
          }
        } else {
          r.skipped.emplace_back(skipReason);
        }
      } else {
        for (const RecentEntry& e : *kept) r.events.push_back(makeMessage(row, title, e.snippet, e.id, includeSnippet));
        if (kept->size() >= 2) ++r.burst;
        if (kept->empty()) r.skipped.emplace_back(skipReason);
      }
      if (r.events.size() > eventsBefore) r.eventThreads.push_back(row.id);
    }

    if (known->second != row.lastId) known->second = row.lastId;
    seen->second = std::max(seen->second, row.lastTs);
  }

  if (!state.baselineDone) {
    state.baselineAt = now;
    r.baseline = true;
  }
  state.baselineDone = true;
  return r;
}

std::string collapseId(const std::string& messageId) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(messageId.data(), messageId.size(), digest, &length, EVP_sha256(), nullptr);
  std::string out = "m-";
  char hex[3];
  for (unsigned int i = 0; i < 16 && i < length; ++i) {
    std::snprintf(hex, sizeof hex, "%02x", digest[i]);
    out += hex;
  }
  return out;
}

std::string baselineLine(const DetectionResult& r) {
  return "baseline: threads " + std::to_string(r.rows) + " unread " + std::to_string(r.unread) + " recent " +
         std::to_string(r.withRecent) + "/" + std::to_string(r.rows);
}

std::string tickLine(const DetectionResult& r) {
  return "tick: threads " + std::to_string(r.rows) + " unread " + std::to_string(r.unread) + " changed " +
         std::to_string(r.changed) + " new " + std::to_string(r.isNew) + " events " +
         std::to_string(r.events.size()) + " burst " + std::to_string(r.burst) + " skipped " +
         joined(r.skipped, ",");
}

}  // namespace corvid
