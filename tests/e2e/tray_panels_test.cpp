// The real corvid binary in the tray of real desktop panels (xfce4-panel's
// status tray plugin, lxqt-panel's status notifier plugin), watched from
// the outside: the host stays up, corvid registers its item once (at most
// twice) and not again and again, the item is listed by the host's
// watcher, its exported menu carries the status texts and the items in
// order, a click on the icon opens the menu, and a panel that is killed and
// started again gets exactly one new registration. Screenshots of the
// panel with the icon and with the open menu go to the build folder's
// screenshots folder (build/debug/screenshots).
#include <gtest/gtest.h>

#include <algorithm>

#include "app_harness.h"
#include "tray_panel.h"

namespace corvid::testing {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> labels(const std::vector<MenuEntry>& menu) {
  std::vector<std::string> out;
  for (const MenuEntry& e : menu) out.push_back(e.type == "separator" ? "---" : e.label);
  return out;
}

const MenuEntry* entry(const std::vector<MenuEntry>& menu, const std::string& label) {
  for (const MenuEntry& e : menu)
    if (e.label == label) return &e;
  return nullptr;
}

struct Expected {
  std::string icon;
  std::vector<std::string> before;  // the texts above the inbox line
  std::vector<std::string> after;   // from the phone line (if any) to the end
  bool testEnabled;                 // "시험 알림 보내기"
};

// Checks corvid in the tray of `kind`; screenshots are named after `shots`.
void checkTrayHost(Panel::Kind kind, AppOptions options, const Expected& expected, const std::string& shots) {
  if (auto missing = Panel::missing(kind)) GTEST_SKIP() << *missing << " is not installed";
  PrivateDisplay display;
  AppHarness app(options);
  BusMonitor monitor(app.busAddress());
  Panel panel(kind, app.busAddress());
  ASSERT_TRUE(panel.start()) << panel.output();
  const pid_t host = panel.hostPid();
  const Screen empty = Screen::grabSettled(64);

  app.start();
  const auto started = Clock::now();
  GDBusConnection* bus = connectTo(app.busAddress());
  std::string corvid;
  ASSERT_TRUE(spinUntil([&] { return !(corvid = nameOwner(bus, "io.github.corvid.Corvid")).empty(); }, 30s))
      << app.output();
  auto item = [&] {
    for (const std::string& i : panel.registeredItems())
      if (i.rfind(corvid + "/", 0) == 0 || i == corvid) return i;
    return std::string();
  };
  ASSERT_TRUE(spinUntil([&] { return !item().empty(); }, 20s)) << app.output() << panel.output();

  // Ten seconds after the start: one registration (two at most), the host
  // as it was.
  spinUntil([] { return false; }, std::chrono::duration_cast<Millis>(started + 10s - Clock::now()));
  const std::size_t registered = monitor.registrations(corvid);
  std::printf("registrations within 10 s: %zu\n", registered);
  EXPECT_GE(registered, 1u);
  EXPECT_LE(registered, 2u);
  EXPECT_TRUE(panel.running()) << panel.output();
  EXPECT_EQ(panel.hostPid(), host) << panel.output();
  ASSERT_FALSE(item().empty());

  // The menu the host reads: the status texts, then the items, in order.
  ASSERT_TRUE(app.waitForLog("session: unknown → ok")) << app.output();
  std::vector<MenuEntry> menu;
  ASSERT_TRUE(spinUntil(
      [&] {
        menu = trayMenu(bus, item());
        return !menu.empty() && menu.front().label == expected.before.front() &&
               menu.size() > expected.before.size() &&
               menu[expected.before.size()].label.rfind("받은편지함 확인 ", 0) == 0;
      },
      20s))
      << ::testing::PrintToString(labels(menu));
  std::vector<std::string> want = expected.before;
  want.push_back(menu[expected.before.size()].label);  // its relative time moves on
  want.insert(want.end(), expected.after.begin(), expected.after.end());
  EXPECT_EQ(labels(menu), want);
  EXPECT_EQ(itemProperty(bus, item(), "IconName"), expected.icon);
  const MenuEntry* test = entry(menu, "시험 알림 보내기");
  ASSERT_NE(test, nullptr);
  EXPECT_EQ(test->enabled, expected.testEnabled);
  EXPECT_FALSE(entry(menu, expected.before.front())->enabled);
  // An item the host clicks runs its action.
  ASSERT_TRUE(sendMenuEvent(bus, item(), entry(menu, "설정…")->id, "clicked"));
  EXPECT_TRUE(app.waitUntil([&] { return app.windowsShown("Corvid") == 1; }));
  ASSERT_TRUE(app.closeWindow("Corvid"));
  ASSERT_TRUE(app.waitUntil([&] { return app.windowsShown("Corvid") == 0; }));

  // The icon is drawn in the panel; a click on it opens the menu.
  const Screen withIcon = Screen::grabSettled(64);
  withIcon.savePng(screenshotFolder() / (shots + "-icon.png"));
  auto icon = changedArea(empty, withIcon, 64);
  ASSERT_TRUE(icon) << "the panel shows no icon";
  withIcon.savePng(screenshotFolder() / (shots + "-icon-zoomed.png"),
                   Area{std::max(0, icon->x - 100), 0, 240, 40}, 4);
  const std::string hostName = nameOwner(bus, "org.kde.StatusNotifierWatcher");
  const std::size_t menuCalls = monitor.menuCalls(hostName);
  for (int button : {1, 3}) {
    if (monitor.menuCalls(hostName) > menuCalls) break;
    ASSERT_TRUE(clickAt(icon->x + icon->width / 2, icon->y + icon->height / 2, button));
    spinUntil([&] { return monitor.menuCalls(hostName) > menuCalls; }, 3s);
  }
  EXPECT_GT(monitor.menuCalls(hostName), menuCalls) << "a click on the icon did not open the menu";

  // A message arrives while the menu is open: the inbox line changes in
  // place (the same entries), and the host shows it.
  app.page().sendEvent(
      {{"type", "message"}, {"thread", "34028236690000000006"}, {"text", "hi"}, {"id", "tray.1"}});
  std::vector<MenuEntry> changed;
  ASSERT_TRUE(spinUntil(
      [&] {
        changed = trayMenu(bus, item());
        return changed.size() == menu.size() &&
               changed[expected.before.size()].label.ends_with("안 읽은 대화 3");
      },
      20s))
      << ::testing::PrintToString(labels(changed));
  for (std::size_t i = 0; i < menu.size(); ++i) EXPECT_EQ(changed[i].id, menu[i].id) << i;
  spinFor(1s);
  Screen::grab().savePng(screenshotFolder() / (shots + "-menu.png"));
  EXPECT_TRUE(panel.running()) << panel.output();
  EXPECT_EQ(panel.hostPid(), host) << panel.output();
  clickAt(withIcon.width - 5, withIcon.height - 5, 1);  // closes the menu

  // The panel dies and comes back: exactly one new registration.
  ASSERT_TRUE(panel.kill()) << panel.output();
  const auto restarted = Clock::now();
  ASSERT_TRUE(panel.start()) << panel.output();
  ASSERT_TRUE(spinUntil([&] { return !item().empty(); }, 20s)) << app.output();
  spinFor(5s);
  const std::size_t again = monitor.registrations(corvid, restarted);
  std::printf("registrations after the panel restarted: %zu\n", again);
  EXPECT_EQ(again, 1u);
  EXPECT_TRUE(panel.running()) << panel.output();
  EXPECT_FALSE(trayMenu(bus, item()).empty());
  g_object_unref(bus);
}

// All is well: no attention dot; "설정…" from the menu opens the main window.
TEST(TrayHosts, XfcePanelStatusTray) {
  checkTrayHost(Panel::Kind::xfce, {.pairingSecrets = {"secret-1"}, .everWatched = true},
                {.icon = "corvid-tray-symbolic",
                 .before = {"지켜보는 중"},
                 .after = {"iPhone 1대 연결됨", "---", "시험 알림 보내기", "---", "설정…", "Corvid 종료"},
                 .testEnabled = true},
                "xfce4-panel");
}

// No phone yet: the attention icon, the detail and the fix-it item.
TEST(TrayHosts, LxqtPanelStatusNotifier) {
  checkTrayHost(Panel::Kind::lxqt, {.everWatched = true},
                {.icon = "corvid-tray-attention-symbolic",
                 .before = {"iPhone을 연결하세요", "iPhone의 Corvid 앱에서 코드를 받아 연결하세요"},
                 .after = {"---", "iPhone 연결…", "시험 알림 보내기", "---", "설정…", "Corvid 종료"},
                 .testEnabled = false},
                "lxqt-panel");
}

}  // namespace
}  // namespace corvid::testing
