// Real tray hosts for the end-to-end tests: the desktop panels of Debian,
// run on the harness's private bus and the test display, and what a test
// needs to watch a tray item from the outside.
//
//   Panel panel(Panel::Kind::xfce, app.busAddress());
//   BusMonitor bus(app.busAddress());
//   panel.start();
//   app.start();
//   ... panel.registeredItems(), bus.registrations(sender), menuLayout(...)
//
// Each panel reads a configuration the test writes into a folder of its own
// (only the tray plugin on a panel at the top of the screen). The xfce4
// panel keeps its settings in xfconfd, which the panel starts here too, on
// the same bus. The destructor stops everything the panel started: the
// panel, its plugin processes (recorded while they were ours, and signalled
// only while they are still the same processes) and xfconfd.
#pragma once

#include <gio/gio.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform_glib/test_support.h"

namespace corvid::testing {

// An X display of our own (Xvfb), so that no other test's windows show in
// the panel's screenshots or take its clicks; DISPLAY names it while it
// lives, for this process and the processes it starts.
class PrivateDisplay {
 public:
  PrivateDisplay();
  ~PrivateDisplay();
  PrivateDisplay(const PrivateDisplay&) = delete;
  PrivateDisplay& operator=(const PrivateDisplay&) = delete;

 private:
  GSubprocess* server_ = nullptr;
  std::string previous_;
};

class Panel {
 public:
  enum class Kind { xfce, lxqt };

  Panel(Kind kind, std::string busAddress);
  ~Panel();
  Panel(const Panel&) = delete;
  Panel& operator=(const Panel&) = delete;

  // The panel's program when it is not installed.
  static std::optional<std::string> missing(Kind kind);

  // Starts the panel and waits until it owns the tray watcher's name; false
  // when it does not within `timeout`.
  bool start(std::chrono::milliseconds timeout = 30s);
  // Kills the panel (SIGKILL, as a crash would end it) and waits until the
  // watcher's name is gone.
  bool kill(std::chrono::milliseconds timeout = 15s);
  // The panel process has not ended.
  bool running() const;
  // The process that owns the watcher's name (the panel or its tray
  // plugin), 0 when nobody does.
  pid_t hostPid() const;
  // The watcher's RegisteredStatusNotifierItems ("bus name/object path").
  std::vector<std::string> registeredItems() const;
  // What the panel and its plugins wrote to stdout and stderr.
  std::string output() const;

 private:
  struct Tracked {
    pid_t pid;
    std::string startTime;  // from /proc/PID/stat: tells a reused PID apart
  };
  void trackPluginProcesses();
  void stopPanel();

  Kind kind_;
  std::string bus_;
  TempDir root_{"corvid-panel"};
  GDBusConnection* connection_ = nullptr;
  GSubprocess* panel_ = nullptr;
  GSubprocess* xfconfd_ = nullptr;
  std::vector<Tracked> plugins_;
};

// Records the tray and menu calls on a bus: becomes a monitor of the bus
// (org.freedesktop.DBus.Monitoring) for method calls to the tray watcher
// and to exported menus.
class BusMonitor {
 public:
  struct Call {
    std::string sender, destination, interface, member;
    std::chrono::steady_clock::time_point at;
  };

  explicit BusMonitor(const std::string& address);
  ~BusMonitor();
  BusMonitor(const BusMonitor&) = delete;

  std::vector<Call> calls() const;
  // RegisterStatusNotifierItem calls from `sender` since `since`.
  std::size_t registrations(const std::string& sender,
                            std::chrono::steady_clock::time_point since = {}) const;
  // The calls that `sender` made to tell a menu that it opens or was used
  // (AboutToShow, Event and their group forms).
  std::size_t menuCalls(const std::string& sender) const;

 private:
  static GDBusMessage* filter(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer self);
  GDBusConnection* connection_ = nullptr;
  mutable std::mutex mutex_;
  std::vector<Call> calls_;
};

// The unique bus name that owns `name`, empty when nobody does.
std::string nameOwner(GDBusConnection* bus, const std::string& name);

// One entry of a menu exported over com.canonical.dbusmenu, in order.
struct MenuEntry {
  int id = 0;
  std::string type;  // "separator" or "standard"
  std::string label;
  bool enabled = true;
};
// The top level of the menu of the tray item `item` ("bus name/object
// path", as the watcher lists it); empty when it cannot be read.
std::vector<MenuEntry> trayMenu(GDBusConnection* bus, const std::string& item);
// A string property of the tray item (IconName, Title...); empty when it
// cannot be read.
std::string itemProperty(GDBusConnection* bus, const std::string& item, const std::string& name);
// Sends the menu event `event` ("clicked", "opened") for entry `id`.
bool sendMenuEvent(GDBusConnection* bus, const std::string& item, int id, const std::string& event);

struct Area {
  int x = 0, y = 0, width = 0, height = 0;
};
// The screen of the display, as 8-bit RGB.
struct Screen {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;

  static Screen grab();
  // Grabs until the top `rows` rows stay the same for a moment (a panel
  // that has finished drawing), at most for `limit`.
  static Screen grabSettled(int rows, std::chrono::milliseconds limit = 5s);
  // The whole screen, or `part` of it enlarged `zoom` times.
  bool savePng(const std::filesystem::path& file, std::optional<Area> part = std::nullopt,
               int zoom = 1) const;
};
// Where `after` differs from `before` within the top `rows` rows.
std::optional<Area> changedArea(const Screen& before, const Screen& after, int rows);
// Clicks `button` at a point of the screen (xdotool).
bool clickAt(int x, int y, int button);
// The folder for screenshots: "screenshots" in the build folder.
std::filesystem::path screenshotFolder();

}  // namespace corvid::testing
