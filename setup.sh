#!/usr/bin/env bash
# Installs what the build needs (Debian packages, as root), then configures and
# builds into build/. Quick when everything is already there.
#
#   ./setup.sh                  set up and build everything
#   ./setup.sh --example        set up and build only the verifier, then verify
#                               the bundled example package
#   ./setup.sh --test           set up and build everything, then run the whole
#                               test suite in the normal build, in a Release
#                               build and under AddressSanitizer and
#                               UndefinedBehaviorSanitizer and under
#                               ThreadSanitizer, and each fuzz target for a minute
#   ./setup.sh --fuzz SECONDS   ... then run each fuzz target for SECONDS
#   ./setup.sh --deb            build the Debian packages into dist/ and check
#                               them with lintian
set -euo pipefail
cd "$(dirname "$0")"

# What the tools need to build: all that --example installs.
tool_packages=(
  build-essential cmake ninja-build pkg-config
  capnproto libcapnp-dev libzstd-dev libssl-dev libfmt-dev nlohmann-json3-dev
  libsimdjson-dev
)
# What the rest of a full build needs: the test framework, the benchmark
# library, and pybind11 and Python's development files for the module.
build_packages=(libgtest-dev libbenchmark-dev pybind11-dev python3-dev)
# What only the tests need: the formatter they hold the sources to, pytest
# for the Python module, the validator of the JSON documents, the JUnit
# reader that reads the JUnit XML as CI systems do, and the browser
# that loads the pages, libpng to decode its screenshots, the Unicode
# database the table of non-printable characters is checked against, the
# three shells whose completion is tried, groff to read the man page, the
# zstd tool that decompresses unpacked blobs as a user would, and venv, pip,
# setuptools, wheel and pybind11 for pip to install the module.
test_packages=(
  clang-format-16 python3-pytest python3-jsonschema python3-junitparser chromium libpng-dev
  unicode-data
  bash-completion zsh fish groff-base zstd
  python3-venv python3-pip python3-setuptools python3-wheel python3-pybind11
)
# The fuzz targets: clang 16 and its sanitizers' runtime, and llvm-16, whose
# llvm-symbolizer-16 that runtime finds by itself to say where a crash was.
fuzz_packages=(clang-16 libclang-rt-16-dev llvm-16)
# What the Debian packages are built and checked with.
deb_packages=(debhelper dh-python lintian)

