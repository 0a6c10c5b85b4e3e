#include <gtest/gtest.h>

#include <map>

#include "app/lifecycle.h"
#include "app/window_router.h"
#include "base/virtual_loop.h"

using namespace corvid;
using namespace std::chrono_literals;

namespace {

using Journal = std::vector<std::string>;

std::string nameOf(AppWindow w) { return w == AppWindow::main ? "main" : "instagram"; }

// Window host and watcher in one, writing every call into the journal.
struct FakeHost : WindowHost, RouterWatcher {
  Journal journal;
  std::map<AppWindow, bool> visible;
  bool complete = false;

  void createWindow(AppWindow w, const WindowParameters& p) override {
    journal.push_back("create " + nameOf(w) + " " + std::string(p.title) + " " + std::to_string(p.width) +
                      "x" + std::to_string(p.height) + " " + std::string(p.frameAutosaveName));
  }
  void setTitle(AppWindow, const std::string& title) override { journal.push_back("title " + title); }
  void present(AppWindow w) override {
    visible[w] = true;
    journal.push_back("present " + nameOf(w));
  }
  void close(AppWindow w) override {
    visible[w] = false;
    journal.push_back("close " + nameOf(w));
  }
  bool isVisible(AppWindow w) const override { return visible.count(w) && visible.at(w); }
  void setActivationPolicy(ActivationPolicy p) override {
    journal.push_back(p == ActivationPolicy::regular ? "regular" : "accessory");
  }
  void setInspecting(bool on) override { journal.push_back(on ? "inspecting on" : "inspecting off"); }
  void endInspecting() override { journal.push_back("end inspecting"); }
  bool setupComplete() const override { return complete; }
};

struct RouterTest : ::testing::Test {
  VirtualLoop loop;
  MemoryLog log;
  FakeHost host;
  std::unique_ptr<WindowRouter> router = std::make_unique<WindowRouter>(host, loop, log, host);

  Journal take() { return std::exchange(host.journal, {}); }
  // The user closes a window: the host reports it, then hides it.
  void userCloses(AppWindow w) {
    router->windowWillClose(w);
    host.visible[w] = false;
  }
};

}  // namespace

TEST_F(RouterTest, ShowMainTwiceCreatesOneWindowAndLogsEachTime) {
  router->showMain();
  router->showMain();
  EXPECT_EQ(take(), (Journal{"create main Corvid 520x720 HalvyMain", "regular", "present main", "regular",
                             "present main"}));
  EXPECT_EQ(log.lines, (std::vector<std::string>{"ui: settings window", "ui: settings window"}));
}

TEST_F(RouterTest, LoginThenInspectRetitlesTheSameWindow) {
  int announced = 0;
  router->objectWillChange().connect([&] { ++announced; });
  router->showInstagram(InstagramMode::login);
  router->showInstagram(InstagramMode::inspect);
  EXPECT_EQ(take(), (Journal{"inspecting off", "create instagram Instagram 480x800 HalvyInstagram",
                             "title Instagram 로그인", "regular", "present instagram", "inspecting on",
                             "title Instagram 화면", "regular", "present instagram"}));
  EXPECT_EQ(router->instagramMode(), InstagramMode::inspect);
  EXPECT_EQ(announced, 2);
  EXPECT_EQ(log.lines.back(), "ui: instagram window (inspect)");
}

TEST_F(RouterTest, LoginWindowClosesAfterTheDelayAndOpensMainOnlyWhileSetupIsIncomplete) {
  for (bool complete : {false, true}) {
    SCOPED_TRACE(complete);
    host.complete = complete;
    router->showInstagram(InstagramMode::login);
    take();
    router->sessionBecameOK();
    router->sessionBecameOK();  // a second "ok" within the delay: still one close
    loop.advance(1499ms);
    EXPECT_TRUE(take().empty());
    loop.advance(1ms);
    loop.runDue();
    Journal closed = {"close instagram", "end inspecting", "accessory"};
    if (!complete)
      closed = {"close instagram", "end inspecting", "create main Corvid 520x720 HalvyMain", "regular",
                "present main"};
    EXPECT_EQ(take(), closed);
    host.visible.clear();
  }
}

TEST_F(RouterTest, LoginInInspectModeOrWithAHiddenWindowChangesNothing) {
  router->sessionBecameOK();  // no window at all
  router->showInstagram(InstagramMode::inspect);
  router->sessionBecameOK();
  loop.advance(5s);
  router->showInstagram(InstagramMode::login);
  router->sessionBecameOK();
  router->showInstagram(InstagramMode::inspect);  // mode changes during the delay
  loop.advance(5s);
  userCloses(AppWindow::instagram);
  router->showInstagram(InstagramMode::login);
  host.visible[AppWindow::instagram] = false;  // hidden again
  router->sessionBecameOK();
  loop.advance(5s);
  for (const auto& line : take()) EXPECT_TRUE(line != "close instagram" && line != "present main") << line;
}

TEST_F(RouterTest, ClosingTheLastVisibleWindowMakesTheAppTrayOnly) {
  router->showMain();
  router->showInstagram(InstagramMode::login);
  take();
  userCloses(AppWindow::instagram);
  loop.runDue();
  EXPECT_EQ(take(), Journal{"end inspecting"});  // login mode too; the main window is still up
  userCloses(AppWindow::main);
  EXPECT_TRUE(take().empty());  // asynchronously, after the close
  loop.runDue();
  EXPECT_EQ(take(), Journal{"accessory"});
}

TEST_F(RouterTest, PendingWorkDoesNothingOnceTheRouterIsGone) {
  router->showInstagram(InstagramMode::login);
  router->sessionBecameOK();
  userCloses(AppWindow::instagram);
  take();
  router.reset();
  loop.advance(5s);
  EXPECT_TRUE(take().empty());
}

TEST_F(RouterTest, NotificationClicksOpenTheWindowTheirPrefixNames) {
  for (const char* id : {"login-1764947250", "login"})
    EXPECT_EQ(notificationRoute(id), NotificationRoute::instagramLogin);
  for (const char* id : {"resumed-1764947250", "Login-1", ""})
    EXPECT_EQ(notificationRoute(id), NotificationRoute::main);
  openForNotification(*router, "login-1764947250");
  openForNotification(*router, "");
  EXPECT_EQ(log.lines, (std::vector<std::string>{"ui: instagram window (login)", "ui: settings window"}));
}
