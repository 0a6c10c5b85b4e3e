// A Watcher wired to fakes and virtual time.
#pragma once

#include <memory>

#include "base/log.h"
#include "base/settings.h"
#include "base/virtual_loop.h"
#include "support/fake_platform.h"
#include "watcher/watcher.h"

namespace corvid::testing {

struct WatcherHarness {
  Journal journal;
  VirtualLoop loop;
  MemorySettings settings;
  MemoryLog log;
  FakeWebEngine engine{loop, &journal};
  FakeNetworkMonitor network{&journal};
  FakeProcessActivity activity{&journal};
  FakeLoginItem loginItem;
  FakeTransport transport{loop};
  FakeNotifier notifier;
  std::unique_ptr<Watcher> watcher;

  Watcher& make() {
    watcher = std::make_unique<Watcher>(WatcherDependencies{
        loop, loop, settings, log, log, engine, network, activity, loginItem, transport, notifier,
        [] { return std::string("Test PC"); }, "https://relay.test.invalid", "https://www.instagram.com"});
    return *watcher;
  }
  FakeWebView& web() { return *engine.last; }

  // A stored pairing, as the settings file would hold it.
  void storePairing(const std::string& secret = "s1") {
    settings.setString(
        "pushPairings",
        R"([{"secret":")" + secret +
            R"(","deviceModel":"iPhone15,2","environment":"production","pairedAt":700000000}])");
  }
};

}  // namespace corvid::testing
