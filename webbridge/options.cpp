#include "webbridge/options.h"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "webbridge/page_scripts.h"

namespace webbridge {

namespace {

constexpr std::string_view kOptionsPlaceholder = "__WEBBRIDGE_OPTIONS__";

// 2^63 as a double: the first value that no longer fits an int64.
constexpr double kInt64Bound = 9223372036854775808.0;

std::int64_t atLeastZero(std::int64_t v) { return v < 0 ? 0 : v; }

bool millisecondsFit(double seconds) {
  double ms = seconds * 1000.0;
  return std::isfinite(ms) && ms < kInt64Bound && ms >= -kInt64Bound;
}

Json encodeRules(const std::map<std::string, FieldRule>& rules) {
  Json out = Json::object();
  for (const auto& [name, rule] : rules) out[name] = rule.jsonObject();
  return out;
}

}  // namespace

FieldRule::FieldRule(std::string selector, Value value, bool all, std::int64_t index,
                     std::optional<std::string> ancestor, bool preceding)
    : selector(std::move(selector)),
      value(std::move(value)),
      all(all),
      index(index),
      ancestor(std::move(ancestor)),
      preceding(preceding) {}

Json FieldRule::jsonObject() const {
  Json out = {{"selector", selector}, {"all", all}, {"index", atLeastZero(index)}};
  if (ancestor) out["ancestor"] = *ancestor;
  if (preceding) out["preceding"] = true;
  switch (value.kind()) {
    case Value::Kind::attribute:
      out["value"] = "attr";
      out["attribute"] = value.name();
      break;
    case Value::Kind::style:
      out["value"] = "style";
      out["attribute"] = value.name();
      break;
    case Value::Kind::text:
      out["value"] = "text";
      break;
    case Value::Kind::html:
      out["value"] = "html";
      break;
    case Value::Kind::position:
      out["value"] = "position";
      break;
  }
  return out;
}

RowRule::RowRule(std::string selector, std::map<std::string, FieldRule> fields, std::int64_t limit)
    : selector(std::move(selector)), fields(std::move(fields)), limit(limit) {}

Json RowRule::jsonObject() const {
  return {{"selector", selector}, {"limit", atLeastZero(limit)}, {"fields", encodeRules(fields)}};
}

const char* propertyName(WebBridgePullFormat format) {
  switch (format) {
    case WebBridgePullFormat::outerHTML:
      return "outerHTML";
    case WebBridgePullFormat::innerHTML:
      return "innerHTML";
    case WebBridgePullFormat::innerText:
      return "innerText";
  }
  return "outerHTML";
}

WebBridgeOptions::WebBridgeOptions(std::string selector, bool observe, double throttle, bool attributes,
                                   bool characterData, bool includeText, bool includeHTML, bool exposeToPage,
                                   bool mainFrameOnly, std::map<std::string, FieldRule> fields,
                                   std::map<std::string, RowRule> rows, std::vector<std::string> omit,
                                   std::int64_t maxHTMLLength)
    : selector(std::move(selector)),
      observe(observe),
      throttle(throttle),
      attributes(attributes),
      characterData(characterData),
      includeText(includeText),
      includeHTML(includeHTML),
      exposeToPage(exposeToPage),
      mainFrameOnly(mainFrameOnly),
      fields(std::move(fields)),
      rows(std::move(rows)),
      omit(std::move(omit)),
      maxHTMLLength(maxHTMLLength) {
  if (!hasValidThrottle()) {
    throw std::invalid_argument("WebBridgeOptions: throttle must be finite and fit in milliseconds");
  }
}

bool WebBridgeOptions::hasValidThrottle() const { return millisecondsFit(throttle); }

Json WebBridgeOptions::jsonObject() const {
  // A throttle that was made unencodable after creation still gives a
  // number the page can use: not-a-number as 0, overflow saturated.
  std::int64_t throttleMs = 0;
  double ms = std::trunc(throttle * 1000.0);
  if (ms >= kInt64Bound) {
    throttleMs = std::numeric_limits<std::int64_t>::max();
  } else if (ms > 0) {
    throttleMs = static_cast<std::int64_t>(ms);
  }
  Json rowsJson = Json::object();
  for (const auto& [name, rule] : rows) rowsJson[name] = rule.jsonObject();
  return {{"selector", selector},
          {"throttleMs", throttleMs},
          {"observe", observe},
          {"attributes", attributes},
          {"characterData", characterData},
          {"includeText", includeText},
          {"includeHTML", includeHTML},
          {"omit", omit},
          {"maxLength", atLeastZero(maxHTMLLength)},
          {"fields", encodeRules(fields)},
          {"rows", std::move(rowsJson)}};
}

std::string WebBridgeOptions::observerScriptSource() const {
  std::string json;
  try {
    // nlohmann::json keeps object keys in a sorted map, so the text has its
    // keys in ascending order at every depth; dump() is compact.
    json = jsonObject().dump();
  } catch (const Json::exception&) {
    json = "{}";  // a selector or name that is not valid UTF-8
  }
  const std::string_view script = scripts::observer_js;
  std::string out;
  out.reserve(script.size() + json.size());
  std::size_t pos = 0;
  while (true) {
    std::size_t hit = script.find(kOptionsPlaceholder, pos);
    if (hit == std::string_view::npos) break;
    out.append(script.substr(pos, hit - pos));
    out.append(json);
    pos = hit + kOptionsPlaceholder.size();
  }
  out.append(script.substr(pos));
  return out;
}

}  // namespace webbridge
