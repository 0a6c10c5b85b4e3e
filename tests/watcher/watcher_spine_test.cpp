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
  EXPECT_EQ(w.sessionState(), "unknown");
  EXPECT_EQ(w.igBadge(), -1);
  EXPECT_EQ(w.serviceDomain(), "instagram.com");
  // The read loop: the first tick comes 2 seconds after construction.
  Time start = h.loop.now();
  h.loop.advance(1999ms);
  EXPECT_EQ(w.tickAt(), start);
  h.loop.advance(1ms);
  EXPECT_EQ(w.tickAt(), start + 2s);

  // A dead web process reloads the inbox.
  h.web().terminateWebProcess();
  EXPECT_EQ(h.log.lines.back(), "reload: web process terminated");
  EXPECT_EQ(h.web().loads.size(), 2u);
}

TEST(WatcherSpine, StoredSettingsAndTheirDefaults) {
  {
    WatcherHarness h;
    h.storePairing();
    Watcher& w = h.make();
    // Migration: a pairing but no stored "everWatched" means someone
    // watched; only memory changes.
    EXPECT_TRUE(w.everWatched());
    EXPECT_FALSE(h.settings.contains("everWatched"));
    EXPECT_TRUE(w.includeSnippet());
    w.setIncludeSnippet(false);
    EXPECT_EQ(h.settings.boolValue("includeSnippet"), false);
  }
  WatcherHarness h;
  h.settings.setString("includeSnippet", "no");  // not a boolean: counts as on
  h.settings.setBool("everWatched", false);      // stored false wins over the migration
  h.settings.setBool("loggedOutByUser", true);
  h.storePairing();
  Watcher& w = h.make();
  EXPECT_TRUE(w.includeSnippet());
  EXPECT_FALSE(w.everWatched());
  EXPECT_TRUE(w.loggedOutByUser());
}

TEST(WatcherSpine, NetworkBackReloadsOnlyAfterMoreThanSixtySecondsWithoutARead) {
  WatcherHarness h;
  Watcher& w = h.make();
  auto reloads = [&] { return h.web().loads.size() - 1; };
  h.network.update(true);  // online at start: no change, no line
  EXPECT_TRUE(h.log.lines.empty());
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
  EXPECT_EQ(h.log.systemLines.back(), "reload: network back");
  h.network.update(false);  // offline updates never reload
  EXPECT_EQ(reloads(), 2u);
}

TEST(WatcherSpine, EndInspectingReturnsToTheInboxOnlyFromOtherPages) {
  WatcherHarness h;
  Watcher& w = h.make();
  for (std::optional<std::string> url :
       {std::optional<std::string>("https://www.instagram.com/direct/inbox/"),
        std::optional<std::string>("https://www.instagram.com/direct/t/1234/"),
        std::optional<std::string>()}) {  // no URL: an empty path
    w.setInspecting(true);
    h.web().currentURL = url;
    w.endInspecting();
    EXPECT_FALSE(w.inspecting());
  }
  EXPECT_EQ(h.web().loads.size(), 3u);
  EXPECT_EQ(h.log.lines.back(), "reload: inspect closed");
  w.endInspecting();  // not inspecting any more: nothing
  EXPECT_EQ(h.web().loads.size(), 3u);
}
