# Installs a build of this project into a scratch prefix, then builds the
# consumer project against the installed tree twice, once with CMake's
# find_package and once with the compiler flags pkg-config gives, and runs
# both on the example package.
#
# Variables: BUILD_DIR, WORK_DIR, CONSUMER_DIR, EXAMPLE (the source of the
# example that verifies a device), LIBDIR, SHARED (whether the library is
# shared), PACKAGE and RECORD (the example package and its tile 7's record),
# GENERATOR, CXX_COMPILER, and PYTHON and PYTHON_DIR (the interpreter and
# where the module is installed) when it is built.

cmake_minimum_required(VERSION 3.25)

set(prefix "${WORK_DIR}/prefix")
set(expected "tiles=2 blobs=2 compiler=1.4.2 tile7=8704
checked: tile7 loadBase=0x4c000 bytes=8704 blob0=4096
Invalid(\"application has no tiles\")\n")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

function(expect_output what actual)
  if(NOT actual STREQUAL expected)
    message(FATAL_ERROR "${what} printed:\n${actual}\nexpected:\n${expected}")
  endif()
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")

if(SHARED)
  set(library "${LIBDIR}/libzem_package.so")
else()
  set(library "${LIBDIR}/libzem_package.a")
endif()
foreach(file
    "include/zem_package/application.hpp"
    "include/zem_package/package.hpp"
    "include/zem_package/device_check.hpp"
    "include/zem_package/application.capnp"
    "${library}"
    "${LIBDIR}/cmake/zem_package/zem_packageConfig.cmake"
    "${LIBDIR}/pkgconfig/zem_package.pc"
    "bin/zem-package"
    "bin/zem-package-template-record"
    "share/man/man1/zem-package.1"
    "share/man/man1/zem-package-template-record.1"
    "share/bash-completion/completions/zem-package"
    "share/zsh/vendor-completions/_zem-package"
    "share/fish/vendor_completions.d/zem-package.fish")
  if(NOT EXISTS "${prefix}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

# The library's own decoding stays inside it.
foreach(file "include/zem_package/application.capnp.h" "include/zem_package/reader.hpp")
  if(EXISTS "${prefix}/${file}")
    message(FATAL_ERROR "installed, though private: ${file}")
  endif()
endforeach()

# The public headers need nothing but the standard library (the opt-in fmt
# formatter aside) and define no macro but the export mark.
file(GLOB headers "${prefix}/include/zem_package/*.hpp")
foreach(header IN LISTS headers)
  get_filename_component(name "${header}" NAME)
  file(STRINGS "${header}" includes REGEX "^#include <(fmt|capnp|kj)/")
  if(includes AND NOT name STREQUAL "format.hpp")
    message(FATAL_ERROR "${name} includes a dependency's header: ${includes}")
  endif()
  file(STRINGS "${header}" defines REGEX "^#define ")
  list(FILTER defines EXCLUDE REGEX "^#define ZEM_PACKAGE_API ")
  if(defines)
    message(FATAL_ERROR "${name} defines a macro: ${defines}")
  endif()
endforeach()

# A shared library exports its public API only: none of its internals, of
# the accessors of its schema, or of what its tests need.
if(SHARED)
  find_program(NM nm REQUIRED)
  run(${NM} -DC --defined-only "${prefix}/${library}")
  string(REPLACE ";" "," symbols "${out}")
  string(REPLACE "\n" ";" symbols "${symbols}")
  set(internals "schemas::|zem::schema::|kj::|BlobChecker|BlobWorker|read_package|validate_model")
  string(APPEND internals "|framed_message|complete_model|StructureReader|PointerBounds")
  string(APPEND internals "|hash_string|invalid_message|read_blobs|blob_table|read_tiles")
  string(APPEND internals "|read_bindings|read_host_exchange|complete_read|Sha256|Decompressor")
  string(APPEND internals "|ScratchBuffer|MappedRegion|TileMemorySource|for_each_index")
  string(APPEND internals "|find_hints|patch_group|LeWords")
  list(FILTER symbols INCLUDE REGEX "${internals}")
  if(symbols)
    string(REPLACE ";" "\n" symbols "${symbols}")
    message(FATAL_ERROR "the shared library exports internals:\n${symbols}")
  endif()
endif()

# The Python module, where the prefix's Python finds it.
if(PYTHON AND PYTHON_DIR)
  file(GLOB modules "${prefix}/${PYTHON_DIR}/zem_package*.so")
  if(NOT modules OR NOT EXISTS "${prefix}/${PYTHON_DIR}/zem_package.pyi")
    message(FATAL_ERROR "the Python module is not installed in ${PYTHON_DIR}")
  endif()
  set(ENV{PYTHONPATH} "${prefix}/${PYTHON_DIR}")
  # (No semicolon in the script: it would split the argument.)
  run(${PYTHON} -c "import sys, zem_package\nprint(len(zem_package.read(sys.argv[1]).tiles))"
    "${PACKAGE}")
  if(NOT out STREQUAL "2\n")
    message(FATAL_ERROR "the installed Python module read the package as: ${out}")
  endif()
endif()

# Through CMake, with C++ alone, whether the library is shared or static.
run(${CMAKE_COMMAND} -S "${CONSUMER_DIR}" -B "${WORK_DIR}/cmake-build" -G "${GENERATOR}"
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
  -DEXAMPLE_SOURCE=${EXAMPLE})
run(${CMAKE_COMMAND} --build "${WORK_DIR}/cmake-build")
run("${WORK_DIR}/cmake-build/consumer" "${PACKAGE}")
expect_output("the CMake consumer" "${out}")

# The example verifies a device whose records lie in a directory: tile 7's
# matches, then one cut short to a single word does not.
function(expect_device program)
  set(device "${WORK_DIR}/device")
  file(MAKE_DIRECTORY "${device}")
  file(COPY_FILE "${RECORD}" "${device}/tile7.rec")
  execute_process(COMMAND "${program}" "${PACKAGE}" "${device}/tile{tile}.rec"
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0 OR NOT out STREQUAL "tile 7 match\n")
    message(FATAL_ERROR "${program} gave ${status}:\n${out}${err}")
  endif()
  file(WRITE "${device}/tile7.rec" "word")
  execute_process(COMMAND "${program}" "${PACKAGE}" "${device}/tile{tile}.rec"
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 1 OR NOT out STREQUAL "tile 7 differ short\n")
    message(FATAL_ERROR "${program} on a short record gave ${status}:\n${out}${err}")
  endif()
endfunction()
expect_device("${WORK_DIR}/cmake-build/verify_device")

# Through pkg-config, which finds the prefix from the file's own place.
find_program(PKG_CONFIG pkg-config REQUIRED)
set(ENV{PKG_CONFIG_PATH} "${prefix}/${LIBDIR}/pkgconfig")
run(${PKG_CONFIG} --cflags --libs zem_package)
string(STRIP "${out}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
if(NOT "-lzem_package" IN_LIST flags)
  message(FATAL_ERROR "pkg-config does not link zem_package: ${flags}")
endif()
file(REAL_PATH "${prefix}/include" include_dir)
set(include_found FALSE)
foreach(flag IN LISTS flags)
  if(flag MATCHES "^-I(.+)$")
    file(REAL_PATH "${CMAKE_MATCH_1}" dir)
    if(dir STREQUAL include_dir)
      set(include_found TRUE)
    endif()
  endif()
endforeach()
if(NOT include_found)
  message(FATAL_ERROR "pkg-config does not name ${include_dir}: ${flags}")
endif()
run(${CXX_COMPILER} -std=c++23 "${CONSUMER_DIR}/main.cpp" -o "${WORK_DIR}/pkg-config-consumer"
  ${flags} "-Wl,-rpath,${prefix}/${LIBDIR}")
run("${WORK_DIR}/pkg-config-consumer" "${PACKAGE}")
expect_output("the pkg-config consumer" "${out}")
run(${CXX_COMPILER} -std=c++23 "${EXAMPLE}" -o "${WORK_DIR}/pkg-config-verify-device"
  ${flags} "-Wl,-rpath,${prefix}/${LIBDIR}")
expect_device("${WORK_DIR}/pkg-config-verify-device")
