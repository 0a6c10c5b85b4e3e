#include "scripts/page_scripts.h"

#include <array>
#include <utility>

#include "scripts/embedded_scripts.h"

namespace corvid::scripts {

namespace {

Task<std::optional<Json>> runObjectScript(WebView& view, std::string_view body, Json arguments) {
  ScriptResult result = co_await view.callAsyncJavaScript(body, arguments, kPageWorld);
  // Moved, not copied: a snapshot of a large inbox is megabytes of values.
  if (result.object()) co_return std::move(*result.value);
  co_return std::nullopt;
}

}  // namespace

std::string_view inboxSnapshotSource() { return embedded::inbox_snapshot_js; }
std::string_view storeRefetchSource() { return embedded::store_refetch_js; }
std::string_view badgeSource() { return embedded::badge_js; }
std::string_view storeWaitSource() { return embedded::store_wait_js; }

const std::string& threadRowSelector() {
  static const std::string selector = [] {
    // Rows as the inbox draws them; none inside a message list (article).
    constexpr std::string_view suffix = ":not([role=article] *):not(:has([role=article]))";
    constexpr std::array<std::string_view, 4> bases = {
        "div[role=button]:not([aria-label]):has(span:not([role]) > img):has(span[dir=auto])",
        "div[role=button]:has(abbr[aria-label])",
        "div[role=button]:has(time)",
        "a[href^=\"/direct/t/\"]",
    };
    std::string joined;
    for (std::string_view base : bases) {
      if (!joined.empty()) joined += ", ";
      joined += base;
      joined += suffix;
    }
    return joined;
  }();
  return selector;
}

Json snapshotArguments() { return Json{{"selector", threadRowSelector()}, {"limit", 3000}, {"recent", 5}}; }

Task<std::optional<Json>> runInboxSnapshot(WebView& view) {
  co_return co_await runObjectScript(view, inboxSnapshotSource(), snapshotArguments());
}

Task<std::optional<Json>> runStoreRefetch(WebView& view) {
  co_return co_await runObjectScript(view, storeRefetchSource(), Json::object());
}

Task<std::optional<Json>> runBadge(WebView& view) {
  co_return co_await runObjectScript(view, badgeSource(), Json::object());
}

Task<std::optional<Json>> runStoreWait(WebView& view, std::optional<double> since,
                                       std::chrono::milliseconds timeout, std::chrono::milliseconds interval) {
  Json arguments = {{"since", since ? Json(*since) : Json(nullptr)},
                    {"timeoutMs", timeout.count()},
                    {"intervalMs", interval.count()}};
  co_return co_await runObjectScript(view, storeWaitSource(), std::move(arguments));
}

}  // namespace corvid::scripts
