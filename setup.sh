#!/usr/bin/env bash
# Installs what the build needs (Debian packages, as root), then configures and
# builds into build/. Quick when everything is already there.
#
#   ./setup.sh                  set up and build
#   ./setup.sh --example        ... then verify the bundled example package
#   ./setup.sh --test           ... then run the whole test suite in the
#                               normal build, in a Release build and under
#                               AddressSanitizer and UndefinedBehaviorSanitizer
#                               and under ThreadSanitizer,
#                               and each fuzz target for a minute
#   ./setup.sh --fuzz SECONDS   ... then run each fuzz target for SECONDS
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  build-essential cmake ninja-build pkg-config
  capnproto libcapnp-dev libzstd-dev libssl-dev unicode-data
  libgtest-dev libbenchmark-dev libfmt-dev nlohmann-json3-dev
  pybind11-dev python3-dev
  clang-16 libclang-rt-16-dev
)
# What only the tests need: the formatter they hold the sources to, pytest
# for the Python module, the validator of the JSON documents and the browser
# that loads the pages, libpng to decode its screenshots, and the zstd tool
# that decompresses unpacked blobs as a user would.
test_packages=(clang-format-16 python3-pytest python3-jsonschema chromium libpng-dev zstd)

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

build_main() { build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEM_WERROR=ON -DZEM_PYTHON=ON; }

run_tests() {
  ctest --test-dir build --output-on-failure -j "$jobs"

  # Optimisation brings warnings of its own (g++ 12 raises some only in
  # Release): every target must build there too. The library is shared here,
  # so that its install test shows what a shared library's users need.
  build build-release -DCMAKE_BUILD_TYPE=Release -DZEM_WERROR=ON -DBUILD_SHARED_LIBS=ON \
    -DZEM_PYTHON=ON
  ctest --test-dir build-release --output-on-failure -j "$jobs"

  build build-sanitize -DCMAKE_BUILD_TYPE=Debug -DZEM_WERROR=ON -DZEM_SANITIZE=ON \
    -DZEM_BUILD_BENCHMARKS=OFF -DZEM_PYTHON=ON
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-sanitize --output-on-failure -j "$jobs"

  # Blobs are checked and large files read on several threads.
  build build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEM_WERROR=ON -DZEM_TSAN=ON \
    -DZEM_BUILD_BENCHMARKS=OFF -DZEM_PYTHON=ON
  TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -j "$jobs"

  run_fuzzers 60
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

install_missing "${packages[@]}"
if [[ ${1:-} == --test ]]; then
  install_missing "${test_packages[@]}"
fi
build_main

case "${1:-}" in
  --test) run_tests ;;
  --example)
    build/crates/zem-cli/zem-package-template-record examples/example.zpkg 7 examples/example.record
    ;;
  --fuzz) run_fuzzers "${2:?usage: setup.sh --fuzz SECONDS}" ;;
  "") ;;
  *)
    echo "setup: unknown option $1" >&2
    exit 2
    ;;
esac
