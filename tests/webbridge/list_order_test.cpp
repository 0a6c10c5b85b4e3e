#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "webbridge/virtual_list_order.h"

using namespace webbridge;
using Ids = std::vector<std::string>;
using Order = VirtualListOrder<std::string>;

namespace {

Ids apply(Ids start, const Ids& window, void (Order::*step)(const Ids&)) {
  Order order(std::move(start));
  (order.*step)(window);
  return order.ids;
}

}  // namespace

TEST(VirtualListOrder, MergeKeepsKnownIdsAndPlacesNewOnesByTheirNeighbours) {
  EXPECT_EQ(apply({"a", "b", "c"}, {"x", "b", "y", "z"}, &Order::merge), Ids({"a", "x", "b", "y", "z", "c"}));
  EXPECT_EQ(apply({"a", "b", "c"}, {"c", "x", "a"}, &Order::merge), Ids({"a", "b", "c", "x"}));
  EXPECT_EQ(apply({"a", "b"}, {"x", "x", "b", "y", "x", "y"}, &Order::merge), Ids({"a", "x", "b", "y"}));
}

TEST(VirtualListOrder, ReorderMovesTheWindowAsOneBlock) {
  EXPECT_EQ(apply({"a", "b", "c", "d"}, {"d", "b"}, &Order::reorder), Ids({"a", "d", "b", "c"}));
  EXPECT_EQ(apply({"a", "b", "c"}, {"x", "c", "a"}, &Order::reorder), Ids({"x", "c", "a", "b"}));
  EXPECT_EQ(apply({"a", "b"}, {}, &Order::reorder), Ids({"a", "b"}));
  EXPECT_EQ(apply({"a", "b", "c"}, {"c", "c", "b"}, &Order::reorder), Ids({"a", "c", "b"}));
}
