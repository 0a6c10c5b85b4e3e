#include <gtest/gtest.h>

#include <map>

#include "app/window_router.h"
#include "base/virtual_loop.h"

using namespace corvid;
using namespace std::chrono_literals;

namespace {

using Journal = std::vector<std::string>;

// Window host and watcher in one, writing the window changes into the journal.
struct FakeHost : WindowHost, RouterWatcher {
  Journal journal;
  mutable std::map<AppWindow, bool> visible;
  bool complete = false;

  void show(AppWindow w, bool shown, const std::string& what) {
    visible[w] = shown;
    journal.push_back(what + (w == AppWindow::main ? " main" : " instagram"));
  }
  void createWindow(AppWindow w, const WindowParameters&) override { show(w, false, "create"); }
  void setTitle(AppWindow, const std::string&) override {}
  void present(AppWindow w) override { show(w, true, "present"); }
  void close(AppWindow w) override { show(w, false, "close"); }
  bool isVisible(AppWindow w) const override { return visible[w]; }
  void setActivationPolicy(ActivationPolicy) override {}
  void setInspecting(bool) override {}
  void endInspecting() override {}
  bool setupComplete() const override { return complete; }
};

}  // namespace

TEST(WindowRouter, LoginWindowClosesAfterTheDelayAndOpensMainOnlyWhileSetupIsIncomplete) {
  for (bool complete : {false, true}) {
    SCOPED_TRACE(complete);
    VirtualLoop loop;
    MemoryLog log;
    FakeHost host;
    host.complete = complete;
    WindowRouter router(host, loop, log, host);
    router.showInstagram(InstagramMode::login);
    router.sessionBecameOK();
    router.sessionBecameOK();  // a second "ok" within the delay: still one close
    loop.advance(1499ms);
    EXPECT_EQ(host.journal, (Journal{"create instagram", "present instagram"}));
    loop.advance(1ms);  // 1.5 seconds after the first "ok"
    Journal closed = {"create instagram", "present instagram", "close instagram"};
    if (!complete) closed.insert(closed.end(), {"create main", "present main"});
    EXPECT_EQ(host.journal, closed);
  }
}