# install_missing PACKAGE...: installs those that are not installed yet.
install_missing() {
  local missing=() package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  ((${#missing[@]} == 0)) && return
  echo "setup: installing ${missing[*]}"
  if [[ $(id -u) -ne 0 ]]; then
    echo "setup: run as root to install packages" >&2
    exit 1
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

jobs=$(nproc)

# build DIRECTORY CMAKE-ARGUMENTS...: configures (quickly, once the directory
# exists, but always, so that the arguments hold) and builds. Warnings are
# errors in every build made here but the fuzz build.
build() {
  local directory=$1
  shift
  cmake -S . -B "$directory" -G Ninja "$@" > /dev/null
  cmake --build "$directory" -j "$jobs"
}

# Everything: tests and benchmarks are named, so that a build directory that
# --example configured without them gets them again.
build_main() {
  build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEM_WERROR=ON -DZEM_PYTHON=ON \
    -DZEM_BUILD_TESTS=ON -DZEM_BUILD_BENCHMARKS=ON
}

# Only the verifier. A build directory that is already configured keeps its
# configuration (switching the Python module off would rebuild much of it);
# a new one is configured without what the example does not run.
build_example() {
  local options=(-DZEM_BUILD_TESTS=OFF -DZEM_BUILD_BENCHMARKS=OFF -DZEM_PYTHON=OFF)
  [[ -f build/CMakeCache.txt ]] && options=()
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEM_WERROR=ON \
    "${options[@]}" > /dev/null
  cmake --build build -j "$jobs" --target zem-package-template-record
}

# The Debian packages, built with Debian's own tools on a copy of the tree
# (dpkg-buildpackage writes into debian/ and puts the packages beside the
# tree), then checked with lintian, which fails on an error.
build_debs() {
  local version
  version=$(dpkg-parsechangelog -S Version)
  if ! grep -q "^project(zem VERSION $version " CMakeLists.txt; then
    echo "setup: debian/changelog is at $version, CMakeLists.txt at another version" >&2
    exit 1
  fi
  rm -rf build-deb
  mkdir -p build-deb/zem dist
  tar -c --exclude-vcs --exclude='./build*' --exclude=./dist --exclude='./obj-*' . |
    tar -x -C build-deb/zem
  (cd build-deb/zem && DEB_BUILD_OPTIONS="parallel=$jobs noautodbgsym" dpkg-buildpackage -us -uc -b)
  rm -f dist/*.deb
  mv build-deb/*.deb dist/
  lintian --fail-on error dist/*.deb
  echo "setup: built $(cd dist && echo *.deb) in dist/"
}

run_tests() {
  timed "the normal build's tests" ctest --test-dir build --output-on-failure -j "$jobs"

  # Optimisation brings warnings of its own (g++ 12 raises some only in
  # Release): every target must build there too. The library is shared here,
  # so that its install test shows what a shared library's users need.
  timed "the Release build" build build-release -DCMAKE_BUILD_TYPE=Release -DZEM_WERROR=ON \
    -DBUILD_SHARED_LIBS=ON -DZEM_PYTHON=ON
  timed "its tests" ctest --test-dir build-release --output-on-failure -j "$jobs"

  timed "the sanitizer build" build build-sanitize -DCMAKE_BUILD_TYPE=Debug -DZEM_WERROR=ON \
    -DZEM_SANITIZE=ON -DZEM_BUILD_BENCHMARKS=OFF -DZEM_PYTHON=ON
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    timed "its tests" ctest --test-dir build-sanitize --output-on-failure -j "$jobs"

  # Blobs are checked and large files read on several threads.
  timed "the ThreadSanitizer build" build build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZEM_WERROR=ON -DZEM_TSAN=ON -DZEM_BUILD_BENCHMARKS=OFF -DZEM_PYTHON=ON
  TSAN_OPTIONS=halt_on_error=1 timed "its tests" \
    ctest --test-dir build-tsan --output-on-failure -j "$jobs"

  timed "fuzzing" run_fuzzers 60
}

# run_fuzzers SECONDS: each libFuzzer target for SECONDS, from seeds made by
# the package builder plus the regression corpus; new inputs go to
# build-fuzz/corpus, findings to build-fuzz/findings.
run_fuzzers() {
  local seconds=$1 target
  CC=clang-16 CXX=clang++-16 build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEM_FUZZ=ON \
    -DZEM_WERROR=OFF -DZEM_BUILD_TESTS=OFF -DZEM_BUILD_BENCHMARKS=OFF -DZEM_PYTHON=OFF
  build-fuzz/fuzz/zem-make-fuzz-seeds build-fuzz/seeds
  mkdir -p build-fuzz/findings
  for target in package_reader read_agreement template_record record_explanation \
    manifest_reader; do
    # The agreement of the reads takes package files, as the reader does;
    # the explanation starts from the template's regressions.
    local inputs=$target regressions=$target
    [[ $target == read_agreement ]] && inputs=package_reader regressions=package_reader
    [[ $target == record_explanation ]] && regressions=template_record
    mkdir -p "build-fuzz/corpus/$target"
    echo "setup: fuzzing $target for $seconds s"
    "build-fuzz/fuzz/${target}_fuzz" -max_total_time="$seconds" -max_len=16384 \
      -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$target-" \
      "build-fuzz/corpus/$target" "build-fuzz/seeds/$inputs" "fuzz/regressions/$regressions" \
      2>&1 | grep -E '^(Done|stat::number_of_executed_units|==|SUMMARY|artifact)' || true
    if compgen -G "build-fuzz/findings/$target-*" > /dev/null; then
      echo "setup: $target found inputs that fail: build-fuzz/findings/" >&2
      exit 1
    fi
  done
}

# timed LABEL COMMAND...: runs the command and says how long it took.
timed() {
  local label=$1 start=$SECONDS
  shift
  "$@"
  echo "setup: $label took $((SECONDS - start)) s"
}

case "${1:-}" in
  --example)
    install_missing "${tool_packages[@]}"
    build_example
    build/crates/zem-cli/zem-package-template-record examples/example.zpkg 7 examples/example.record
    ;;
  --deb)
    install_missing "${tool_packages[@]}" pybind11-dev python3-dev "${deb_packages[@]}"
    build_debs
    ;;
  "" | --test | --fuzz)
    install_missing "${tool_packages[@]}" "${build_packages[@]}"
    if [[ ${1:-} == --test ]]; then
      install_missing "${test_packages[@]}" "${fuzz_packages[@]}"
    elif [[ ${1:-} == --fuzz ]]; then
      install_missing "${fuzz_packages[@]}"
    fi
    timed "the build" build_main
    case "${1:-}" in
      --test) run_tests ;;
      --fuzz) run_fuzzers "${2:?usage: setup.sh --fuzz SECONDS}" ;;
    esac
    ;;
  *)
    echo "setup: unknown option $1" >&2
    exit 2
    ;;
esac
