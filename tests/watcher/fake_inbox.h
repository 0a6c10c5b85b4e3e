// A watched inbox page for Watcher tests: answers the page scripts from a
// list of thread rows and a badge, like the real scripts would on the real
// page.
#pragma once

#include <string>
#include <vector>

#include "scripts/page_scripts.h"
#include "support/fake_platform.h"

namespace corvid::testing {

struct FakeInbox {
  std::vector<Json> rows;
  std::string source = "connection";
  bool storeMissing = false;  // the snapshot finds no store (null)
  std::string viewer = "me";
  int badge = 0;
  int refetches = 0;

  void attach(FakeWebView& view) {
    view.scripts = [this](std::string_view body, const Json&) -> ScriptResult {
      if (body == scripts::inboxSnapshotSource()) {
        if (storeMissing) return {std::nullopt, Json(nullptr)};
        return {std::nullopt, Json{{"source", source},
                                   {"threads", rows},
                                   {"viewerUsername", viewer},
                                   {"total", rows.size()},
                                   {"hasNext", false}}};
      }
      if (body == scripts::badgeSource()) {
        return {std::nullopt,
                Json{{"badge", badge}, {"titleCount", badge > 0 ? badge : -1}, {"hasLink", true}}};
      }
      if (body == scripts::storeRefetchSource()) {
        ++refetches;
        return {std::nullopt, Json{{"ok", true}}};
      }
      return {std::string("unknown script"), std::nullopt};
    };
  }

  // A one-to-one thread whose newest message from the friend is `lastId`.
  static Json thread(const std::string& id, const std::string& lastId, double lastTs, Json recent,
                     Json extra = Json::object()) {
    Json r = {{"id", id},
              {"key", "key-" + id},
              {"title", "Friend " + id},
              {"username", "friend_" + id},
              {"snippet", "…"},
              {"lastId", lastId},
              {"lastTs", lastTs},
              {"lastMine", false},
              {"unread", false},
              {"resolvedIsUnread", nullptr},
              {"watermark", 0},
              {"recent", recent}};
    r.update(extra);
    return r;
  }
  static Json message(const std::string& id, double ts, const std::string& text) {
    return Json{{"id", id}, {"ts", ts}, {"snippet", text}};
  }
};

}  // namespace corvid::testing
