// Notifications that could not be delivered yet, kept per delivery target
// until they are delivered, refused for good, or too old.
//
// A target is named by a stable reference that carries no secret: a paired
// phone by `pairingReference(secret)`, any other kind of target by a name of
// its own (an ntfy topic could queue under "ntfy"). Entries keep the order
// in which they were queued; each target's entries go out oldest first.
//
// The whole outbox is written to its file on every change, so a quit, a
// crash or a power cut loses nothing. The file is JSON:
//   {"version":1,"entries":[{"target":..., "kind":..., "title":..., "body":...,
//     "threadKey":..., "username":..., "collapseId":..., "badge":..., "queuedAt":...}]}
// with `queuedAt` in seconds since the Unix epoch. Reading is forgiving:
// an entry of the wrong shape is dropped alone and the rest is kept; a file
// that is not such an object at all is kept aside and the outbox starts
// empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/durable_file.h"
#include "base/log.h"
#include "base/time.h"

namespace corvid {

struct OutboxEntry {
  std::string target;
  std::string kind;
  std::string title;
  std::string body;
  std::string threadKey;
  std::string username;
  std::string collapseId;
  int badge = -1;  // the badge of the first attempt; negative for none
  Time queuedAt;
  // Identifies the entry within this run (not stored).
  std::uint64_t id = 0;
};

class Outbox {
 public:
  static constexpr std::size_t kMaxPerTarget = 200;
  static constexpr Duration kMaxAge = std::chrono::hours(6);

  // Reads the file at once. Entries of the wrong shape and entries older
  // than kMaxAge are dropped (with a log line each) and the file rewritten.
  Outbox(DurableFile& file, ActivityLog& log, Time now);

  // Called after every change, once the file is written.
  std::function<void()> onChange;

  std::size_t size() const { return entries_.size(); }
  std::size_t size(std::string_view target) const;
  // The oldest entry of `target`, or none.
  const OutboxEntry* front(std::string_view target) const;
  // Every target with entries, in the order of their oldest entry.
  std::vector<std::string> targets() const;

  // Appends `entry` to its target's queue; past kMaxPerTarget the target's
  // oldest entry is dropped. Answers the number now waiting for the target.
  std::size_t add(OutboxEntry entry);
  // Removes the entry with `id`, if it is still there.
  void remove(std::uint64_t id);
  // Drops one entry (with the log line "push: dropped <kind> <reason>").
  void drop(std::uint64_t id, std::string_view reason);
  // Drops every entry of `target`, each with a log line.
  void dropTarget(std::string_view target, std::string_view reason);
  // Drops the entries of targets that `keep` refuses, each with a log line.
  void dropTargetsExcept(const std::function<bool(std::string_view target)>& keep, std::string_view reason);
  // Drops every entry older than kMaxAge at `now`, each with a log line.
  void dropExpired(Time now);

  // The file format, for the store and for tests. `decode` answers nothing
  // when the text is not an outbox at all; `dropped` counts the entries of
  // the wrong shape left out.
  static std::string encode(const std::vector<OutboxEntry>& entries);
  static std::optional<std::vector<OutboxEntry>> decode(std::string_view text, std::size_t* dropped = nullptr);

  const std::vector<OutboxEntry>& entries() const { return entries_; }

 private:
  void save();
  bool dropIf(const std::function<bool(const OutboxEntry&)>& test, std::string_view reason);

  DurableFile& file_;
  ActivityLog& log_;
  std::vector<OutboxEntry> entries_;  // in the order queued
  std::uint64_t nextId_ = 1;
};

}  // namespace corvid
