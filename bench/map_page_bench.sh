#!/usr/bin/env bash
# The map page of a 1,024-tile package: its size, and the wall time of
# headless Chromium loading and drawing it (a screenshot of the device view,
# and of one tile's view), against the same browser on an empty page.
#
#   bench/map_page_bench.sh [BUILD_DIRECTORY] [RUNS]
#
# BUILD_DIRECTORY holds zem-package and zem-make-large-package (build by
# default); each figure is the median of RUNS runs (5 by default). The
# package and pages are made in a fresh temporary directory, removed at the
# end. Exits with 1 when the page is larger than 2 MiB or a median is 2 s or
# more.
set -euo pipefail

build=${1:-build}
runs=${2:-5}
toolkit=$build/crates/zem-cli/zem-package
maker=$build/bench/zem-make-large-package
for program in "$toolkit" "$maker"; do
  [[ -x $program ]] || { echo "map_page_bench: $program is not built" >&2; exit 2; }
done
command -v chromium > /dev/null || { echo "map_page_bench: chromium is not installed" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

tile=$("$maker" --tiles 1024 "$work/large.zpkg" "$work/large.record" | sed -n 's/^template tile: //p')
"$toolkit" map "$work/large.zpkg" -o "$work/device.html"
"$toolkit" map "$work/large.zpkg" "$tile" -o "$work/tile.html"
printf '<!DOCTYPE html><title>empty</title>\n' > "$work/empty.html"

# shot URL: the wall time of one screenshot of URL, in milliseconds.
shot() {
  local start end
  start=$(date +%s%N)
  chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
    --user-data-dir="$work/profile" --window-size=1280,1024 \
    --screenshot="$work/shot.png" "$1" > /dev/null 2>&1
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}

# median URL: the median of `runs` screenshots of URL, after one untimed.
median() {
  shot "$1" > /dev/null
  local times=()
  for ((i = 0; i < runs; i++)); do times+=("$(shot "$1")"); done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p"
}

device_bytes=$(stat -c %s "$work/device.html")
tile_bytes=$(stat -c %s "$work/tile.html")
views=$(grep -o '<section class="tile' "$work/device.html" | wc -l)
empty_ms=$(median "file://$work/empty.html")
device_ms=$(median "file://$work/device.html")
view_ms=$(median "file://$work/device.html#tile-$tile")
tile_ms=$(median "file://$work/tile.html")

echo "machine: $(nproc) processors, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1); $(chromium --version 2>/dev/null | grep -o 'Chromium [0-9.]*')"
echo "device page: $device_bytes bytes, 1024 cells, $views tile views"
echo "tile page (tile $tile): $tile_bytes bytes"
echo "median of $runs screenshots, ms: empty page $empty_ms, device view $device_ms," \
  "device page's view of tile $tile $view_ms, tile page $tile_ms"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"

status=0
((device_bytes <= 2 * 1024 * 1024)) || { echo "device page is larger than 2 MiB"; status=1; }
for ms in "$device_ms" "$view_ms" "$tile_ms"; do
  ((ms < 2000)) || { echo "a page took 2 s or more"; status=1; }
done
exit $status
