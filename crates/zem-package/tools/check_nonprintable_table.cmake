# Regenerates the table of non-printable code points into OUT from the Unicode
# Character Database in UCD and compares it with the COMMITTED file. The test
# is skipped when there is no database here, or when it is of another Unicode
# version than the committed table: a newer database is not a fault.
if(NOT EXISTS "${UCD}/UnicodeData.txt")
  message("skipped: no Unicode Character Database found (install unicode-data)")
  return()
endif()
get_filename_component(out_dir "${OUT}" DIRECTORY)
file(MAKE_DIRECTORY "${out_dir}")
execute_process(COMMAND "${GENERATOR}" "${UCD}" "${OUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the table generator failed: ${status}")
endif()
file(STRINGS "${OUT}" regenerated_version REGEX "inline constexpr std::string_view version")
file(STRINGS "${COMMITTED}" committed_version REGEX "inline constexpr std::string_view version")
if(NOT regenerated_version STREQUAL committed_version)
  message("skipped: the Unicode data here is another version than the table's "
    "(${regenerated_version} here, ${committed_version} committed)")
  return()
endif()
file(SHA256 "${OUT}" regenerated)
file(SHA256 "${COMMITTED}" committed)
if(NOT regenerated STREQUAL committed)
  message(FATAL_ERROR "crates/zem-package/src/nonprintable_table.hpp is stale: "
    "run zem-make-nonprintable-table ${UCD} crates/zem-package/src/nonprintable_table.hpp")
endif()
