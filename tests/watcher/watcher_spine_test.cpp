#include <gtest/gtest.h>

#include "tests/watcher/harness.h"

using namespace corvid;
using namespace corvid::testing;
using namespace std::chrono_literals;

TEST(WatcherSpine, ConstructionOrderAndInitialState) {
  WatcherHarness h;
  h.storePairing();
  Watcher& w = h.make();
  EXPECT_EQ(h.journal, (Journal{"web: create 420x800", "web: delegate",
                                "web: load https://www.instagram.com/direct/inbox/",
                                "activity: Instagram DM watcher", "network: start"}));
  EXPECT_TRUE(h.engine.configuration.persistentDataStore);
  EXPECT_FALSE(h.engine.configuration.elementFullscreenEnabled);
  EXPECT_EQ(w.sessionState(), "unknown");
  EXPECT_EQ(w.igBadge(), -1);
  EXPECT_EQ(w.push().pairings().size(), 1u);
  EXPECT_EQ(w.serviceDomain(), "instagram.com");
  // Migration: a pairing but no stored "everWatched" means someone watched;
  // only memory changes.
  EXPECT_TRUE(w.everWatched());
  EXPECT_FALSE(h.settings.contains("everWatched"));
  // The read loop: the first tick comes 2 seconds after construction.
  Time start = h.loop.now();
  h.loop.advance(1999ms);
  EXPECT_EQ(w.tickAt(), start);
  h.loop.advance(1ms);
  EXPECT_EQ(w.tickAt(), start + 2s);
  h.loop.advance(4s);
  EXPECT_EQ(w.tickAt(), start + 6s);
}

TEST(WatcherSpine, StoredSettingsAndTheirDefaults) {
  {
    WatcherHarness h;
    h.settings.setString("includeSnippet", "yes");  // not a boolean: counts as on
    h.settings.setBool("everWatched", false);
    h.storePairing();
    Watcher& w = h.make();
    EXPECT_TRUE(w.includeSnippet());
    EXPECT_FALSE(w.everWatched());  // stored false wins over the migration
    w.setIncludeSnippet(false);
    EXPECT_EQ(h.settings.boolValue("includeSnippet"), false);
  }
  {
    WatcherHarness h;
    h.settings.setBool("includeSnippet", false);
    h.settings.setBool("loggedOutByUser", true);
    h.loginItem.current = LoginItemStatus::requiresApproval;
    Watcher& w = h.make();
    EXPECT_FALSE(w.includeSnippet());
    EXPECT_TRUE(w.loggedOutByUser());
    EXPECT_FALSE(w.everWatched());
    EXPECT_EQ(w.launchAtLogin(), LoginItemStatus::requiresApproval);
  }
}

TEST(WatcherSpine, NetworkBackReloadsOnlyAfterMoreThanSixtySecondsWithoutARead) {
  WatcherHarness h;
  Watcher& w = h.make();
  auto reloads = [&] { return h.web().loads.size() - 1; };
  auto lines = [&] {
    std::vector<std::string> out;
    for (const auto& l : h.log.lines) {
      if (l.rfind("network: ", 0) == 0 || l.rfind("reload: ", 0) == 0) out.push_back(l);
    }
    return out;
  };
  h.network.update(true);  // online at start: no change, no line
  EXPECT_TRUE(lines().empty());
  h.network.update(false);
  EXPECT_TRUE(w.offline());
  h.loop.advance(60s);
  h.network.update(true);  // exactly 60 s: nothing yet
  EXPECT_FALSE(w.offline());
  EXPECT_EQ(reloads(), 0u);
  h.loop.advance(1s);
  h.network.update(true);  // 61 s, and every further update while reads fail
  h.network.update(true);
  EXPECT_EQ(reloads(), 2u);
  EXPECT_EQ(lines(), (std::vector<std::string>{"network: offline", "network: online", "reload: network back",
                                                   "reload: network back"}));
  EXPECT_EQ(h.log.systemLines.back(), "reload: network back");
  h.network.update(false);  // offline updates never reload
  EXPECT_EQ(reloads(), 2u);
}

TEST(WatcherSpine, EndInspectingReturnsToTheInboxOnlyFromOtherPages) {
  WatcherHarness h;
  Watcher& w = h.make();
  w.setInspecting(true);
  h.web().currentURL = "https://www.instagram.com/direct/inbox/";
  w.endInspecting();
  EXPECT_FALSE(w.inspecting());
  EXPECT_EQ(h.web().loads.size(), 1u);

  w.setInspecting(true);
  h.web().currentURL = "https://www.instagram.com/direct/t/1234/";
  w.endInspecting();
  EXPECT_EQ(h.web().loads.size(), 2u);
  EXPECT_EQ(h.log.lines.back(), "reload: inspect closed");

  w.endInspecting();  // not inspecting any more: nothing
  h.web().currentURL.reset();
  w.setInspecting(true);
  w.endInspecting();  // no URL counts as an empty path
  EXPECT_EQ(h.web().loads.size(), 3u);
}

TEST(WatcherSpine, DeadWebProcessReloadsAndPushChangesAreForwarded) {
  WatcherHarness h;
  Watcher& w = h.make();
  h.web().terminateWebProcess();
  EXPECT_EQ(h.log.lines.back(), "reload: web process terminated");
  EXPECT_EQ(h.web().loads.back(), "https://www.instagram.com/direct/inbox/");

  int notices = 0;
  w.objectWillChange().connect([&] { ++notices; });
  w.push().setServerURL("https://relay.example");
  EXPECT_GE(notices, 1);
}

TEST(WatcherSpine, ServiceOriginDecidesInboxAndCookieDomain) {
  WatcherHarness h;
  h.watcher = std::make_unique<Watcher>(WatcherDependencies{
      h.loop, h.loop, h.settings, h.log, h.log, h.engine, h.network, h.activity, h.loginItem, h.transport,
      h.notifier, [] { return std::string(); }, "https://relay.test.invalid", "http://127.0.0.1:8123"});
  EXPECT_EQ(h.web().loads.front(), "http://127.0.0.1:8123/direct/inbox/");
  EXPECT_EQ(h.watcher->serviceDomain(), "127.0.0.1");
}
