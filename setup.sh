#!/usr/bin/env bash
# Installs what the build needs (Debian packages, as root), then configures and
# builds into build/. Quick when everything is already there.
#
#   ./setup.sh            set up and build
#   ./setup.sh --test     ... then run the whole test suite
#   ./setup.sh --example  ... then verify the bundled example package
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  build-essential cmake ninja-build pkg-config
  capnproto libcapnp-dev libzstd-dev libssl-dev
  libgtest-dev libbenchmark-dev libfmt-dev libcli11-dev nlohmann-json3-dev
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if ((${#missing[@]} > 0)); then
  echo "setup: installing ${missing[*]}"
  if [[ $(id -u) -ne 0 ]]; then
    echo "setup: run as root to install packages" >&2
    exit 1
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

jobs=$(nproc)
build=build
if [[ ! -f $build/build.ninja ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" -j "$jobs"

case "${1:-}" in
  --test)
    ctest --test-dir "$build" --output-on-failure -j "$jobs"
    ;;
  --example)
    "$build/crates/zem-cli/zem-package-template-record" examples/example.zpkg 7 examples/example.record
    ;;
  "") ;;
  *)
    echo "setup: unknown option $1" >&2
    exit 2
    ;;
esac
