// What a bridge watches and captures, and how that configuration travels
// into the page.
//
// The options are plain values, fixed when a bridge is made. The page never
// sends them back: they reach the observer script as a JSON object written
// into its source text (observerScriptSource()).
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace webbridge {

using Json = nlohmann::json;

// How one value is found and read in the page.
struct FieldRule {
  // What is read from the element that a rule picks.
  class Value {
   public:
    enum class Kind {
      attribute,  // an attribute; "href" and "src" give the resolved absolute URL
      style,      // a computed style property
      text,       // the rendered text, whitespace runs collapsed and trimmed
      html,       // the inner HTML
      position,   // the vertical layout position in whole CSS pixels
    };

    static Value attribute(std::string name) { return Value(Kind::attribute, std::move(name)); }
    static Value style(std::string property) { return Value(Kind::style, std::move(property)); }
    static Value text() { return Value(Kind::text, {}); }
    static Value html() { return Value(Kind::html, {}); }
    static Value position() { return Value(Kind::position, {}); }

    Kind kind() const { return kind_; }
    // The attribute name or CSS property name; empty for the other kinds.
    const std::string& name() const { return name_; }

    bool operator==(const Value&) const = default;

   private:
    Value(Kind kind, std::string name) : kind_(kind), name_(std::move(name)) {}
    Kind kind_;
    std::string name_;
  };

  // CSS selector of the element to read; "" means the search root itself.
  std::string selector;
  Value value;
  // Document-level fields only: read every match in document order.
  bool all;
  // Which match to take when one is taken (0 is the first).
  std::int64_t index;
  // When set, the search root becomes the nearest inclusive ancestor of the
  // current root that matches this selector.
  std::optional<std::string> ancestor;
  // Take the last match before the current root in document order.
  bool preceding;

  FieldRule(std::string selector = "", Value value = Value::text(), bool all = false, std::int64_t index = 0,
            std::optional<std::string> ancestor = std::nullopt, bool preceding = false);

  Json jsonObject() const;
  bool operator==(const FieldRule&) const = default;
};

// Named lists of records, one record per matching row element.
struct RowRule {
  // CSS selector of the row elements, searched in the whole document.
  std::string selector;
  // Per-row fields, each searched relative to the row element.
  std::map<std::string, FieldRule> fields;
  // At most this many rows, the first in document order; 0 or less: all.
  std::int64_t limit;

  explicit RowRule(std::string selector = "", std::map<std::string, FieldRule> fields = {},
                   std::int64_t limit = 0);

  Json jsonObject() const;
  bool operator==(const RowRule&) const = default;
};

// The property of an element that a pull reads.
enum class WebBridgePullFormat { outerHTML, innerHTML, innerText };

// "outerHTML", "innerHTML" or "innerText".
const char* propertyName(WebBridgePullFormat format);

struct WebBridgeOptions {
  // The library's standard noise selectors for `omit`.
  static inline const std::vector<std::string> defaultOmit = {"script", "style", "noscript", "template",
                                                              "link",   "meta",  "svg"};

  // CSS selector of the target; the first match in document order.
  std::string selector;
  // After the first snapshot, keep watching the document for mutations.
  bool observe;
  // Seconds in which mutations are gathered into one patch.
  double throttle;
  // Attribute changes also count as mutations.
  bool attributes;
  // Text-node changes also count as mutations.
  bool characterData;
  // Send the target's rendered text with each snapshot.
  bool includeText;
  // Send the target's serialized HTML with each snapshot.
  bool includeHTML;
  // Also install window.WebBridge in the page's own world and accept custom
  // messages from it. Never sent to the page.
  bool exposeToPage;
  // Inject the bridge scripts into the main frame only. Never sent.
  bool mainFrameOnly;
  // Named values read from the whole document.
  std::map<std::string, FieldRule> fields;
  // Named lists of records.
  std::map<std::string, RowRule> rows;
  // Selectors whose matches are removed from the copy serialized as HTML.
  std::vector<std::string> omit;
  // Largest serialized HTML in UTF-16 code units that is still sent; 0 or
  // less means no limit.
  std::int64_t maxHTMLLength;

  // Throws std::invalid_argument when `throttle` is not finite or its value
  // in milliseconds does not fit a signed 64-bit integer: such a throttle has
  // no encoding for the page.
  explicit WebBridgeOptions(std::string selector, bool observe = true, double throttle = 0.25,
                            bool attributes = false, bool characterData = true, bool includeText = false,
                            bool includeHTML = true, bool exposeToPage = false, bool mainFrameOnly = true,
                            std::map<std::string, FieldRule> fields = {},
                            std::map<std::string, RowRule> rows = {},
                            std::vector<std::string> omit = defaultOmit, std::int64_t maxHTMLLength = 0);

  // Whether `throttle` (a field that may be changed after creation) still
  // has an encoding; WebBridge checks this again when it is made.
  bool hasValidThrottle() const;

  // Exactly the eleven keys the observer script reads.
  Json jsonObject() const;
  // The observer script with this record's JSON (compact, keys sorted at
  // every depth) in place of its placeholder.
  std::string observerScriptSource() const;

  bool operator==(const WebBridgeOptions&) const = default;
};

}  // namespace webbridge
