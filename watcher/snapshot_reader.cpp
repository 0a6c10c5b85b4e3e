#include "watcher/snapshot_reader.h"

#include <simdjson.h>

namespace corvid {

namespace {

using simdjson::SUCCESS;
using simdjson::dom::element;
using simdjson::dom::element_type;
using simdjson::dom::object;

// Each reader takes a value of its own type and leaves any other as missing.

std::string textOf(element e) {
  std::string_view s;
  return e.get_string().get(s) == SUCCESS ? std::string(s) : std::string();
}

double numberOf(element e) {
  switch (e.type()) {
    case element_type::INT64:
      return static_cast<double>(int64_t(e));
    case element_type::UINT64:
      return static_cast<double>(uint64_t(e));
    case element_type::DOUBLE:
      return double(e);
    default:
      return 0.0;
  }
}

std::optional<bool> boolOf(element e) {
  bool b = false;
  if (e.get_bool().get(b) == SUCCESS) return b;
  return std::nullopt;
}

std::optional<std::vector<RecentEntry>> recentOf(element e) {
  simdjson::dom::array list;
  if (e.get_array().get(list) != SUCCESS) return std::nullopt;
  std::vector<RecentEntry> entries;
  entries.reserve(list.size());
  for (element item : list) {
    object fields;
    // A list with anything but records in it is no recent list.
    if (item.get_object().get(fields) != SUCCESS) return std::nullopt;
    RecentEntry entry;
    for (auto field : fields) {
      if (field.key == "id") {
        entry.id = textOf(field.value);
      } else if (field.key == "ts") {
        entry.ts = numberOf(field.value);
      } else if (field.key == "snippet") {
        entry.snippet = textOf(field.value);
      }
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

ThreadRow rowOf(object fields) {
  ThreadRow r;
  std::optional<bool> resolvedIsUnread;
  std::optional<bool> unread;
  for (auto field : fields) {
    std::string_view k = field.key;
    element v = field.value;
    if (k == "id") {
      r.id = textOf(v);
    } else if (k == "key") {
      r.key = textOf(v);
    } else if (k == "username") {
      r.username = textOf(v);
    } else if (k == "title") {
      r.title = textOf(v);
    } else if (k == "snippet") {
      r.snippet = textOf(v);
    } else if (k == "lastId") {
      r.lastId = textOf(v);
    } else if (k == "lastTs") {
      r.lastTs = numberOf(v);
    } else if (k == "lastMine") {
      r.lastMine = boolOf(v).value_or(false);
    } else if (k == "resolvedIsUnread") {
      resolvedIsUnread = boolOf(v);
    } else if (k == "unread") {
      unread = boolOf(v);
    } else if (k == "watermark") {
      r.watermark = numberOf(v);
    } else if (k == "recent") {
      r.recent = recentOf(v);
    }
  }
  // The page's own is-unread value wins when it is a boolean.
  r.unread = resolvedIsUnread.value_or(unread.value_or(false));
  return r;
}

}  // namespace

std::optional<SnapshotRead> readSnapshot(std::string_view json) {
  // One parser for the process (main thread only): it keeps its buffers
  // between reads.
  static simdjson::dom::parser parser;
  element doc;
  if (parser.parse(json.data(), json.size()).get(doc) != SUCCESS) return std::nullopt;
  object result;
  if (doc.get_object().get(result) != SUCCESS) return std::nullopt;

  SnapshotRead read;
  std::optional<element> threads;
  for (auto field : result) {
    if (field.key == "source") {
      std::string_view s;
      if (field.value.get_string().get(s) == SUCCESS) read.source = std::string(s);
    } else if (field.key == "viewerUsername") {
      read.viewerUsername = textOf(field.value);
    } else if (field.key == "threads") {
      threads = field.value;
    } else if (field.key == "mark") {
      read.mark = textOf(field.value);
    } else if (field.key == "epoch") {
      if (field.value.is_number()) read.epoch = numberOf(field.value);
    }
  }
  simdjson::dom::array list;
  if (read.source != "connection" || !threads || threads->get_array().get(list) != SUCCESS) return read;
  read.rows.reserve(list.size());
  for (element item : list) {
    object fields;
    if (item.get_object().get(fields) != SUCCESS) {
      read.rows.clear();
      return read;
    }
    read.rows.push_back(rowOf(fields));
  }
  read.accepted = true;
  return read;
}

}  // namespace corvid
