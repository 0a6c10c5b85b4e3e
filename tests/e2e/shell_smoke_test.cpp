// The real corvid binary: launch, both windows through the application's
// actions and a second launch, the page read while no window shows it, and
// quitting (the confirmation, and a system quit bounded by 1.5 seconds
// while the relay never answers).
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "app_harness.h"
#include "fake_tray_host.h"

namespace corvid::testing {
namespace {

std::string threadKey(int i) {
  std::string n = std::to_string(i);
  return "3402823669" + std::string(10 - n.size(), '0') + n;
}

TEST(ShellSmoke, WindowsReadingAndBoundedQuit) {
  AppHarness app({.pairingSecrets = {"secret-1"}});
  app.start();
  auto launched = app.waitForLog("app: launched ");
  ASSERT_TRUE(launched) << app.output();
  // A pairing and no stored "everWatched" count as setup complete: no window.
  EXPECT_NE(launched->find(", setup complete, phones 1, login item 0"), std::string::npos) << *launched;
  EXPECT_TRUE(std::filesystem::exists(app.runtimeDir() /
                                      "corvid/icons/hicolor/scalable/status/corvid-tray-symbolic.svg"));
  ASSERT_TRUE(app.waitForLog("session: unknown → ok")) << app.output();
  EXPECT_EQ(app.countLog("ui: settings window"), 0u);

  // Launching again reaches the running instance and opens the main window.
  auto second = app.launchAgain();
  ASSERT_TRUE(second && WIFEXITED(*second) && WEXITSTATUS(*second) == 0);
  ASSERT_TRUE(app.waitForLog("ui: settings window"));
  ASSERT_TRUE(app.waitUntil([&] { return app.windowShown("Corvid"); }));
  ASSERT_TRUE(app.closeWindow("Corvid"));
  ASSERT_TRUE(app.waitUntil([&] { return !app.windowShown("Corvid"); }));

  std::string error;
  ASSERT_TRUE(app.activateAction("show-instagram", "inspect", &error)) << error;
  ASSERT_TRUE(app.waitForLog("ui: instagram window (inspect)"));
  ASSERT_TRUE(app.waitUntil([&] { return app.windowShown("Instagram 화면"); }));
  ASSERT_TRUE(app.activateAction("show-instagram", "login", &error)) << error;
  ASSERT_TRUE(app.waitUntil([&] { return app.windowShown("Instagram 로그인"); }));
  ASSERT_TRUE(app.closeWindow("Instagram 로그인"));
  ASSERT_TRUE(app.waitUntil([&] { return !app.windowShown("Instagram 로그인"); }));

  // With the web view back in its off-screen home, the page keeps polling
  // and the Watcher keeps reading: a new message is detected and pushed.
  app.page().sendEvent({{"type", "message"}, {"thread", threadKey(4)}, {"text", "while hidden"}});
  ASSERT_TRUE(app.waitForLog("events: 1 pushed 1")) << app.output();
  EXPECT_EQ(app.relay().count("/v1/push", "while hidden"), 1u);

  // Frames were saved for both windows.
  std::string state;
  {
    std::ifstream in(app.stateFile());
    state.assign(std::istreambuf_iterator<char>(in), {});
  }
  EXPECT_NE(state.find("[HalvyMain]"), std::string::npos) << state;
  EXPECT_NE(state.find("[HalvyInstagram]"), std::string::npos) << state;

  // A system quit while the relay never answers ends within 1.5 s (and a
  // margin for tearing the web view down).
  app.relay().setSilent(true);
  auto before = std::chrono::steady_clock::now();
  app.sendSignal(SIGTERM);
  auto status = app.waitForExit(std::chrono::seconds(10));
  auto took = std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now() - before);
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status << app.output();
  EXPECT_LT(took.count(), 2500) << took.count() << " ms";
  EXPECT_GE(took.count(), 1400) << "the stop sequence did not wait for the relay";
  EXPECT_EQ(app.countLog("quit: status stopped"), 1u);
  EXPECT_EQ(app.relay().count("/v1/status", "\"stopped\""), 1u);
}

TEST(ShellSmoke, OrdinaryQuitAsksWhileAPhoneIsPaired) {
  AppHarness app({.pairingSecrets = {"secret-1"}});
  app.start();
  ASSERT_TRUE(app.waitForLog("app: launched ")) << app.output();

  // The question; closing it is "취소": Corvid keeps running, tells nobody.
  ASSERT_TRUE(app.activateAction("quit"));
  ASSERT_TRUE(app.waitUntil([&] { return app.windowShown("Corvid"); }));
  ASSERT_TRUE(app.closeWindow("Corvid"));
  ASSERT_TRUE(app.waitUntil([&] { return !app.windowShown("Corvid"); }));
  app.waitUntil([] { return false; }, Millis(300));
  EXPECT_TRUE(app.running());
  EXPECT_EQ(app.countLog("quit: status stopped"), 0u);

  // The system quits while the question shows: it goes away, and the stop
  // sequence runs once.
  ASSERT_TRUE(app.activateAction("quit"));
  ASSERT_TRUE(app.waitUntil([&] { return app.windowShown("Corvid"); }));
  app.sendSignal(SIGTERM);
  auto status = app.waitForExit(std::chrono::seconds(10));
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << app.output();
  EXPECT_EQ(app.countLog("quit: status stopped"), 1u);
}

TEST(ShellSmoke, TrayItemFollowsTheHealthAndComesBackWithItsHost) {
  AppHarness app;
  FakeTrayHost tray(app.busAddress());
  app.start();
  // No phone: setup is incomplete, the main window opens at launch.
  ASSERT_TRUE(app.waitForLog("setup incomplete, phones 0")) << app.output();
  ASSERT_TRUE(app.waitForLog("ui: settings window"));
  ASSERT_TRUE(app.waitUntil([&] { return !tray.registrations().empty(); }, 15s));
  EXPECT_EQ(tray.itemProperty("Title"), "Corvid");
  EXPECT_EQ(tray.itemProperty("IconThemePath"), (app.runtimeDir() / "corvid" / "icons").string());

  // Once the page is read the health is noPhone: the icon has its dot, the
  // menu offers the phone step and no test notification.
  ASSERT_TRUE(app.waitForLog("session: unknown → ok")) << app.output();
  ASSERT_TRUE(
      app.waitUntil([&] { return tray.itemProperty("IconName") == "corvid-tray-attention-symbolic"; }));
  auto hasItem = [&](const std::string& label, bool enabled) {
    for (const auto& e : tray.menu()) {
      if (e.label == label) return e.enabled == enabled;
    }
    return false;
  };
  ASSERT_TRUE(app.waitUntil([&] { return hasItem("iPhone 연결…", true); }));
  EXPECT_TRUE(hasItem("iPhone을 연결하세요", false));
  EXPECT_TRUE(hasItem("시험 알림 보내기", false));
  EXPECT_TRUE(hasItem("설정…", true));
  EXPECT_TRUE(hasItem("Corvid 종료", true));

  // The tray host goes away and comes back: the item registers again.
  tray.release();
  app.waitUntil([] { return false; }, Millis(500));
  tray.own();
  ASSERT_TRUE(app.waitUntil([&] { return tray.registrations().size() >= 2; }, 15s));
  EXPECT_EQ(tray.itemProperty("IconName"), "corvid-tray-attention-symbolic");

  // No phone to tell: a quit ends at once and contacts no relay.
  app.sendSignal(SIGTERM);
  auto status = app.waitForExit(std::chrono::seconds(5));
  ASSERT_TRUE(status);
  EXPECT_EQ(app.countLog("quit: status stopped"), 0u);
  EXPECT_TRUE(app.relay().requests().empty());
}

}  // namespace
}  // namespace corvid::testing
