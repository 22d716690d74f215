#!/usr/bin/env bash
# The helper's anonymous memory on X11 beside sway, in one run: after start-up, right after 100
# captures through the overlay (three in four of a region, one a full screen) and after 70 s of quiet
# (bench/overlay_memory_bench.cpp says how). X11 at 1920x1080, sway with one 1920x1080 output (the
# same desktop) and with the session's two outputs (1920x1080 at scale 1, 1280x720 at scale 2), each in
# a headless session of its own. Prints each run's figures, then a table.
#   bench/memory_bench.sh [BUILD_DIR] [CAPTURES] [QUIET_SECONDS]
# (build the tree first: cmake --build BUILD_DIR)
set -eu
. "$(dirname "$0")/lib.sh"
glimra_bench_setup overlay_memory_bench 100 "${1:-}" "${2:-}"
quiet="${3:-70}"

rows=()
for session in "--geometry 1920x1080x24" "--wayland --outputs 1920x1080@1" "--wayland"; do
  # shellcheck disable=SC2086 # the session's options are words
  out="$("$root/scripts/with-session" $session "$bench" --captures "$runs" --quiet "$quiet" --helper "$helper" 2>&1)" || {
    echo "$out" >&2
    echo "overlay_memory_bench failed (with-session $session)" >&2
    exit 1
  }
  echo "$out" | grep -v -e '^ROW ' -e '^QStandardPaths' -e '^wayland session: ready' || true
  rows+=("$(echo "$out" | grep '^ROW ')")
done

echo
echo "The helper's anonymous memory, MiB (smaps_rollup), load average $(cut -d' ' -f1-3 /proc/loadavg):"
printf '%-8s %-22s %15s %22s %16s\n' session layout "after start-up" "after $runs captures" "after ${quiet} s quiet"
for row in "${rows[@]}"; do
  # ROW session layout started after quiet captures
  set -- $row
  printf '%-8s %-22s %15s %22s %16s\n' "$2" "$3" "$4" "$5" "$6"
done
