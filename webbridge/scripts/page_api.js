// WebBridge page API: runs in the page's own world at document start when
// the bridge exposes itself to the page. Defines window.WebBridge with
// send(name, payload) and on(listener).
(function () {
  "use strict";

  if (window.WebBridge !== undefined) return;
  var handlers = window.webkit && window.webkit.messageHandlers;
  var port = handlers && handlers.webBridge;
  if (!port) return;

  var counter = 0;
  var listeners = new Set();

  function report(error) {
    if (typeof window.reportError === "function") {
      window.reportError(error);
    } else {
      window.setTimeout(function () { throw error; });
    }
  }

  window.addEventListener("webbridge", function (event) {
    var detail = event.detail || {};
    // A listener that throws does not keep the later ones from their call.
    Array.from(listeners).forEach(function (listener) {
      try {
        listener(detail.name, detail.payload);
      } catch (error) {
        report(error);
      }
    });
  });

  var api = {
    send: function (name, payload) {
      counter += 1;
      port.postMessage({
        v: 1,
        type: "custom",
        name: String(name),
        payload: payload === undefined ? null : payload,
        seq: counter,
        ts: Date.now(),
        href: String(window.location.href),
      });
    },
    on: function (listener) {
      listeners.add(listener);
      return function () { listeners.delete(listener); };
    },
  };

  window.WebBridge = Object.freeze(api);
})();
