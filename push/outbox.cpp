#include "push/outbox.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <nlohmann/json.hpp>

namespace corvid {

namespace {

constexpr int kVersion = 1;

const std::string* textAt(const nlohmann::json& object, const char* key) {
  auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get_ptr<const std::string*>() : nullptr;
}

std::optional<OutboxEntry> entryFrom(const nlohmann::json& e) {
  if (!e.is_object()) return std::nullopt;
  const std::string* target = textAt(e, "target");
  const std::string* kind = textAt(e, "kind");
  const std::string* title = textAt(e, "title");
  const std::string* body = textAt(e, "body");
  const std::string* threadKey = textAt(e, "threadKey");
  const std::string* username = textAt(e, "username");
  const std::string* collapseId = textAt(e, "collapseId");
  auto badge = e.find("badge");
  auto at = e.find("queuedAt");
  if (!target || target->empty() || !kind || kind->empty() || !title || !body || !threadKey || !username ||
      !collapseId || badge == e.end() || !badge->is_number_integer() || at == e.end() || !at->is_number()) {
    return std::nullopt;
  }
  double seconds = at->get<double>();
  // Beyond what the clock type holds (about 292 years either side of 1970):
  // not a date this program wrote.
  if (!std::isfinite(seconds) || std::abs(seconds) > 9.0e9) return std::nullopt;
  auto b = badge->get<long long>();
  OutboxEntry out{*target, *kind, *title, *body, *threadKey, *username, *collapseId,
                  b < 0 || b > 1'000'000'000 ? -1 : static_cast<int>(b),
                  Time{} + std::chrono::duration_cast<Duration>(std::chrono::duration<double>(seconds)), 0};
  return out;
}

}  // namespace

Outbox::Outbox(DurableFile& file, ActivityLog& log, Time now) : file_(file), log_(log) {
  auto text = file_.read();
  if (!text) return;
  std::size_t dropped = 0;
  auto entries = decode(*text, &dropped);
  if (!entries) {
    file_.keepAside("not an outbox");
    return;
  }
  entries_ = std::move(*entries);
  for (auto& e : entries_) e.id = nextId_++;
  for (std::size_t i = 0; i < dropped; ++i) log_.log("push: dropped entry unreadable");
  // Limits hold for what was read, too: hand edits may have exceeded them.
  bool changed = dropped > 0;
  changed = dropIf([&](const OutboxEntry& e) { return now - e.queuedAt > kMaxAge; }, "expired") || changed;
  std::map<std::string, std::size_t> surplus;
  for (const auto& target : targets()) {
    if (std::size_t n = size(target); n > kMaxPerTarget) surplus[target] = n - kMaxPerTarget;
  }
  changed = dropIf(
                [&](const OutboxEntry& e) {
                  auto it = surplus.find(e.target);
                  return it != surplus.end() && it->second > 0 && it->second-- > 0;
                },
                "overflow") ||
            changed;
  if (changed) save();
}

std::size_t Outbox::size(std::string_view target) const {
  return static_cast<std::size_t>(
      std::count_if(entries_.begin(), entries_.end(), [&](const OutboxEntry& e) { return e.target == target; }));
}

const OutboxEntry* Outbox::front(std::string_view target) const {
  auto it = std::find_if(entries_.begin(), entries_.end(), [&](const OutboxEntry& e) { return e.target == target; });
  return it == entries_.end() ? nullptr : &*it;
}

std::vector<std::string> Outbox::targets() const {
  std::vector<std::string> out;
  for (const auto& e : entries_) {
    if (std::find(out.begin(), out.end(), e.target) == out.end()) out.push_back(e.target);
  }
  return out;
}

std::size_t Outbox::add(OutboxEntry entry) {
  entry.id = nextId_++;
  const std::string target = entry.target;
  entries_.push_back(std::move(entry));
  while (size(target) > kMaxPerTarget) {
    const OutboxEntry* oldest = front(target);
    log_.log("push: dropped " + oldest->kind + " overflow");
    remove(oldest->id);  // saves
  }
  save();
  return size(target);
}

void Outbox::remove(std::uint64_t id) {
  auto it = std::find_if(entries_.begin(), entries_.end(), [&](const OutboxEntry& e) { return e.id == id; });
  if (it == entries_.end()) return;
  entries_.erase(it);
  save();
}

void Outbox::drop(std::uint64_t id, std::string_view reason) {
  if (dropIf([&](const OutboxEntry& e) { return e.id == id; }, reason)) save();
}

void Outbox::dropTarget(std::string_view target, std::string_view reason) {
  if (dropIf([&](const OutboxEntry& e) { return e.target == target; }, reason)) save();
}

void Outbox::dropTargetsExcept(const std::function<bool(std::string_view)>& keep, std::string_view reason) {
  if (dropIf([&](const OutboxEntry& e) { return !keep(e.target); }, reason)) save();
}

void Outbox::dropExpired(Time now) {
  if (dropIf([&](const OutboxEntry& e) { return now - e.queuedAt > kMaxAge; }, "expired")) save();
}

bool Outbox::dropIf(const std::function<bool(const OutboxEntry&)>& test, std::string_view reason) {
  bool any = false;
  std::vector<OutboxEntry> kept;
  kept.reserve(entries_.size());
  for (auto& e : entries_) {
    if (test(e)) {
      log_.log("push: dropped " + e.kind + " " + std::string(reason));
      any = true;
    } else {
      kept.push_back(std::move(e));
    }
  }
  entries_ = std::move(kept);
  return any;
}

void Outbox::save() {
  file_.write(encode(entries_));
  if (onChange) onChange();
}

std::string Outbox::encode(const std::vector<OutboxEntry>& entries) {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& e : entries) {
    list.push_back({{"target", e.target},
                    {"kind", e.kind},
                    {"title", e.title},
                    {"body", e.body},
                    {"threadKey", e.threadKey},
                    {"username", e.username},
                    {"collapseId", e.collapseId},
                    {"badge", e.badge},
                    {"queuedAt", std::chrono::duration<double>(e.queuedAt.time_since_epoch()).count()}});
  }
  nlohmann::json file{{"version", kVersion}, {"entries", std::move(list)}};
  // Texts that are not valid UTF-8 come out replaced rather than failing.
  return file.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<std::vector<OutboxEntry>> Outbox::decode(std::string_view text, std::size_t* dropped) {
  auto file = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
  if (!file.is_object()) return std::nullopt;
  auto list = file.find("entries");
  if (list == file.end() || !list->is_array()) return std::nullopt;
  std::vector<OutboxEntry> out;
  std::size_t bad = 0;
  for (const auto& e : *list) {
    if (auto entry = entryFrom(e)) {
      out.push_back(std::move(*entry));
    } else {
      ++bad;
    }
  }
  if (dropped) *dropped = bad;
  return out;
}

}  // namespace corvid
