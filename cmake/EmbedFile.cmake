# Writes INPUT as a byte array into the C++ source OUTPUT (see EmbedResources).
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexlen)
math(EXPR size "${hexlen} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
string(REGEX REPLACE "(('\\\\x[0-9a-f][0-9a-f]',){16})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT}; do not edit.
#include <string_view>
namespace ${NAMESPACE} {
namespace {
const char data[] = {
${bytes}'\\0'};
}  // namespace
extern const std::string_view ${IDENT};
const std::string_view ${IDENT}(data, ${size});
}  // namespace ${NAMESPACE}
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
