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

class FakeHost : public WindowHost {
 public:
  explicit FakeHost(Journal& j) : journal(j) {}
  void createWindow(AppWindow w, const WindowParameters& parameters) override {
    journal.push_back("create " + nameOf(w) + " " + std::string(parameters.title) + " " +
                      std::to_string(parameters.width) + "x" + std::to_string(parameters.height) + " " +
                      std::string(parameters.frameAutosaveName));
  }
  void setTitle(AppWindow w, const std::string& title) override {
    titles[w] = title;
    journal.push_back("title " + nameOf(w) + " " + title);
  }
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
    policy = p;
    journal.push_back(p == ActivationPolicy::regular ? "policy regular" : "policy accessory");
  }
  // The user closes a window: the host reports it, then hides it.
  void userCloses(WindowRouter& router, AppWindow w) {
    router.windowWillClose(w);
    visible[w] = false;
  }

  Journal& journal;
  std::map<AppWindow, bool> visible;
  std::map<AppWindow, std::string> titles;
  std::optional<ActivationPolicy> policy;
};

class FakeWatcher : public RouterWatcher {
 public:
  explicit FakeWatcher(Journal& j) : journal(j) {}
  void setInspecting(bool on) override {
    inspecting = on;
    journal.push_back(on ? "inspecting on" : "inspecting off");
  }
  void endInspecting() override {
    inspecting = false;
    journal.push_back("end inspecting");
  }
  bool setupComplete() const override { return complete; }
  Journal& journal;
  bool inspecting = false;
  bool complete = false;
};

struct RouterTest : ::testing::Test {
  Journal journal;
  VirtualLoop loop;
  MemoryLog log;
  FakeHost host{journal};
  FakeWatcher watcher{journal};
  std::unique_ptr<WindowRouter> router = std::make_unique<WindowRouter>(host, loop, log, watcher);

  // The journal since the last call.
  Journal take() { return std::exchange(journal, {}); }
};

}  // namespace

TEST_F(RouterTest, ShowMainTwiceCreatesOneWindowAndLogsEachTime) {
  router->showMain();
  router->showMain();
  EXPECT_EQ(take(), (Journal{"create main Corvid 520x720 HalvyMain", "policy regular", "present main",
                             "policy regular", "present main"}));
  EXPECT_EQ(log.lines, (std::vector<std::string>{"ui: settings window", "ui: settings window"}));
}

TEST_F(RouterTest, LoginThenInspectRetitlesTheSameWindow) {
  int announced = 0;
  router->objectWillChange().connect([&] { ++announced; });
  router->showInstagram(InstagramMode::login);
  router->showInstagram(InstagramMode::inspect);
  EXPECT_EQ(take(), (Journal{"inspecting off", "create instagram Instagram 480x800 HalvyInstagram",
                             "title instagram Instagram 로그인", "policy regular", "present instagram",
                             "inspecting on", "title instagram Instagram 화면", "policy regular",
                             "present instagram"}));
  EXPECT_EQ(router->instagramMode(), InstagramMode::inspect);
  EXPECT_TRUE(watcher.inspecting);
  EXPECT_EQ(announced, 2);
  EXPECT_EQ(log.lines,
            (std::vector<std::string>{"ui: instagram window (login)", "ui: instagram window (inspect)"}));
}

TEST_F(RouterTest, LoginWindowClosesAfterTheDelayAndOpensMainWhileSetupIsIncomplete) {
  router->showInstagram(InstagramMode::login);
  take();
  router->sessionBecameOK();
  loop.advance(1499ms);
  EXPECT_TRUE(take().empty());
  loop.advance(1ms);
  EXPECT_EQ(take(), (Journal{"close instagram", "end inspecting", "create main Corvid 520x720 HalvyMain",
                             "policy regular", "present main"}));
  loop.runDue();  // the close handling's visibility check: main is visible
  EXPECT_TRUE(take().empty());
  EXPECT_EQ(log.lines.back(), "ui: settings window");
}

TEST_F(RouterTest, LoginWindowClosesWithoutMainOnceSetupIsComplete) {
  watcher.complete = true;
  router->showInstagram(InstagramMode::login);
  take();
  router->sessionBecameOK();
  router->sessionBecameOK();  // a second "ok" within the delay: still one close
  loop.advance(1500ms);
  loop.runDue();
  EXPECT_EQ(take(), (Journal{"close instagram", "end inspecting", "policy accessory"}));
  EXPECT_FALSE(router->windowCreated(AppWindow::main));
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
  host.userCloses(*router, AppWindow::instagram);
  router->showInstagram(InstagramMode::login);
  host.visible[AppWindow::instagram] = false;  // hidden again
  router->sessionBecameOK();
  loop.advance(5s);
  for (const auto& line : take()) {
    EXPECT_NE(line, "close instagram");
    EXPECT_NE(line, "present main");
  }
  EXPECT_FALSE(router->windowCreated(AppWindow::main));
}

TEST_F(RouterTest, ClosingTheLastVisibleWindowMakesTheAppTrayOnly) {
  router->showMain();
  router->showInstagram(InstagramMode::login);
  take();
  host.userCloses(*router, AppWindow::instagram);
  EXPECT_EQ(take(), Journal{"end inspecting"});  // login mode too
  loop.runDue();
  EXPECT_TRUE(take().empty());  // the main window is still up
  host.userCloses(*router, AppWindow::main);
  EXPECT_TRUE(take().empty());  // asynchronously, after the close
  loop.runDue();
  EXPECT_EQ(take(), Journal{"policy accessory"});
  EXPECT_EQ(router->instagramMode(), InstagramMode::login);  // kept after the close
}

TEST_F(RouterTest, PendingWorkDoesNothingOnceTheRouterIsGone) {
  router->showInstagram(InstagramMode::login);
  router->sessionBecameOK();
  host.userCloses(*router, AppWindow::instagram);
  take();
  router.reset();
  loop.advance(5s);
  EXPECT_TRUE(take().empty());
}

TEST_F(RouterTest, NotificationClicksOpenTheWindowTheirPrefixNames) {
  struct Case {
    const char* identifier;
    NotificationRoute route;
  };
  const Case cases[] = {{"login-1764947250", NotificationRoute::instagramLogin},
                        {"login", NotificationRoute::instagramLogin},
                        {"resumed-1764947250", NotificationRoute::main},
                        {"Login-1", NotificationRoute::main},
                        {"", NotificationRoute::main}};
  for (const auto& c : cases) EXPECT_EQ(notificationRoute(c.identifier), c.route) << c.identifier;

  openForNotification(*router, "login-1764947250");
  openForNotification(*router, "");
  EXPECT_EQ(log.lines, (std::vector<std::string>{"ui: instagram window (login)", "ui: settings window"}));
}
