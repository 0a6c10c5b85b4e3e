# Warnings for the project's own code. Third-party headers come in as system
# headers (imported targets), so -Werror applies to our code only.
function(corvid_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror
    # GCC 12 reports false -Wrestrict overlaps inside std::string at -O2 and
    # above (GCC bug 105651).
    $<$<AND:$<CXX_COMPILER_ID:GNU>,$<VERSION_LESS:$<CXX_COMPILER_VERSION>,13>>:-Wno-restrict>)
endfunction()

# A static library of the project, with the project's include root.
function(corvid_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  corvid_warnings(${name})
endfunction()

# Core libraries (base/, push/, scripts/, watcher/, the models of ui/ and
# app/, the plain part of webbridge/) must not see any GLib, GTK, WebKit,
# libsoup or libnotify header. They may link only other core libraries and
# the plain C++ libraries listed here; corvid_check_layering() fails the
# configure step otherwise.
set(CORVID_CORE_ALLOWED_LIBS nlohmann_json::nlohmann_json PkgConfig::SIGCXX
    PkgConfig::URIPARSER PkgConfig::QRENCODE ICU::i18n ICU::uc OpenSSL::Crypto Threads::Threads simdjson::simdjson)

function(corvid_core_library name)
  corvid_library(${name} ${ARGN})
  set_property(GLOBAL APPEND PROPERTY CORVID_CORE_TARGETS ${name})
endfunction()

function(corvid_check_layering)
  get_property(core GLOBAL PROPERTY CORVID_CORE_TARGETS)
  foreach(t IN LISTS core)
    get_target_property(libs ${t} LINK_LIBRARIES)
    if(NOT libs)
      continue()
    endif()
    foreach(l IN LISTS libs)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" l "${l}")
      if(l IN_LIST core OR l IN_LIST CORVID_CORE_ALLOWED_LIBS)
        continue()
      endif()
      message(FATAL_ERROR "core library ${t} links ${l}; only core libraries and "
                          "plain C++ libraries may be linked there")
    endforeach()
  endforeach()
endfunction()

# A unit or integration test executable registered with CTest.
#   corvid_test(NAME name SOURCES ... LIBS ... [LABELS ...] [DISPLAY] [TIMEOUT s] [SCREEN WxH])
# DISPLAY tests need an X server and a session bus; tools/test runs the
# whole suite under Xvfb and a private D-Bus session. SCREEN runs the test
# on an Xvfb of its own with a screen of that size.
function(corvid_test)
  cmake_parse_arguments(T "DISPLAY" "NAME;TIMEOUT;SCREEN" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  corvid_warnings(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  if(T_SCREEN)
    # A display of its own with that screen size (WIDTHxHEIGHT).
    add_test(NAME ${T_NAME} COMMAND xvfb-run -a -s "-screen 0 ${T_SCREEN}x24" $<TARGET_FILE:${T_NAME}>)
    set(T_DISPLAY ON)
  else()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  endif()
  set(labels ${T_LABELS})
  if(T_DISPLAY)
    list(APPEND labels display)
  else()
    list(APPEND labels unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES LABELS "${labels}" TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "CORVID_SOURCE_DIR=${PROJECT_SOURCE_DIR};CORVID_BINARY_DIR=${PROJECT_BINARY_DIR}")
endfunction()
