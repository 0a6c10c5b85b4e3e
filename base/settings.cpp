#include "base/settings.h"

namespace corvid {

bool MemorySettings::contains(std::string_view key) const { return values_.find(key) != values_.end(); }

std::optional<bool> MemorySettings::boolValue(std::string_view key) const {
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  if (auto b = std::get_if<bool>(&it->second)) return *b;
  return std::nullopt;
}

std::optional<std::string> MemorySettings::stringValue(std::string_view key) const {
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  if (auto s = std::get_if<std::string>(&it->second)) return *s;
  return std::nullopt;
}

void MemorySettings::setBool(std::string_view key, bool value) {
  values_.insert_or_assign(std::string(key), value);
  ++writes_;
}

void MemorySettings::setString(std::string_view key, std::string_view value) {
  values_.insert_or_assign(std::string(key), std::string(value));
  ++writes_;
}

void MemorySettings::remove(std::string_view key) {
  if (auto it = values_.find(key); it != values_.end()) values_.erase(it);
  ++writes_;
}

}  // namespace corvid
