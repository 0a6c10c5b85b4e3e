#include "platform/linux/web/script_call.h"

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

bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

unsigned hexValue(std::string_view s) {
  unsigned v = 0;
  for (char c : s) {
    v <<= 4;
    if (c >= '0' && c <= '9')
      v |= unsigned(c - '0');
    else if (c >= 'a' && c <= 'f')
      v |= unsigned(c - 'a' + 10);
    else
      v |= unsigned(c - 'A' + 10);
  }
  return v;
}

// The code unit of a \uXXXX escape starting at text[i] (the backslash), or
// nothing when there is none.
std::optional<unsigned> escapeAt(std::string_view text, std::size_t i) {
  if (i + 6 > text.size() || text[i] != '\\' || text[i + 1] != 'u') return std::nullopt;
  for (std::size_t k = i + 2; k < i + 6; ++k) {
    if (!isHex(text[k])) return std::nullopt;
  }
  return hexValue(text.substr(i + 2, 4));
}

// Replaces \u escapes of unpaired surrogates inside JSON strings by \ufffd.
std::string replaceLoneSurrogates(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (!inString) {
      if (c == '"') inString = true;
      out += c;
      continue;
    }
    if (c == '"') {
      inString = false;
      out += c;
      continue;
    }
    if (c != '\\' || i + 1 >= text.size()) {
      out += c;
      continue;
    }
    auto unit = escapeAt(text, i);
    if (!unit) {  // another escape: copy it whole
      out += c;
      out += text[++i];
      continue;
    }
    if (*unit >= 0xD800 && *unit <= 0xDBFF) {
      auto next = escapeAt(text, i + 6);
      if (next && *next >= 0xDC00 && *next <= 0xDFFF) {
        out.append(text.substr(i, 12));
        i += 11;
        continue;
      }
      out += "\\ufffd";
    } else if (*unit >= 0xDC00 && *unit <= 0xDFFF) {
      out += "\\ufffd";
    } else {
      out.append(text.substr(i, 6));
    }
    i += 5;
  }
  return out;
}

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
