#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "watcher/change_detection.h"
#include "watcher/snapshot_reader.h"

using namespace corvid;
using nlohmann::json;
using namespace std::chrono_literals;

namespace {

const Time kStart = Time{} + 1772442000s;  // baseline time of the fixture
const double kStartMs = unixMillis(kStart);
const double t0 = kStartMs - 60000;

json row(const std::string& id, const std::string& lastId, double lastTs, json extra = json::object()) {
  json r = {{"id", id}, {"title", " Friend " + id + "\n"}, {"lastId", lastId}, {"lastTs", lastTs}};
  r.update(extra);
  return r;
}

json recent(const std::string& id, double ts, const std::string& snippet) {
  return json::array({{{"id", id}, {"ts", ts}, {"snippet", snippet}}});
}

// Detection over the rows as the Watcher reads them out of the page's snapshot text.
struct Detector {
  DetectionState state{{}, {}, false, kStart};
  bool includeSnippet = true;
  DetectionResult read(const std::vector<json>& list) {
    auto snapshot = readSnapshot(json{{"source", "connection"}, {"threads", list}}.dump());
    EXPECT_TRUE(snapshot && snapshot->accepted);
    return detectChanges(snapshot ? snapshot->rows : std::vector<ThreadRow>{}, state, includeSnippet, kStart);
  }
};

}  // namespace

TEST(ChangeDetection, WhichChangedThreadsGiveMessagesAndWhy) {
  Detector d;
  const json none = json::array();
  EXPECT_TRUE(d.read({row("mine", "m1", t0, {{"recent", none}}), row("read", "r1", t0, {{"recent", none}}),
                      row("single", "s1", t0, {{"unread", true}}), row("noid", "n1", t0),
                      row("readsingle", "x1", t0), row("a", "m2", t0 + 2000), json{{"id", 5}}})
                  .events.empty());  // the baseline only records
  json fresh = recent("f2", kStartMs + 2000, "new");
  fresh.push_back({{"id", "f1"}, {"ts", kStartMs - 500}});  // before the baseline
  DetectionResult r = d.read({
      // The viewer's own reply is the newest message: no entry from others.
      row("mine", "m2", t0 + 1000, {{"lastMine", true}, {"recent", none}}),
      // Read elsewhere: the watermark is at the new message's time.
      row("read", "r2", t0 + 1000, {{"watermark", t0 + 1000}, {"recent", recent("r2", t0 + 1000, "hi")}}),
      // No recent list: the single-message rule, unread and not mine.
      row("single", "s2", t0 + 1000, {{"unread", true}, {"snippet", "  hello\n"}}),
      row("noid", "", t0 + 1000, {{"unread", true}}),
      row("readsingle", "x2", t0 + 1000, {{"unread", true}, {"resolvedIsUnread", false}}),
      row("a", "m1", t0 + 1000),                              // m2 unsent: the preview moves back
      row("old", "o1", kStartMs - 1000, {{"unread", true}}),  // scrolled into view: older than the baseline
      row("fresh", "f2", kStartMs + 2000, {{"title", "  "}, {"recent", fresh}}),  // new since the baseline
  });
  ASSERT_EQ(r.events.size(), 2u);
  EXPECT_EQ(r.events[0].messageId + " " + r.events[0].title + " " + r.events[0].snippet,
            "s2 Friend single hello");
  EXPECT_EQ(r.events[1].messageId + " " + r.events[1].title, "f2 새 메시지");
  EXPECT_EQ(r.skipped, (std::vector<std::string>{"mine", "read", "noId", "read", "read"}));

  // A message between the two times seen in "a" is not newer than what was
  // seen; without snippets the text is the generic one.
  d.includeSnippet = false;
  r = d.read({row("a", "m9", t0 + 1500, {{"recent", recent("m9", t0 + 1500, "x")}}),
              row("fresh", "f3", kStartMs + 3000, {{"recent", recent("f3", kStartMs + 3000, "secret")}})});
  ASSERT_EQ(r.events.size(), 1u);
  EXPECT_EQ(r.events[0].snippet, "새 메시지");
}

TEST(ChangeDetection, SnapshotsThatAreNotAcceptedReadsAndTheCollapseId) {
  // Read but not accepted (0), or not read at all (-1); Detector reads accepted ones.
  const std::pair<const char*, int> cases[] = {
      {R"({"source":"connection","threads":[)", -1},
      {R"({"source":"pending","threads":[],"total":0})", 0},
      {R"({"source":"connection","threads":[{"id":"1"},2]})", 0},
  };
  for (auto [text, expected] : cases) {
    auto read = readSnapshot(text);
    EXPECT_EQ(read ? int(read->accepted) : -1, expected) << text;
  }
  // SHA-256("abc") = ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad
  EXPECT_EQ(collapseId("abc"), "m-ba7816bf8f01cfea414140de5dae2223");
}

TEST(ChangeDetection, AThreadWhoseKeyComesAndGoesKeepsItsStateAndNoMessageIsAnnouncedTwice) {
  Detector d;
  // A conversation as a full record (key and fbid) and half-loaded (fbid only).
  auto thread = [](bool withKey, const std::string& n, const std::string& lastId, double ts, json entries) {
    const std::string key = withKey ? "340282366" + n : "";
    return row(withKey ? key : "100" + n, lastId, ts,
               {{"key", key}, {"fbid", "100" + n}, {"unread", true}, {"recent", entries}});
  };
  auto ids = [](const DetectionResult& r) {
    std::vector<std::string> out;
    for (const auto& e : r.events) out.push_back(e.messageId);
    return out;
  };
  using V = std::vector<std::string>;
  const double t1 = kStartMs + 1000, t2 = kStartMs + 2000;
  d.read({thread(true, "1", "a0", t0, json::array())});
  EXPECT_EQ(ids(d.read({thread(true, "1", "a1", t1, recent("a1", t1, "one"))})), V{"a1"});
  // The key goes, comes back and goes again: the same message is not news.
  for (bool withKey : {false, true, false}) {
    DetectionResult r = d.read({thread(withKey, "1", "a1", t1, recent("a1", t1, "one"))});
    EXPECT_EQ(ids(r), V{});
    EXPECT_EQ(r.changed + r.isNew, 0);
  }
  EXPECT_EQ(ids(d.read({thread(true, "1", "a2", t2, recent("a2", t2, "two"))})), V{"a2"});

  // A conversation first seen without its key, then with it.
  EXPECT_EQ(ids(d.read({thread(false, "2", "b1", t1, recent("b1", t1, "x"))})), V{"b1"});
  EXPECT_EQ(ids(d.read({thread(true, "2", "b1", t1, recent("b1", t1, "x"))})), V{});
  // Seen as two threads (the key alone, the fbid alone), then as one: the
  // newest time either had seen holds.
  d.read({row("3402823663", "c1", t1, {{"key", "3402823663"}, {"recent", recent("c1", t1, "x")}})});
  d.read({row("1003", "c2", t2, {{"fbid", "1003"}, {"recent", recent("c2", t2, "y")}})});
  EXPECT_EQ(ids(d.read({thread(true, "3", "c2", t2, recent("c2", t2, "y"))})), V{});
}
