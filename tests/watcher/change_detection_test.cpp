#include <gtest/gtest.h>

#include "watcher/change_detection.h"
#include "watcher/snapshot_reader.h"

#include <nlohmann/json.hpp>

using namespace corvid;
using nlohmann::json;
using namespace std::chrono_literals;

namespace {

const Time kStart = Time{} + 1772442000s;  // baseline time of the fixture
const double kStartMs = unixMillis(kStart);

json row(const std::string& id, const std::string& lastId, double lastTs, json extra = json::object()) {
  json r = {{"id", id}, {"key", "k" + id}, {"title", " Friend " + id + "\n"}, {"username", "u" + id},
            {"snippet", "preview"}, {"lastId", lastId}, {"lastTs", lastTs}, {"lastMine", false},
            {"unread", false}, {"watermark", 0}};
  r.update(extra);
  return r;
}

json entry(const std::string& id, double ts, const std::string& snippet) {
  return {{"id", id}, {"ts", ts}, {"snippet", snippet}};
}

// The rows as the Watcher reads them out of the page's snapshot text.
std::vector<ThreadRow> rows(const std::vector<json>& list) {
  auto read = readSnapshot(json{{"source", "connection"}, {"threads", list}}.dump());
  EXPECT_TRUE(read && read->accepted);
  return read ? read->rows : std::vector<ThreadRow>{};
}

struct Detector {
  DetectionState state{{}, {}, false, kStart};
  bool includeSnippet = true;
  DetectionResult read(const std::vector<json>& list, Time now = kStart + 10s) {
    return detectChanges(rows(list), state, includeSnippet, now);
  }
};

std::vector<std::string> ids(const DetectionResult& r) {
  std::vector<std::string> out;
  for (const auto& e : r.events) out.push_back(e.messageId);
  return out;
}

}  // namespace

TEST(ChangeDetection, BaselineRecordsOnlyAndWritesItsLine) {
  Detector d;
  std::vector<json> inbox;
  for (int i = 0; i < 40; ++i) {
    inbox.push_back(row(std::to_string(i), "m" + std::to_string(i), kStartMs - 1000,
                        {{"unread", i < 2}, {"recent", json::array({entry("m" + std::to_string(i), kStartMs - 1000, "x")})}}));
  }
  DetectionResult r = d.read(inbox, kStart + 4s);
  EXPECT_TRUE(r.baseline);
  EXPECT_TRUE(r.events.empty());
  EXPECT_EQ(baselineLine(r), "baseline: threads 40 unread 2 recent 40/40");
  EXPECT_EQ(d.state.baselineAt, kStart + 4s);
  EXPECT_EQ(d.state.lastIds.size(), 40u);
  // The same inbox again: nothing changed.
  r = d.read(inbox);
  EXPECT_FALSE(r.baseline);
  EXPECT_EQ(tickLine(r), "tick: threads 40 unread 2 changed 0 new 0 events 0 burst 0 skipped ");
}

TEST(ChangeDetection, RecentEntriesAnnounceEachNewMessageOnceInTimeOrder) {
  Detector d;
  double t0 = kStartMs - 60000;
  d.read({row("a", "m1", t0, {{"recent", json::array({entry("m1", t0, "old")})}})});
  // Three messages from the friend between two reads, listed newest first.
  json burst = json::array({entry("m4", t0 + 3000, " third "), entry("m3", t0 + 2000, "second"),
                            entry("m2", t0 + 1000, "first"), entry("m1", t0, "old")});
  DetectionResult r = d.read({row("a", "m4", t0 + 3000, {{"recent", burst}})});
  EXPECT_EQ(ids(r), (std::vector<std::string>{"m2", "m3", "m4"}));
  EXPECT_EQ(r.events[2].snippet, "third");
  EXPECT_EQ(r.events[0].title, "Friend a");
  EXPECT_EQ(r.events[0].threadKey, "ka");
  EXPECT_EQ(r.events[0].username, "ua");
  EXPECT_EQ(tickLine(r), "tick: threads 1 unread 0 changed 1 new 0 events 3 burst 1 skipped ");
  // Reading the same state again (an overlapping tick) announces nothing.
  r = d.read({row("a", "m4", t0 + 3000, {{"recent", burst}})});
  EXPECT_TRUE(r.events.empty());
  EXPECT_EQ(r.changed, 0);
}

