#include "platform/linux/web/script_call.h"

#include "base/json_text.h"

#include <array>
#include <cctype>

namespace corvid::linux_platform {

namespace {

// Reserved words, plus the names that strict code refuses as parameters
// (the body may start with "use strict").
constexpr std::array<std::string_view, 46> kReserved = {
    "await",      "break",     "case",     "catch",   "class",     "const",  "continue",   "debugger",
    "default",    "delete",    "do",       "else",    "enum",      "export", "extends",    "false",
    "finally",    "for",       "function", "if",      "import",    "in",     "instanceof", "new",
    "null",       "return",    "super",    "switch",  "this",      "throw",  "true",       "try",
    "typeof",     "var",       "void",     "while",   "with",      "yield",  "let",        "static",
    "implements", "interface", "package",  "private", "protected", "public"};

}  // namespace

bool isScriptParameterName(std::string_view name) {
  if (name.empty()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    bool ok = std::isalpha(c) || c == '_' || c == '$' || (i > 0 && std::isdigit(c));
    if (!ok) return false;
  }
  for (auto word : kReserved) {
    if (name == word) return false;
  }
  return name != "arguments" && name != "eval";
}

ScriptWrapperResult buildScriptWrapper(std::string_view body, const Json& arguments) {
  if (!arguments.is_null() && !arguments.is_object()) {
    return {std::nullopt, "script arguments must be a JSON object"};
  }
  std::string names;
  std::string values;
  if (arguments.is_object()) {
    for (auto it = arguments.begin(); it != arguments.end(); ++it) {
      if (!isScriptParameterName(it.key())) {
        return {std::nullopt, "script argument name is not a JavaScript identifier: " + it.key()};
      }
      if (!names.empty()) {
        names += ", ";
        values += ", ";
      }
      names += it.key();
      values += "__corvidArgs." + it.key();
    }
  }
  ScriptWrapper w;
  // The body goes in unchanged, on lines of its own: a trailing line comment
  // cannot swallow the closing brace, and a leading "use strict" stays the
  // inner function's directive. A plain (not arrow) function keeps the
  // body's own `this` and `arguments`.
  w.source.reserve(body.size() + 400);
  w.source += "const __corvidArgs = JSON.parse(";
  w.source += kScriptArgumentsParameter;
  w.source += ");\nconst __corvidValue = await (async function (";
  w.source += names;
  w.source += ") {\n";
  w.source += body;
  w.source += "\n})(";
  w.source += values;
  w.source += ");\nreturn __corvidValue === undefined ? undefined : JSON.stringify(__corvidValue);\n";
  w.argumentsJson = (arguments.is_object() ? arguments : Json::object())
                        .dump(-1, ' ', false, Json::error_handler_t::replace);
  return {std::move(w), {}};
}

std::optional<Json> parseScriptJson(std::string_view text) {
  Json value = Json::parse(text, nullptr, false);
  if (!value.is_discarded()) return value;
  value = Json::parse(replaceLoneSurrogates(text), nullptr, false);
  if (!value.is_discarded()) return value;
  return std::nullopt;
}

}  // namespace corvid::linux_platform
