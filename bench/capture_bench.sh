#!/usr/bin/env bash
# End-to-end full-screen capture timings at 1920x1080 and 3840x2160, each on a headless session of
# its own (Xvfb, openbox, session bus): the helper from message 6 to the PNG on disk, grab + encode
# alone in a warm process, scrot and maim. Prints each run's figures, then a table.
#   bench/capture_bench.sh [BUILD_DIR] [RUNS]      (build the capture_bench target first)
set -eu
. "$(dirname "$0")/lib.sh"
glimra_bench_setup capture_bench 15 "$@"
for tool in scrot maim; do
  command -v "$tool" >/dev/null || echo "note: $tool is not installed; its column stays 0" >&2
done

rows=()
for size in 1920x1080 3840x2160; do
  out="$("$root/scripts/with-session" --geometry "${size}x24" "$bench" --runs "$runs" --helper "$helper" 2>&1)" || {
    echo "$out" >&2
    echo "capture_bench failed at $size" >&2
    exit 1
  }
  echo "$out" | grep -v -e '^ROW ' -e '^QStandardPaths' || true
  rows+=("$(echo "$out" | grep '^ROW ')")
done

echo
echo "Medians of $runs runs, ms (helper = message 6 sent until the PNG is on disk):"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-10s %8s %8s %12s %8s %8s %14s %14s\n' size helper first grab+encode scrot maim "helper/(g+e)" "scrot/helper"
for row in "${rows[@]}"; do
  # ROW size helper first grab+encode scrot maim ratio speedup
  set -- $row
  printf '%-10s %8s %8s %12s %8s %8s %13sx %13sx\n' "$2" "$3" "$4" "$5" "$6" "$7" "$8" "$9"
done
