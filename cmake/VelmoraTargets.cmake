# velmora_add_tests(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>] [TIMEOUT <seconds>])
# Builds one GoogleTest executable and registers each of its tests with CTest.
# LABELS threads marks tests that also run under ThreadSanitizer. When VELMORA_TEST_LABELS
# is set, only test binaries with one of those labels are built (the ThreadSanitizer build
# compiles just the tests it runs). TIMEOUT raises the per-test limit (120 s) for the long
# seeded sweeps, which the sanitizer builds run several times slower.
function(velmora_add_tests name)
  if(NOT VELMORA_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  if(VELMORA_TEST_LABELS)
    set(wanted OFF)
    foreach(label IN LISTS ARG_LABELS)
      if(label IN_LIST VELMORA_TEST_LABELS)
        set(wanted ON)
      endif()
    endforeach()
    if(NOT ARG_LABELS AND "unit" IN_LIST VELMORA_TEST_LABELS)
      set(wanted ON)
    endif()
    if(NOT wanted)
      return()
    endif()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  # Tests build fixtures with designated initializers that leave the other fields at their defaults.
  target_compile_options(${name} PRIVATE -Wno-missing-field-initializers)
  # One label per test binary: "threads" for tests that also run under ThreadSanitizer,
  # "unit" for the rest. (A list of labels does not survive gtest_discover_tests' escaping.)
  set(label unit)
  if(ARG_LABELS)
    list(GET ARG_LABELS 0 label)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${label} TIMEOUT ${ARG_TIMEOUT})
endfunction()
