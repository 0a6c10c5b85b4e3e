// The inbox page scripts and how the Watcher runs them.
//
// Each script is a text resource compiled into the binary (see
// inbox_snapshot.js, store_refetch.js, badge.js and store_wait.js) and runs unchanged as the
// body of an async function in the watched page's own world, main frame.
// A call that fails, a script that throws, and a result that is not an
// object all come back as nothing.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "base/task.h"
#include "watcher/web_engine.h"

namespace corvid::scripts {

// Script texts, as embedded.
std::string_view inboxSnapshotSource();
std::string_view storeRefetchSource();
std::string_view badgeSource();
std::string_view storeWaitSource();

// The CSS selector list of inbox thread rows (start points of the snapshot's
// fiber walk). Built on first use and kept for the life of the process.
const std::string& threadRowSelector();

// The snapshot's arguments: `selector` (the thread-row selector), `limit`
// 3000 and `recent` 5.
Json snapshotArguments();

// Runs the inbox snapshot and answers its result object as it is: the
// Watcher applies its own acceptance rules (`source`, `threads`). Nothing
// when the page has no Relay store (null) or the call failed.
Task<std::optional<Json>> runInboxSnapshot(WebView& view);

// Runs the store refetch (up to about 12 seconds); the result carries `ok`
// and, on failure, `reason`.
Task<std::optional<Json>> runStoreRefetch(WebView& view);

// Runs the badge reading: `badge`, `titleCount`, `hasLink`.
Task<std::optional<Json>> runBadge(WebView& view);

// Runs the store wait: returns once the page's Relay store epoch differs
// from `since` (nothing: the epoch at the start), or after `timeout`.
// The result carries `state` ("changed", "timeout", "unsupported") and
// `epoch`.
Task<std::optional<Json>> runStoreWait(WebView& view, std::optional<double> since,
                                       std::chrono::milliseconds timeout, std::chrono::milliseconds interval);

}  // namespace corvid::scripts
