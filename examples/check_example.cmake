# Regenerates the example into OUT and compares it byte for byte with the
# committed files in EXAMPLES.
file(MAKE_DIRECTORY "${OUT}")
execute_process(COMMAND "${GENERATOR}" "${OUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the example generator failed: ${status}")
endif()
foreach(name example.zpkg example.record)
  file(SHA256 "${OUT}/${name}" regenerated)
  file(SHA256 "${EXAMPLES}/${name}" committed)
  if(NOT regenerated STREQUAL committed)
    message(FATAL_ERROR "examples/${name} is stale: run zem-make-example examples")
  endif()
endforeach()
