# Checking builds (see the README's test section):
#   -DBUKUREA_SANITIZE=ON  every target with AddressSanitizer and
#                          UndefinedBehaviorSanitizer; any report ends the
#                          program with an error, so a test that triggers one
#                          fails.
#   -DBUKUREA_FUZZ=ON      the same with clang, plus the libFuzzer targets in
#                          fuzz/ (run them with tools/fuzz.sh).
option(BUKUREA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(BUKUREA_FUZZ "Build the libFuzzer targets in fuzz/ (needs clang)" OFF)

if(BUKUREA_FUZZ AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "BUKUREA_FUZZ needs clang's libFuzzer: configure with CXX=clang++")
endif()

if(BUKUREA_SANITIZE OR BUKUREA_FUZZ)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  if(BUKUREA_FUZZ)
    # Coverage for the fuzzer in every library the targets link.
    add_compile_options(-fsanitize=fuzzer-no-link)
  endif()
  # The sanitizers' default options and the suppressions of reports from
  # other libraries' code go into every program, so that any way of running
  # it (ctest, by hand, a debugger) checks the same.
  file(READ ${CMAKE_SOURCE_DIR}/tools/sanitizers/lsan.supp BUKUREA_LSAN_SUPPRESSIONS)
  # An edited list of suppressions is built in again.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/sanitizers/lsan.supp)
  set(BUKUREA_UBSAN_SUPPRESSIONS ${CMAKE_SOURCE_DIR}/tools/sanitizers/ubsan.supp)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/sanitizer_defaults.cpp.in
                 ${CMAKE_BINARY_DIR}/sanitizer_defaults.cpp @ONLY)
  add_library(bukurea_sanitizer_defaults OBJECT ${CMAKE_BINARY_DIR}/sanitizer_defaults.cpp)
  link_libraries(bukurea_sanitizer_defaults)
  # Static libraries take these objects too; CMake would drop their wait for
  # them (CMAKE_OPTIMIZE_DEPENDENCIES) and make them before they are built.
  set(CMAKE_OPTIMIZE_DEPENDENCIES OFF)
endif()
