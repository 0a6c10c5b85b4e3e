#include "webbridge/bridge_core.h"

#include <stdexcept>

namespace webbridge {

namespace {

WebBridgeOptions checked(WebBridgeOptions options) {
  if (!options.hasValidThrottle()) {
    throw std::invalid_argument("WebBridge: throttle must be finite and fit in milliseconds");
  }
  return options;
}

}  // namespace

WebBridgeCore::WebBridgeCore(WebBridgeOptions options, Executor resumeOn)
    : options_(checked(std::move(options))),
      snapshot_(*this, std::nullopt),
      isTargetMissing_(*this, false),
      subscribers_(EventSubscribers::make(std::move(resumeOn))) {}

WebBridgeCore::~WebBridgeCore() {
  alive_.reset();
  subscribers_->finishAll();
}

void WebBridgeCore::handle(const Json& body, const std::optional<std::string>& world, Time receivedAt) {
  auto event = decodeMessage(body, receivedAt);
  if (!event) return;
  const bool fromBridgeWorld = world == kWorldName;
  std::weak_ptr<bool> alive = alive_;
  switch (event->kind()) {
    case BridgeEvent::Kind::snapshot:
    case BridgeEvent::Kind::patch:
      if (!fromBridgeWorld) return;
      snapshot_.set(*event->capture());
      if (alive.expired()) return;
      isTargetMissing_.set(false);
      break;
    case BridgeEvent::Kind::missing:
      if (!fromBridgeWorld) return;
      isTargetMissing_.set(true);
      break;
    case BridgeEvent::Kind::custom:
      break;
  }
  if (alive.expired()) return;
  auto subscribers = subscribers_;
  if (auto callback = onEvent) {
    callback(*event);
    if (alive.expired()) return;
  }
  subscribers->broadcast(*event);
}

}  // namespace webbridge
