#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "webbridge/content.h"
#include "webbridge/virtual_list_order.h"

using namespace webbridge;
using Order = VirtualListOrder<std::string>;
using Ids = std::vector<std::string>;

namespace {

Ids merged(Ids start, const Ids& window) {
  Order order(std::move(start));
  order.merge(window);
  return order.ids;
}
Ids reordered(Ids start, const Ids& window) {
  Order order(std::move(start));
  order.reorder(window);
  return order.ids;
}

}  // namespace

TEST(VirtualListOrder, MergeKeepsKnownIdsAndPlacesNewOnesByTheirNeighbours) {
  EXPECT_EQ(merged({"a", "b", "c"}, {"x", "b", "y", "z"}), Ids({"a", "x", "b", "y", "z", "c"}));
  EXPECT_EQ(merged({"a", "b"}, {"x", "y"}), Ids({"a", "b", "x", "y"}));
  EXPECT_EQ(merged({"a", "b", "c"}, {"c", "x", "a"}), Ids({"a", "b", "c", "x"}));
  EXPECT_EQ(merged({"a", "b"}, {"x", "x", "b", "y", "x", "y"}), Ids({"a", "x", "b", "y"}));
  EXPECT_EQ(merged({}, {"a", "b"}), Ids({"a", "b"}));
  EXPECT_EQ(merged({"a"}, {}), Ids({"a"}));
}

TEST(VirtualListOrder, ReorderMovesTheWindowAsOneBlock) {
  EXPECT_EQ(reordered({"a", "b", "c", "d"}, {"d", "b"}), Ids({"a", "d", "b", "c"}));
  EXPECT_EQ(reordered({"a", "b", "c"}, {"x", "c", "a"}), Ids({"x", "c", "a", "b"}));
  EXPECT_EQ(reordered({"a", "b"}, {"x"}), Ids({"a", "b", "x"}));
  EXPECT_EQ(reordered({"a", "b"}, {}), Ids({"a", "b"}));
  EXPECT_EQ(reordered({"a", "b", "c"}, {"c", "c", "b"}), Ids({"a", "c", "b"}));
}

TEST(VirtualListOrder, RemoveAndRemoveAll) {
  Order order(Ids{"a", "b", "a", "c"});
  order.remove("z");
  EXPECT_EQ(order.ids, Ids({"a", "b", "a", "c"}));
  order.remove("a");
  EXPECT_EQ(order.ids, Ids({"b", "c"}));
  order.removeAll();
  EXPECT_TRUE(order.ids.empty());
  EXPECT_EQ(Order(), order);
}

TEST(VirtualListOrder, RandomWindowsKeepTheInvariants) {
  std::mt19937 rng(20260302);
  for (int run = 0; run < 300; ++run) {
    VirtualListOrder<int> order;
    for (int step = 0; step < 30; ++step) {
      std::vector<int> window(std::uniform_int_distribution<int>(0, 8)(rng));
      for (int& id : window) id = std::uniform_int_distribution<int>(0, 25)(rng);
      const std::vector<int> before = order.ids;
      if (rng() % 2) {
        order.merge(window);
        // Known ids keep their relative order.
        std::vector<int> known;
        for (int id : order.ids) {
          if (std::find(before.begin(), before.end(), id) != before.end()) known.push_back(id);
        }
        ASSERT_EQ(known, before);
      } else {
        order.reorder(window);
        // The window's members stand together, in window order.
        std::vector<int> block;
        for (int id : window) {
          if (std::find(block.begin(), block.end(), id) == block.end()) block.push_back(id);
        }
        if (!block.empty()) {
          auto at = std::search(order.ids.begin(), order.ids.end(), block.begin(), block.end());
          ASSERT_NE(at, order.ids.end());
        }
      }
      // Ids stay unique, and every id seen so far is still there.
      std::set<int> unique(order.ids.begin(), order.ids.end());
      ASSERT_EQ(unique.size(), order.ids.size());
      for (int id : window) ASSERT_TRUE(unique.count(id));
      for (int id : before) ASSERT_TRUE(unique.count(id));
    }
  }
}

namespace {

struct CountingLoader : ContentLoader {
  std::vector<std::string> loads;
  void loadURL(const std::string& url) override { loads.push_back("url " + url); }
  void loadHTML(const std::string& html, const std::optional<std::string>& base) override {
    loads.push_back("html " + html + " " + base.value_or("-"));
  }
};

}  // namespace

TEST(WebViewCoordinator, LoadsOnlyOnAContentChange) {
  WebViewCoordinator coordinator;
  CountingLoader loader;
  auto url = BridgedWebViewContent::url("http://127.0.0.1/a");
  EXPECT_TRUE(coordinator.load(url, loader));
  EXPECT_FALSE(coordinator.load(url, loader));
  EXPECT_EQ(coordinator.loaded(), url);
  coordinator.load(BridgedWebViewContent::html("<p>", std::nullopt), loader);
  coordinator.load(BridgedWebViewContent::html("<p>", "http://127.0.0.1/"), loader);
  coordinator.load(BridgedWebViewContent::html("<p>", "http://127.0.0.1/"), loader);
  coordinator.load(url, loader);
  EXPECT_EQ(loader.loads, Ids({"url http://127.0.0.1/a", "html <p> -", "html <p> http://127.0.0.1/",
                               "url http://127.0.0.1/a"}));
}