TEST(ChangeDetection, OwnRepliesReadThreadsAndMissingIdsAreSkippedWithTheirReason) {
  Detector d;
  double t0 = kStartMs - 60000;
  d.read({row("mine", "m1", t0, {{"recent", json::array()}}), row("read", "r1", t0, {{"recent", json::array()}}),
          row("single", "s1", t0), row("noid", "n1", t0), row("readsingle", "x1", t0)});
  DetectionResult r = d.read({
      // The viewer's own reply is the newest message: no entry from others.
      row("mine", "m2", t0 + 1000, {{"lastMine", true}, {"recent", json::array()}}),
      // Read elsewhere: the watermark is at the new message's time.
      row("read", "r2", t0 + 1000, {{"watermark", t0 + 1000}, {"recent", json::array({entry("r2", t0 + 1000, "hi")})}}),
      // No recent list: the single-message rule, unread and not mine.
      row("single", "s2", t0 + 1000, {{"unread", true}, {"snippet", "  hello\n"}}),
      row("noid", "", t0 + 1000, {{"unread", true}}),
      row("readsingle", "x2", t0 + 1000, {{"unread", true}, {"resolvedIsUnread", false}}),
  });
  ASSERT_EQ(ids(r), (std::vector<std::string>{"s2"}));
  EXPECT_EQ(r.events[0].snippet, "hello");
  EXPECT_EQ(r.skipped, (std::vector<std::string>{"mine", "read", "noId", "read"}));
  EXPECT_EQ(r.changed, 5);
}

TEST(ChangeDetection, ThreadsSeenForTheFirstTimeCountOnlyAfterTheBaseline) {
  Detector d;
  d.read({row("a", "m1", kStartMs - 5000)}, kStart);
  DetectionResult r = d.read({
      row("old", "o1", kStartMs - 1000, {{"unread", true}}),  // scrolled into view: older than the baseline
      row("fresh", "f2", kStartMs + 2000,
          {{"recent", json::array({entry("f2", kStartMs + 2000, "new one"), entry("f1", kStartMs - 500, "before")})}}),
  });
  EXPECT_EQ(ids(r), (std::vector<std::string>{"f2"}));
  EXPECT_EQ(r.isNew, 1);
  EXPECT_EQ(r.changed, 1);
  EXPECT_TRUE(d.state.lastIds.count("old"));
}

TEST(ChangeDetection, SinceTimeIsTheNewestTimeEverSeenForTheThread) {
  Detector d;
  double t0 = kStartMs - 60000;
  d.read({row("a", "m2", t0 + 2000)});
  // The preview moves back to an older message (m2 unsent), then a message
  // between the two times arrives: it is not newer than what was seen.
  d.read({row("a", "m1", t0 + 1000)});
  DetectionResult r = d.read({row("a", "m9", t0 + 1500, {{"recent", json::array({entry("m9", t0 + 1500, "x")})}})});
  EXPECT_TRUE(r.events.empty());
  EXPECT_EQ(d.state.lastTsSeen["a"], t0 + 2000);
}

TEST(ChangeDetection, SnippetSettingEmptyTitlesAndBadShapes) {
  Detector d;
  d.includeSnippet = false;
  double t0 = kStartMs - 60000;
  d.read({row("a", "m1", t0), json{{"id", 5}}});
  DetectionResult r = d.read({
      row("a", "m2", t0 + 1000, {{"title", "  "}, {"unread", "yes"}, {"resolvedIsUnread", nullptr},
                                 {"recent", json::array({entry("m2", t0 + 1000, "secret text"), json{{"id", ""}}})}}),
      json{{"id", "b"}, {"lastTs", "soon"}, {"recent", json::array({1, 2})}},
  });
  ASSERT_EQ(r.events.size(), 1u);
  EXPECT_EQ(r.events[0].title, "새 메시지");
  EXPECT_EQ(r.events[0].snippet, "새 메시지");
  EXPECT_EQ(r.rows, 2);
}

TEST(ChangeDetection, SnapshotsThatAreNotAcceptedReads) {
  EXPECT_FALSE(readSnapshot("null"));
  EXPECT_FALSE(readSnapshot("[1,2]"));
  EXPECT_FALSE(readSnapshot(R"({"source":"connection","threads":[)"));  // cut short
  auto pending = readSnapshot(R"({"source":"pending","threads":[],"total":0})");
  ASSERT_TRUE(pending);
  EXPECT_FALSE(pending->accepted);
  EXPECT_EQ(pending->source, "pending");
  auto all = readSnapshot(R"({"source":"all","threads":[{"id":"1"}]})");
  EXPECT_FALSE(all->accepted);
  auto mixed = readSnapshot(R"({"source":"connection","threads":[{"id":"1"},2]})");
  EXPECT_FALSE(mixed->accepted);
  EXPECT_FALSE(readSnapshot(R"({"source":5})")->source);
  auto empty = readSnapshot(R"({"source":"connection","threads":[],"viewerUsername":"me"})");
  EXPECT_TRUE(empty->accepted);
  EXPECT_EQ(empty->viewerUsername, "me");
}

TEST(ChangeDetection, CollapseIdIsAStableDigestOfTheMessageId) {
  // SHA-256("abc") = ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad
  EXPECT_EQ(collapseId("abc"), "m-ba7816bf8f01cfea414140de5dae2223");
  EXPECT_EQ(collapseId("abc").size(), 34u);
  EXPECT_NE(collapseId("mid.1"), collapseId("mid.2"));
}
