// WebBridge observer: runs in the bridge's own script world at document end.
// Finds the target element, captures it, watches the document and posts
// snapshot, patch and missing messages to the native side.
(function () {
  "use strict";

  var options = __WEBBRIDGE_OPTIONS__;

  var handlers = window.webkit && window.webkit.messageHandlers;
  var port = handlers && handlers.webBridge;
  if (!port) return;

  // Browsers run a timer whose delay does not fit 32 bits at once; the
  // longest delay they honour is the longest throttle window there is.
  var throttleMs = Math.min(Math.max(Number(options.throttleMs) || 0, 0), 2147483647);

  var counter = 0;
  var lastSignature = null;
  var pending = null;

  function post(message) {
    counter += 1;
    message.v = 1;
    message.seq = counter;
    message.ts = Date.now();
    message.href = String(window.location.href);
    port.postMessage(message);
  }

  function serialize(target) {
    var omit = options.omit;
    if (!omit || omit.length === 0) return target.outerHTML;
    var copy = target.cloneNode(true);
    var noise = copy.querySelectorAll(omit.join(","));
    for (var i = 0; i < noise.length; i++) noise[i].remove();
    return copy.outerHTML;
  }

  function scrollOffsets(element) {
    var sum = 0;
    for (var node = element; node; node = node.parentElement) {
      sum += node.scrollTop || 0;
      if (node === document.documentElement) break;
    }
    return sum;
  }

  function readValue(element, rule) {
    if (!element) return null;
    // The search root "" at document level is the document element.
    if (element === document) element = document.documentElement;
    if (!element) return null;
    var name = typeof rule.attribute === "string" ? rule.attribute : "";
    switch (rule.value) {
      case "html":
        return String(element.innerHTML);
      case "attr":
        if (!element.hasAttribute(name)) return null;
        if ((name === "href" || name === "src") && typeof element[name] === "string") {
          return element[name];
        }
        return element.getAttribute(name);
      case "style":
        return String(window.getComputedStyle(element).getPropertyValue(name) || "");
      case "position":
        var top = element.getBoundingClientRect().top + scrollOffsets(element);
        return String(Math.round(top));
      default:
        var text = typeof element.innerText === "string" ? element.innerText : element.textContent || "";
        return text.replace(/\s+/g, " ").trim();
    }
  }

  function pickOne(root, rule) {
    var anchor = root === document ? document.documentElement : root;
    var base = root;
    var hasAncestor = typeof rule.ancestor === "string";
    if (hasAncestor) {
      base = anchor.closest(rule.ancestor);
      if (!base) return null;
    }
    if (rule.preceding) {
      if (!hasAncestor) base = document;
      var matches = base.querySelectorAll(rule.selector);
      var candidate = null;
      for (var i = 0; i < matches.length; i++) {
        var match = matches[i];
        if (match === anchor || match.contains(anchor)) break;
        if (!(match.compareDocumentPosition(anchor) & Node.DOCUMENT_POSITION_FOLLOWING)) break;
        candidate = match;
      }
      return candidate;
    }
    if (rule.selector === "") return base;
    var all = base.querySelectorAll(rule.selector);
    var index = Number(rule.index) || 0;
    return index < all.length ? all[index] : null;
  }

  function extractFields() {
    var out = {};
    var rules = options.fields || {};
    Object.keys(rules).forEach(function (key) {
      var rule = rules[key];
      var values = [];
      if (rule.all) {
        var matches = document.querySelectorAll(rule.selector);
        for (var i = 0; i < matches.length; i++) {
          var v = readValue(matches[i], rule);
          if (v !== null) values.push(v);
        }
      } else {
        var value = readValue(pickOne(document, rule), rule);
        if (value !== null) values.push(value);
      }
      out[key] = values;
    });
    return out;
  }

  function extractRows() {
    var out = {};
    var rules = options.rows || {};
    Object.keys(rules).forEach(function (key) {
      var rowRule = rules[key];
      var elements = Array.prototype.slice.call(document.querySelectorAll(rowRule.selector));
      if (rowRule.limit > 0) elements = elements.slice(0, rowRule.limit);
      var fieldRules = rowRule.fields || {};
      out[key] = elements.map(function (row) {
        var record = {};
        Object.keys(fieldRules).forEach(function (name) {
          var value = readValue(pickOne(row, fieldRules[name]), fieldRules[name]);
          if (value !== null) record[name] = value;
        });
        return record;
      });
    });
    return out;
  }

  function capture(type) {
    pending = null;
    var target = document.querySelector(options.selector);
    if (!target) {
      if (type === "snapshot" || lastSignature !== null) {
        post({ type: "missing", selector: options.selector });
      }
      lastSignature = null;
      return;
    }
    var html = "";
    var truncated = false;
    if (options.includeHTML) {
      html = serialize(target);
      if (options.maxLength > 0 && html.length > options.maxLength) {
        truncated = true;
        html = "";
      }
    }
    var text = options.includeText ? String(target.innerText) : null;
    var fields = extractFields();
    var rows = extractRows();
    var signature = html !== "" ? html : JSON.stringify([text, fields, rows]);
    if (type === "patch" && signature === lastSignature) return;
    lastSignature = signature;
    var message = { type: type, selector: options.selector, html: html, truncated: truncated,
                    fields: fields, rows: rows };
    if (text !== null) message.text = text;
    post(message);
  }

  function schedule() {
    if (pending !== null) return;
    pending = window.setTimeout(function () { capture("patch"); }, throttleMs);
  }

  function start() {
    capture("snapshot");
    if (!options.observe) return;
    new MutationObserver(schedule).observe(document.documentElement, {
      childList: true,
      subtree: true,
      attributes: !!options.attributes,
      characterData: !!options.characterData,
    });
  }

  if (document.readyState === "loading") {
    document.addEventListener("DOMContentLoaded", start, { once: true });
  } else {
    start();
  }
})();
