// The JavaScript side of asynchronous script calls, kept apart from WebKit so
// that it can be checked without a web view.
//
// WebKitGTK's call_async_javascript_function takes its arguments as a
// GVariant dictionary and refuses some of them (booleans fail with "Invalid
// parameter"), and handing a large object graph back through JSCValue is
// about twenty times slower than handing back its JSON text. So every call
// passes ONE argument, the JSON text of the named arguments, to a small
// wrapper that unpacks it into the named parameters of an inner async
// function whose body is the caller's script, unchanged, and returns the
// JSON text of the awaited result (nothing for undefined). The wrapper uses
// neither eval nor new Function, which a page's content security policy may
// forbid.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "watcher/web_engine.h"

namespace corvid::linux_platform {

// The name of the one argument the wrapper receives.
inline constexpr const char* kScriptArgumentsParameter = "__corvidCallArguments";

// True when `name` can name a parameter of a (sloppy-mode) JavaScript
// function: an ASCII identifier that is not a reserved word.
bool isScriptParameterName(std::string_view name);

struct ScriptWrapper {
  std::string source;         // the function body given to WebKit
  std::string argumentsJson;  // the value of kScriptArgumentsParameter
};

// Builds the wrapper for `body` with the keys of `arguments` (a JSON object;
// null counts as no arguments). Fails with a message when `arguments` is not
// an object or a key is not a parameter name.
struct ScriptWrapperResult {
  std::optional<ScriptWrapper> wrapper;
  std::string error;
};
ScriptWrapperResult buildScriptWrapper(std::string_view body, const Json& arguments);

// Parses JSON text made by JSON.stringify. JavaScript strings may hold lone
// UTF-16 surrogates, which JSON.stringify writes as \uD8xx escapes that a
// strict parser rejects; such escapes become U+FFFD instead of failing the
// whole value. Nothing when the text is not JSON.
std::optional<Json> parseScriptJson(std::string_view text);

}  // namespace corvid::linux_platform
