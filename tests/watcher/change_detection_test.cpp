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
  json r = {{"id", id},
            {"key", "k" + id},
            {"title", " Friend " + id + "\n"},
            {"username", "u" + id},
            {"snippet", "preview"},
            {"lastId", lastId},
            {"lastTs", lastTs},
            {"lastMine", false},
            {"unread", false},
            {"watermark", 0}};
  r.update(extra);
  return r;
}

json recent(std::initializer_list<std::tuple<const char*, double, const char*>> entries) {
  json list = json::array();
  for (const auto& [id, ts, snippet] : entries)
    list.push_back({{"id", id}, {"ts", ts}, {"snippet", snippet}});
  return list;
}

// Detection over the rows as the Watcher reads them out of the page's snapshot text.
struct Detector {
  DetectionState state{{}, {}, false, kStart};
  bool includeSnippet = true;
  DetectionResult read(const std::vector<json>& list, Time now = kStart + 10s) {
    auto snapshot = readSnapshot(json{{"source", "connection"}, {"threads", list}}.dump());
    EXPECT_TRUE(snapshot && snapshot->accepted);
    return detectChanges(snapshot ? snapshot->rows : std::vector<ThreadRow>{}, state, includeSnippet, now);
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
  std::vector<json> inbox = {row("a", "m1", t0, {{"unread", true}, {"recent", recent({{"m1", t0, "x"}})}}),
                             row("b", "n1", t0), row("c", "o1", t0, {{"recent", json::array()}})};
  DetectionResult r = d.read(inbox, kStart + 4s);
  EXPECT_TRUE(r.baseline);
  EXPECT_TRUE(r.events.empty());
  EXPECT_EQ(baselineLine(r), "baseline: threads 3 unread 1 recent 2/3");
  EXPECT_EQ(d.state.baselineAt, kStart + 4s);
  r = d.read(inbox);  // the same inbox again: nothing changed
  EXPECT_EQ(tickLine(r), "tick: threads 3 unread 1 changed 0 new 0 events 0 burst 0 skipped ");
}

TEST(ChangeDetection, OwnRepliesReadThreadsAndMissingIdsAreSkippedWithTheirReason) {
  Detector d;
  d.read({row("mine", "m1", t0, {{"recent", json::array()}}),
          row("read", "r1", t0, {{"recent", json::array()}}), row("single", "s1", t0), row("noid", "n1", t0),
          row("readsingle", "x1", t0)});
  DetectionResult r = d.read({
      // The viewer's own reply is the newest message: no entry from others.
      row("mine", "m2", t0 + 1000, {{"lastMine", true}, {"recent", json::array()}}),
      // Read elsewhere: the watermark is at the new message's time.
      row("read", "r2", t0 + 1000, {{"watermark", t0 + 1000}, {"recent", recent({{"r2", t0 + 1000, "hi"}})}}),
      // No recent list: the single-message rule, unread and not mine.
      row("single", "s2", t0 + 1000, {{"unread", true}, {"snippet", "  hello\n"}}),
      row("noid", "", t0 + 1000, {{"unread", true}}),
      row("readsingle", "x2", t0 + 1000, {{"unread", true}, {"resolvedIsUnread", false}}),
  });
  ASSERT_EQ(ids(r), (std::vector<std::string>{"s2"}));
  EXPECT_EQ(r.events[0].snippet, "hello");
  EXPECT_EQ(r.events[0].title, "Friend single");
  EXPECT_EQ(r.skipped, (std::vector<std::string>{"mine", "read", "noId", "read"}));
  EXPECT_EQ(r.changed, 5);
}

TEST(ChangeDetection, ThreadsSeenForTheFirstTimeCountOnlyAfterTheBaseline) {
  Detector d;
  d.read({row("a", "m1", kStartMs - 5000)}, kStart);
  DetectionResult r = d.read({
      row("old", "o1", kStartMs - 1000, {{"unread", true}}),  // scrolled into view: older than the baseline
      row("fresh", "f2", kStartMs + 2000,
          {{"recent", recent({{"f2", kStartMs + 2000, "new one"}, {"f1", kStartMs - 500, "before"}})}}),
  });
  EXPECT_EQ(ids(r), (std::vector<std::string>{"f2"}));
  EXPECT_EQ(r.isNew, 1);
}

TEST(ChangeDetection, SinceTimeIsTheNewestTimeEverSeenForTheThread) {
  Detector d;
  d.read({row("a", "m2", t0 + 2000)});
  // The preview moves back to an older message (m2 unsent), then a message
  // between the two times arrives: it is not newer than what was seen.
  d.read({row("a", "m1", t0 + 1000)});
  DetectionResult r = d.read({row("a", "m9", t0 + 1500, {{"recent", recent({{"m9", t0 + 1500, "x"}})}})});
  EXPECT_TRUE(r.events.empty());
}

TEST(ChangeDetection, SnippetSettingEmptyTitlesAndBadShapes) {
  Detector d;
  d.includeSnippet = false;
  d.read({row("a", "m1", t0), json{{"id", 5}}});
  json entries = recent({{"m2", t0 + 1000, "secret text"}});
  entries.push_back(json{{"id", ""}});
  DetectionResult r = d.read({
      row("a", "m2", t0 + 1000,
          {{"title", "  "}, {"unread", "yes"}, {"resolvedIsUnread", nullptr}, {"recent", entries}}),
      json{{"id", "b"}, {"lastTs", "soon"}, {"recent", json::array({1, 2})}},
  });
  ASSERT_EQ(r.events.size(), 1u);
  EXPECT_EQ(r.events[0].title, "새 메시지");
  EXPECT_EQ(r.events[0].snippet, "새 메시지");
  EXPECT_EQ(r.rows, 2);
}

TEST(ChangeDetection, SnapshotsThatAreNotAcceptedReads) {
  for (const char* text : {"null", "[1,2]", R"({"source":"connection","threads":[)"})
    EXPECT_FALSE(readSnapshot(text));
  for (const char* text :
       {R"({"source":"pending","threads":[],"total":0})", R"({"source":"all","threads":[{"id":"1"}]})",
        R"({"source":"connection","threads":[{"id":"1"},2]})"}) {
    auto read = readSnapshot(text);
    ASSERT_TRUE(read) << text;
    EXPECT_FALSE(read->accepted) << text;
  }
  EXPECT_FALSE(readSnapshot(R"({"source":5})")->source);
  auto empty = readSnapshot(R"({"source":"connection","threads":[],"viewerUsername":"me"})");
  EXPECT_TRUE(empty->accepted);
  EXPECT_EQ(empty->viewerUsername, "me");
}

TEST(ChangeDetection, CollapseIdIsADigestOfTheMessageId) {
  // SHA-256("abc") = ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad
  EXPECT_EQ(collapseId("abc"), "m-ba7816bf8f01cfea414140de5dae2223");
  EXPECT_NE(collapseId("mid.1"), collapseId("mid.2"));
}
