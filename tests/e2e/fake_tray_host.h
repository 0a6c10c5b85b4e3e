// A tray host on a test bus: owns org.kde.StatusNotifierWatcher, records
// every StatusNotifierItem that registers, and reads an item's properties
// and its exported menu (com.canonical.dbusmenu) back. Lives on the default
// main context; iterate it (AppHarness::waitUntil) while waiting.
#pragma once

#include <gio/gio.h>

#include <optional>
#include <string>
#include <vector>

namespace corvid::testing {

class FakeTrayHost {
 public:
  struct Registration {
    std::string sender;  // the item's unique bus name
    std::string path;    // its object path
  };
  struct MenuEntry {
    std::string label;  // empty for separators
    bool enabled = true;
    bool separator = false;
  };

  explicit FakeTrayHost(const std::string& busAddress);
  ~FakeTrayHost();
  FakeTrayHost(const FakeTrayHost&) = delete;
  FakeTrayHost& operator=(const FakeTrayHost&) = delete;

  // Takes or gives up the watcher's name (a tray host coming and going).
  void own();
  void release();
  bool owned() const { return owned_; }

  const std::vector<Registration>& registrations() const { return registrations_; }
  // A string property of the last registered item (IconName, Title, ...).
  std::optional<std::string> itemProperty(const std::string& name) const;
  // The last registered item's menu, top level, in order.
  std::vector<MenuEntry> menu() const;

 private:
  GDBusConnection* bus_ = nullptr;
  guint object_ = 0;
  guint name_ = 0;
  bool owned_ = false;
  std::vector<Registration> registrations_;
};

}  // namespace corvid::testing
