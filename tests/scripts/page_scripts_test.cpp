#include "scripts/page_scripts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/virtual_loop.h"
#include "support/fake_platform.h"

using namespace corvid;

namespace {

// A web view that answers every script call with `next` and remembers the calls.
struct RecordingWebView : corvid::testing::FakeWebView {
  ScriptResult next;
  std::vector<std::pair<std::string, Json>> calls;  // body and arguments
  explicit RecordingWebView(VirtualLoop& loop) : FakeWebView(loop, nullptr) {
    scripts = [this](std::string_view body, const Json& arguments) {
      calls.emplace_back(body, arguments);
      return next;
    };
  }
};

}  // namespace

TEST(PageScripts, EachScriptRunsUnchangedInThePageWorld) {
  VirtualLoop loop;
  RecordingWebView view(loop);
  view.next.value = Json{{"source", "pending"}};
  EXPECT_EQ(runTask(loop, scripts::runInboxSnapshot(view)), view.next.value);
  runTask(loop, scripts::runStoreRefetch(view));
  runTask(loop, scripts::runBadge(view));
  ASSERT_EQ(view.calls.size(), 3u);
  EXPECT_EQ(view.calls[0].first, scripts::inboxSnapshotSource());
  EXPECT_EQ(view.calls[0].second,
            (Json{{"selector", scripts::threadRowSelector()}, {"limit", 3000}, {"recent", 5}}));
  EXPECT_EQ(view.calls[1].first, scripts::storeRefetchSource());
  EXPECT_EQ(view.calls[2].first, scripts::badgeSource());
  EXPECT_EQ(view.worlds, std::vector<std::string>(3, kPageWorld));
}

TEST(PageScripts, OnlyAnObjectResultCounts) {
  VirtualLoop loop;
  RecordingWebView view(loop);
  for (const Json& value : {Json(nullptr), Json::array({1}), Json("ok"), Json(3)}) {
    view.next.value = value;
    EXPECT_EQ(runTask(loop, scripts::runBadge(view)), std::nullopt) << value;
  }
  view.next.value = Json{{"ok", true}};
  view.next.error = "TypeError: boom";
  EXPECT_EQ(runTask(loop, scripts::runStoreRefetch(view)), std::nullopt);
}
