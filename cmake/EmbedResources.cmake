# Compiles text resources (page scripts and the like) into the binary.
#
#   corvid_embed_resources(TARGET t HEADER path/name.h NAMESPACE ns FILES f...)
#
# Creates a static library target t whose generated header <path/name.h>
# declares one `extern const std::string_view` per file, named after the
# file with every character that is not a letter or digit replaced by "_"
# (inbox_snapshot.js -> inbox_snapshot_js). The files are read at build
# time, so editing a script rebuilds the library; nothing is read from the
# source tree at run time.
set(CORVID_EMBED_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/EmbedFile.cmake")

function(corvid_embed_resources)
  cmake_parse_arguments(E "" "TARGET;HEADER;NAMESPACE" "FILES" ${ARGN})
  set(outdir "${CMAKE_CURRENT_BINARY_DIR}/embedded")
  set(header "${outdir}/include/${E_HEADER}")
  set(decls "")
  set(sources "")
  foreach(f IN LISTS E_FILES)
    get_filename_component(abs "${f}" ABSOLUTE)
    get_filename_component(fname "${f}" NAME)
    string(MAKE_C_IDENTIFIER "${fname}" ident)
    set(src "${outdir}/${ident}.cpp")
    add_custom_command(
      OUTPUT "${src}"
      COMMAND ${CMAKE_COMMAND} -DINPUT=${abs} -DOUTPUT=${src}
              -DNAMESPACE=${E_NAMESPACE} -DIDENT=${ident} -P ${CORVID_EMBED_SCRIPT}
      DEPENDS "${abs}" "${CORVID_EMBED_SCRIPT}"
      COMMENT "Embedding ${fname}"
      VERBATIM)
    list(APPEND sources "${src}")
    string(APPEND decls "extern const std::string_view ${ident};\n")
  endforeach()
  file(GENERATE OUTPUT "${header}" CONTENT
"// Generated from the resource files of ${E_TARGET}; do not edit.
#pragma once
#include <string_view>
namespace ${E_NAMESPACE} {
${decls}}  // namespace ${E_NAMESPACE}
")
  add_library(${E_TARGET} STATIC ${sources})
  target_include_directories(${E_TARGET} PUBLIC "${outdir}/include")
  set_property(GLOBAL APPEND PROPERTY CORVID_CORE_TARGETS ${E_TARGET})
endfunction()
