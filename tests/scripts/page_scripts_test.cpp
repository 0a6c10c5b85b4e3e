#include "scripts/page_scripts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/virtual_loop.h"

using namespace corvid;

namespace {

// Answers every script call with `next` and remembers what it was given.
class RecordingWebView : public WebView {
 public:
  struct Call {
    std::string body;
    Json arguments;
    std::string world;
  };
  std::vector<Call> calls;
  ScriptResult next;

  void load(const std::string&) override {}
  void loadHTML(const std::string&, const std::optional<std::string>&) override {}
  std::optional<std::string> url() const override { return std::nullopt; }
  bool isLoading() const override { return false; }
  Task<ScriptResult> callAsyncJavaScript(std::string_view body, const Json& arguments,
                                         const std::string& world) override {
    calls.push_back({std::string(body), arguments, world});
    co_return next;
  }
  Task<std::vector<Cookie>> allCookies() override { co_return std::vector<Cookie>{}; }
  Task<void> removeAllWebsiteData() override { co_return; }
  void addUserScript(const UserScript&) override {}
  void addScriptMessageHandler(const std::string&, const std::string&,
                               std::function<void(const ScriptMessage&)>) override {}
  void setDelegate(WebViewDelegate*) override {}
};

}  // namespace

TEST(PageScripts, EachScriptRunsUnchangedInThePageWorld) {
  VirtualLoop loop;
  RecordingWebView view;
  view.next.value = Json{{"source", "pending"}};
  EXPECT_EQ(runTask(loop, scripts::runInboxSnapshot(view)), view.next.value);
  runTask(loop, scripts::runStoreRefetch(view));
  runTask(loop, scripts::runBadge(view));
  ASSERT_EQ(view.calls.size(), 3u);
  EXPECT_EQ(view.calls[0].body, scripts::inboxSnapshotSource());
  EXPECT_EQ(view.calls[0].arguments,
            (Json{{"selector", scripts::threadRowSelector()}, {"limit", 3000}, {"recent", 5}}));
  EXPECT_EQ(view.calls[1].body, scripts::storeRefetchSource());
  EXPECT_EQ(view.calls[2].body, scripts::badgeSource());
  for (const auto& call : view.calls) EXPECT_EQ(call.world, kPageWorld);
}

TEST(PageScripts, OnlyAnObjectResultCounts) {
  VirtualLoop loop;
  RecordingWebView view;
  for (const Json& value : {Json(nullptr), Json::array({1}), Json("ok"), Json(3)}) {
    view.next.value = value;
    EXPECT_EQ(runTask(loop, scripts::runBadge(view)), std::nullopt) << value;
  }
  view.next.value = Json{{"ok", true}};
  view.next.error = "TypeError: boom";
  EXPECT_EQ(runTask(loop, scripts::runStoreRefetch(view)), std::nullopt);
}
