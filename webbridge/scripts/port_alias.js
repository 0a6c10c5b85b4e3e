// WebBridge port alias: runs at document start in the bridge's own world.
// The bridge's handler is registered in this world under an internal name,
// so that the native side can tell this world's messages from the page's;
// this makes it reachable here as window.webkit.messageHandlers.webBridge.
(function () {
  "use strict";
  var handlers = window.webkit && window.webkit.messageHandlers;
  var port = handlers && handlers["__WEBBRIDGE_PORT__"];
  if (!port || Object.prototype.hasOwnProperty.call(handlers, "webBridge")) return;
  Object.defineProperty(handlers, "webBridge", { value: port, enumerable: true });
})();
