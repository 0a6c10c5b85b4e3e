// The native half of a bridge without the web engine: the options, the
// published state, the event callback and the event streams, and the rules
// by which a posted message is accepted.
//
// WebBridge (webbridge/gtk/web_bridge.h) adds the WebKitGTK side: scripts,
// message handler, pull and send. Everything here except the event-stream
// registry is main-thread only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/observable.h"
#include "webbridge/event_stream.h"
#include "webbridge/messages.h"
#include "webbridge/options.h"

namespace webbridge {

class WebBridgeCore : public corvid::ObservableObject {
 public:
  // The name of the bridge's own isolated script world.
  static inline const std::string kWorldName = "WebBridge";

  // Throws std::invalid_argument when the options' throttle has no encoding
  // (see WebBridgeOptions). `resumeOn` runs the resumption of a coroutine
  // waiting on one of the bridge's streams (see Executor).
  explicit WebBridgeCore(WebBridgeOptions options, Executor resumeOn = {});
  // Ends every open event stream.
  ~WebBridgeCore() override;

  const WebBridgeOptions& options() const { return options_; }

  // The last accepted snapshot or patch; nothing before the first.
  const std::optional<DOMSnapshot>& snapshot() const { return snapshot_.get(); }
  // True after an accepted missing report, false after a snapshot or patch.
  bool isTargetMissing() const { return isTargetMissing_.get(); }
  // Emitted after each change of the property, with the new value; the
  // owner's objectWillChange() is emitted before it.
  sigc::signal<void(const std::optional<DOMSnapshot>&)>& snapshotChanged() { return snapshot_.changed(); }
  sigc::signal<void(const bool&)>& isTargetMissingChanged() { return isTargetMissing_.changed(); }

  // Called for every accepted event, before the streams get it.
  std::function<void(const BridgeEvent&)> onEvent;

  const std::string& world() const { return kWorldName; }

  // A new, independent stream of every event accepted after this call. May
  // be called from any thread.
  EventStream events() { return subscribers_->subscribe(); }

  // Handles one posted message body. `world` names the script world that
  // posted it; nothing stands for the page's own world. Messages that do not
  // decode are dropped, and so are snapshots, patches and missing reports
  // from any world but the bridge's own: only the observer script changes
  // the published state. Custom messages are accepted from every world in
  // which the handler is registered.
  void handle(const Json& body, const std::optional<std::string>& world,
              Time receivedAt = std::chrono::system_clock::now());

 private:
  WebBridgeOptions options_;
  corvid::Published<std::optional<DOMSnapshot>> snapshot_;
  corvid::Published<bool> isTargetMissing_;
  std::shared_ptr<EventSubscribers> subscribers_;
  // Expires when the bridge is destroyed, so that handle() notices an
  // observer or callback that destroyed the bridge.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace webbridge
