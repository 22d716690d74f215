# Shared by the benchmark scripts that drive the built helper: sourced after `set -eu`, with the
# script's own arguments. Sets root, build (BUILD_DIR, default build/), runs (RUNS, default given),
# bench (the benchmark program TARGET) and helper, and stops with the command that builds them when
# either is missing.
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
    [ -x "$needed" ] || { echo "missing $needed: cmake --build $build --target $target" >&2; exit 1; }
  done
}
