# Prints the GoogleTest programs of a configured build folder, one line each:
# the working directory CTest runs them in, a tab, the program. They are
# taken from CTest's own list, so a new kelm_test() is found without a list
# to keep; tests that are no GoogleTest case (shell tests, fuzzer replays)
# are skipped.
#   cmake -DBUILD_DIR=<build folder> -P tools/gtest-programs.cmake
cmake_minimum_required(VERSION 3.19)

if(NOT BUILD_DIR)
  message(FATAL_ERROR "Usage: cmake -DBUILD_DIR=<build folder> -P ${CMAKE_SCRIPT_MODE_FILE}")
endif()

execute_process(
  COMMAND "${CMAKE_CTEST_COMMAND}" --show-only=json-v1
  WORKING_DIRECTORY "${BUILD_DIR}"
  OUTPUT_VARIABLE listing
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ctest --show-only=json-v1 failed in ${BUILD_DIR}")
endif()

string(JSON test_count LENGTH "${listing}" tests)
set(programs "")
if(test_count GREATER 0)
  math(EXPR last "${test_count} - 1")
  foreach(i RANGE ${last})
    string(JSON command_type ERROR_VARIABLE no_command
           TYPE "${listing}" tests ${i} command)
    if(no_command OR NOT command_type STREQUAL "ARRAY")
      continue()
    endif()
    # A GoogleTest case is its program run with a filter that names it.
    string(JSON argument_count LENGTH "${listing}" tests ${i} command)
    set(is_gtest FALSE)
    if(argument_count GREATER 1)
      math(EXPR last_argument "${argument_count} - 1")
      foreach(a RANGE 1 ${last_argument})
        string(JSON argument GET "${listing}" tests ${i} command ${a})
        if(argument MATCHES "^--gtest_filter=")
          set(is_gtest TRUE)
        endif()
      endforeach()
    endif()
    if(NOT is_gtest)
      continue()
    endif()
    string(JSON program GET "${listing}" tests ${i} command 0)

    set(directory "${BUILD_DIR}")
    string(JSON property_count ERROR_VARIABLE no_properties
           LENGTH "${listing}" tests ${i} properties)
    if(NOT no_properties AND property_count GREATER 0)
      math(EXPR last_property "${property_count} - 1")
      foreach(p RANGE ${last_property})
        string(JSON name GET "${listing}" tests ${i} properties ${p} name)
        if(name STREQUAL "WORKING_DIRECTORY")
          string(JSON directory GET "${listing}" tests ${i} properties ${p} value)
        endif()
      endforeach()
    endif()
    list(APPEND programs "${directory}\t${program}")
  endforeach()
endif()

list(REMOVE_DUPLICATES programs)
list(SORT programs)
if(programs)
  list(JOIN programs "\n" text)
  # message() writes to standard error; this is the script's output.
  execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "${text}")
endif()
