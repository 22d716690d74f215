#!/usr/bin/env bash
# Crosshair overlay timings on headless sessions of their own: 1920x1080, 3840x2160, and a two-screen
# 5760x2160 desktop (3840x2160 primary, 1920x1080 to its right).
#   bench/overlay_bench.sh [BUILD_DIR]      (build the overlay_bench target first)
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
bench="$build/bench/overlay_bench"
[ -x "$bench" ] || { echo "missing $bench: cmake --build $build --target overlay_bench" >&2; exit 1; }
"$root/scripts/with-session" --geometry 1920x1080x24 "$bench" paint 2>&1 | grep -v '^QStandardPaths'
"$root/scripts/with-session" --geometry 3840x2160x24 "$bench" all 2>&1 | grep -v '^QStandardPaths'
"$root/scripts/with-session" --geometry 5760x2160x24 bash -c "
  xrandr --setmonitor '*BIG' 3840/1016x2160/572+0+0 screen && xrandr --setmonitor SMALL 1920/508x1080/286+3840+0 none &&
  '$bench' paint" 2>&1 | grep -v '^QStandardPaths'
