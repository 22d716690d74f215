# Shared by the benchmark scripts that drive the built helper: sourced after `set -eu`, with the
# script's own arguments. Sets root, build (BUILD_DIR, default build/), runs (RUNS, default given),
# bench (the benchmark program TARGET) and helper, and stops with the command that builds them when
# either is missing, or the helper's bundle lacks its artwork (drawn by targets of their own, which a
# build of the benchmark's target alone leaves out: the overlay then shows without it).
#   glimra_bench_setup TARGET DEFAULT_RUNS [BUILD_DIR] [RUNS]
glimra_bench_setup() {
  local target="$1" default_runs="$2" needed
  shift 2
  root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
  build="$(cd "${1:-$root/build}" && pwd)"
  runs="${2:-$default_runs}"
  bench="$build/bench/$target"
  helper="$build/Glimra.app/Contents/Library/LoginItems/GlimraHelper.app/Contents/MacOS/GlimraHelper"
  for needed in "$bench" "$helper"; do
    [ -x "$needed" ] || { echo "missing $needed: cmake --build $build" >&2; exit 1; }
  done
  needed="$(dirname "$(dirname "$helper")")/Resources/images/screenshot_crosshair.png"
  [ -e "$needed" ] || { echo "missing $needed: cmake --build $build" >&2; exit 1; }
}
