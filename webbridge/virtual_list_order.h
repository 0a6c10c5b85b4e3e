// One stable order of row ids for a list of which the page shows only a
// window at a time (a virtualised list). Each new window of visible ids is
// folded into the accumulated order.
#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <unordered_set>
#include <utility>
#include <vector>

namespace webbridge {

template <class Id, class Hash = std::hash<Id>>
struct VirtualListOrder {
  // The accumulated order. It holds each id at most once when it starts
  // without repeats and changes only through the operations below.
  std::vector<Id> ids;

  VirtualListOrder() = default;
  explicit VirtualListOrder(std::vector<Id> initial) : ids(std::move(initial)) {}

  // Folds in the ids visible now, in page order. Known ids never move; a new
  // id goes directly after the window id before it, and new ids that come
  // before the window's first known id go directly before that one. A
  // window without any known id is appended.
  void merge(const std::vector<Id>& window) {
    std::vector<Id> pending;
    std::size_t cursor = 0;
    bool seenKnown = false;
    for (const Id& id : firstOccurrences(window)) {
      auto it = std::find(ids.begin(), ids.end(), id);
      if (it != ids.end()) {
        auto p = static_cast<std::size_t>(it - ids.begin());
        if (!pending.empty()) {
          ids.insert(ids.begin() + static_cast<std::ptrdiff_t>(p), pending.begin(), pending.end());
          cursor = p + pending.size();
          pending.clear();
        } else {
          cursor = p;
        }
        seenKnown = true;
      } else if (!seenKnown) {
        pending.push_back(id);
      } else {
        cursor += 1;
        ids.insert(ids.begin() + static_cast<std::ptrdiff_t>(cursor), id);
      }
    }
    ids.insert(ids.end(), pending.begin(), pending.end());
  }

  // Takes the window as the true order of its members: they move, in window
  // order, as one block to where the first of them stood (to the end when
  // none was known). An empty window changes nothing.
  void reorder(const std::vector<Id>& window) {
    std::vector<Id> block = firstOccurrences(window);
    if (block.empty()) return;
    std::unordered_set<Id, Hash> members(block.begin(), block.end());
    std::vector<Id> rest;
    rest.reserve(ids.size());
    std::size_t anchor = static_cast<std::size_t>(-1);
    for (std::size_t i = 0; i < ids.size(); ++i) {
      if (members.count(ids[i])) {
        if (anchor == static_cast<std::size_t>(-1)) anchor = rest.size();
      } else {
        rest.push_back(ids[i]);
      }
    }
    if (anchor == static_cast<std::size_t>(-1)) anchor = rest.size();
    rest.insert(rest.begin() + static_cast<std::ptrdiff_t>(anchor), block.begin(), block.end());
    ids = std::move(rest);
  }

  // Deletes every occurrence of `id`.
  void remove(const Id& id) { ids.erase(std::remove(ids.begin(), ids.end(), id), ids.end()); }
  void removeAll() { ids.clear(); }

  bool operator==(const VirtualListOrder&) const = default;

 private:
  static std::vector<Id> firstOccurrences(const std::vector<Id>& window) {
    std::vector<Id> out;
    out.reserve(window.size());
    std::unordered_set<Id, Hash> seen;
    for (const Id& id : window) {
      if (seen.insert(id).second) out.push_back(id);
    }
    return out;
  }
};

}  // namespace webbridge
