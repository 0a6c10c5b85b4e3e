// Mending JSON text that a JavaScript engine produced.
#pragma once

#include <string>
#include <string_view>

namespace corvid {

// JSON.stringify writes an unpaired surrogate (half of a cut-off emoji, say)
// as a \uD83D escape, which strict JSON parsers reject. This replaces such
// escapes inside strings by \ufffd and leaves everything else as it is.
std::string replaceLoneSurrogates(std::string_view text);

}  // namespace corvid
