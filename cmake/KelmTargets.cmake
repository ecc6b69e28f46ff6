include(GoogleTest)

# kelm_library(NAME <target> SOURCES ... DEPS ...)
# One static library per area of the code.
function(kelm_library)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;DEPS" ${ARGN})
  add_library(${ARG_NAME} STATIC ${ARG_SOURCES})
  target_link_libraries(${ARG_NAME} PUBLIC ${ARG_DEPS})
endfunction()

# kelm_test(NAME <target> SOURCES ... DEPS ...)
# One test executable per area; every test case is registered with CTest as
# its own process. The program must pass when run whole as well
# (tools/run-tests-whole.sh): fixtures reset the process-wide state that
# their tests change.
function(kelm_test)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;DEPS" ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_DEPS} kelm_test_main)
  gtest_discover_tests(${ARG_NAME}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120 LABELS ${ARG_NAME})
endfunction()

# Adds every direct subfolder that has a CMakeLists.txt, so a new area of the
# code joins the build by existing.
function(kelm_add_subdirectories)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# kelm_fuzzer(NAME <target> SOURCES ... DEPS ... CORPUS <folder>)
# A libFuzzer program over one parser of untrusted bytes, built only with
# -DKELM_BUILD_FUZZERS=ON (clang). Its seed corpus lives in the tree; CTest
# replays every seed once under the label "fuzz", which is all CI does. Fuzz
# for real by running the program on a copy of the corpus folder.
function(kelm_fuzzer)
  cmake_parse_arguments(ARG "" "NAME;CORPUS" "SOURCES;DEPS" ${ARGN})
  if(NOT KELM_BUILD_FUZZERS)
    return()
  endif()
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_DEPS})
  target_link_options(${ARG_NAME} PRIVATE -fsanitize=fuzzer)
  add_dependencies(kelm_fuzzers ${ARG_NAME})
  add_test(NAME ${ARG_NAME}_replay
           COMMAND ${ARG_NAME} -runs=0 ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_CORPUS})
  set_tests_properties(${ARG_NAME}_replay PROPERTIES LABELS fuzz TIMEOUT 300)
endfunction()
