// Change detection: which incoming messages of an inbox read are new.
//
// After every accepted read the thread rows are compared with what earlier
// reads saw. The first read after start (or after a logout) is the baseline:
// it only records the inbox as it is. Afterwards a message is announced at
// most once however often the inbox is read, several messages between two
// reads are each announced, and the viewer's own messages and threads that
// are already read produce nothing.
#pragma once

#include <unordered_map>
#include <optional>
#include <string>
#include <vector>

#include "base/time.h"

namespace corvid {

// One detected incoming message.
struct NewMessage {
  std::string threadKey;
  std::string username;
  std::string title;
  std::string snippet;
  std::string messageId;
  bool operator==(const NewMessage&) const = default;
};

// One entry of a row's `recent` list: a displayable message from others.
struct RecentEntry {
  std::string id;
  double ts = 0;
  std::string snippet;
};

// The fields of a snapshot thread row that the Watcher reads. Each field
// accepts only its own JSON type; anything else counts as missing and takes
// the default.
struct ThreadRow {
  std::string id;
  std::string key;
  std::string username;
  std::string title;
  std::string snippet;
  std::string lastId;
  double lastTs = 0;
  bool lastMine = false;
  bool unread = false;  // resolvedIsUnread when a boolean, else `unread`
  double watermark = 0;
  std::optional<std::vector<RecentEntry>> recent;  // nothing: no recent list
};

// What the detection remembers between reads.
struct DetectionState {
  std::unordered_map<std::string, std::string> lastIds;  // thread id → last message id seen
  std::unordered_map<std::string, double> lastTsSeen;    // thread id → newest last-message time seen (ms)
  bool baselineDone = false;
  Time baselineAt;
};

struct DetectionResult {
  std::vector<NewMessage> events;
  std::vector<std::string> eventThreads;  // ids of the threads the events came from
  int rows = 0;
  int unread = 0;
  int withRecent = 0;  // rows that carry a recent list
  int changed = 0;
  int isNew = 0;
  int burst = 0;
  std::vector<std::string> skipped;  // "mine", "read", "noId", in order
  bool baseline = false;             // this read was the baseline
};

// The rows that count as unread.
int countUnread(const std::vector<ThreadRow>& rows);

// The kept entries of a row's recent list newer than both `since` and the
// row's watermark, oldest first (equal times keep their order); nothing when
// the row has no recent list.
std::optional<std::vector<RecentEntry>> recentMessages(const ThreadRow& row, double since);

// Compares `rows` with `state`, updates it, and answers the new messages.
// Runs without suspension, so overlapping ticks see the updated maps.
// `now` becomes the baseline time when this read is the baseline.
DetectionResult detectChanges(const std::vector<ThreadRow>& rows, DetectionState& state, bool includeSnippet,
                              Time now);

// "m-" and the first 16 bytes of the SHA-256 digest of the message id, in
// lower-case hex: the notification's collapse id.
std::string collapseId(const std::string& messageId);

// The activity-log lines of a read.
std::string baselineLine(const DetectionResult& r);
std::string tickLine(const DetectionResult& r);

}  // namespace corvid
