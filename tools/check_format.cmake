# Fails when a C++ file of the tree is not as the formatter would write it.
#
# Variables: FORMATTER (the clang-format program, or empty when it was not
# found), SOURCE_DIR.

cmake_minimum_required(VERSION 3.25)

if(NOT FORMATTER)
  message(FATAL_ERROR "clang-format-16 was not found; ./setup.sh --test installs it")
endif()
file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}"
  "${SOURCE_DIR}/crates/*.cpp" "${SOURCE_DIR}/crates/*.hpp"
  "${SOURCE_DIR}/bench/*.cpp" "${SOURCE_DIR}/bench/*.hpp"
  "${SOURCE_DIR}/fuzz/*.cpp" "${SOURCE_DIR}/fuzz/*.hpp"
  "${SOURCE_DIR}/examples/*.cpp" "${SOURCE_DIR}/examples/*.hpp")
list(SORT files)
set(unformatted "")
foreach(file IN LISTS files)
  execute_process(COMMAND "${FORMATTER}" --dry-run --Werror "${file}"
    WORKING_DIRECTORY "${SOURCE_DIR}" RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
  if(NOT status EQUAL 0)
    list(APPEND unformatted "${file}")
  endif()
endforeach()
if(unformatted)
  list(JOIN unformatted "\n  " listing)
  message(FATAL_ERROR "not formatted (run clang-format-16 -i on them):\n  ${listing}")
endif()
list(LENGTH files count)
message(STATUS "${count} files formatted")
