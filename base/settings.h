// The per-user key-value settings store.
//
// Keys in use: "includeSnippet", "everWatched", "loggedOutByUser",
// "desktopMessageNotifications" (booleans), "pushServerURL", "ntfyTopicURL",
// "ntfyAccessToken" (texts), "pushPairings" (the JSON text of the pairings).
// An absent key is absent, not a default: callers decide their defaults.
// Writes take effect at once and survive a crash of the process; a failing
// write is reported by the store's own log and otherwise dropped.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace corvid {

class Settings {
 public:
  virtual ~Settings() = default;
  // A value of any kind is stored under `key`.
  virtual bool contains(std::string_view key) const = 0;
  // The stored boolean; nothing when absent or not a boolean.
  virtual std::optional<bool> boolValue(std::string_view key) const = 0;
  // The stored text; nothing when absent.
  virtual std::optional<std::string> stringValue(std::string_view key) const = 0;
  virtual void setBool(std::string_view key, bool value) = 0;
  virtual void setString(std::string_view key, std::string_view value) = 0;
  virtual void remove(std::string_view key) = 0;
};

// Settings held in memory only: for tests, and as the store of last resort.
class MemorySettings : public Settings {
 public:
  using Value = std::variant<bool, std::string>;

  bool contains(std::string_view key) const override;
  std::optional<bool> boolValue(std::string_view key) const override;
  std::optional<std::string> stringValue(std::string_view key) const override;
  void setBool(std::string_view key, bool value) override;
  void setString(std::string_view key, std::string_view value) override;
  void remove(std::string_view key) override;

  const std::map<std::string, Value, std::less<>>& values() const { return values_; }
  int writes() const { return writes_; }

 private:
  std::map<std::string, Value, std::less<>> values_;
  int writes_ = 0;
};

}  // namespace corvid
