// Reads the inbox snapshot's JSON text into what the Watcher needs.
//
// A snapshot of a large inbox is several megabytes of JSON, most of it
// diagnostic fields the Watcher does not read. It arrives every 2 seconds,
// so it is read with simdjson in one pass over each row, keeping only the
// fields of ThreadRow, instead of building a general JSON tree.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "watcher/change_detection.h"

namespace corvid {

struct SnapshotRead {
  // The read counts: `source` is "connection" and `threads` a list of
  // records. Only then are `rows` filled.
  bool accepted = false;
  std::optional<std::string> source;  // when it is text
  std::string viewerUsername;         // when it is text
  std::vector<ThreadRow> rows;
  // The store read, named by the page: `mark` when it is text, `epoch`
  // when it is a number (the store's write epoch at the read).
  std::string mark;
  std::optional<double> epoch;
  // `source` is "unchanged": the store took no write since the read that
  // the request named; no rows.
  bool unchanged() const { return source == "unchanged"; }
};

// Nothing when `json` is not a JSON object (null included).
std::optional<SnapshotRead> readSnapshot(std::string_view json);

}  // namespace corvid
