#!/usr/bin/env bash
# Draws the README's picture from the bundled example: the device view and
# tile 7's view that `zem-package map` writes, screenshot by headless
# Chromium into docs/example-map.png.
#
#   tools/make_readme_pictures.sh [BUILD_DIRECTORY]
#
# BUILD_DIRECTORY holds zem-package (build by default).
set -euo pipefail
cd "$(dirname "$0")/.."

toolkit=${1:-build}/crates/zem-cli/zem-package
[[ -x $toolkit ]] || { echo "make_readme_pictures: $toolkit is not built" >&2; exit 2; }
command -v chromium > /dev/null || { echo "make_readme_pictures: chromium is not installed" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p docs
"$toolkit" map examples/example.zpkg -o "$work/example.html"
# The fragment shows tile 7's view under the device view.
chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
  --user-data-dir="$work/profile" --hide-scrollbars --window-size=1100,820 \
  --screenshot="$PWD/docs/example-map.png" "file://$work/example.html#tile-7" > /dev/null 2>&1
echo "wrote docs/example-map.png"
