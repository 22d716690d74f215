#!/usr/bin/env bash
# The helper's captures as a native Wayland client, each size in a headless sway of its own with one
# output: full screen from message 6 to the PNG on disk beside `grim -o OUTPUT FILE`, the region
# shortcut's release to the overlay up (3840x2160), the desktop portal's road beside the direct one.
# Prints each run's figures, then a table.
#   bench/wayland_bench.sh [BUILD_DIR] [RUNS]      (build the wayland_capture_bench target first)
set -eu
. "$(dirname "$0")/lib.sh"
glimra_bench_setup wayland_capture_bench 15 "$@"
command -v grim >/dev/null || echo "note: grim is not installed; its column stays 0" >&2

rows=()
for size in 1920x1080 3840x2160; do
  region=0
  [ "$size" = 3840x2160 ] && region=20
  out="$("$root/scripts/with-session" --wayland --outputs "$size@1" "$bench" --runs "$runs" --helper "$helper" \
    --region-runs "$region" 2>&1)" || {
    echo "$out" >&2
    echo "wayland_capture_bench failed at $size" >&2
    exit 1
  }
  echo "$out" | grep -v -e '^ROW ' -e '^QStandardPaths' -e '^wayland session: ready' || true
  rows+=("$(echo "$out" | grep '^ROW ')")
done

echo
echo "Medians of $runs runs, ms (helper = message 6 sent until the PNG is on disk; overlay = Ctrl+Shift+5"
echo "released until sway shows the overlay's window; portal = the helper through the Screenshot portal):"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-10s %8s %8s %8s %12s %9s %9s %7s %8s\n' size helper first grim grim/helper overlay "p90" floor portal
for row in "${rows[@]}"; do
  # ROW size helper first grim ratio overlay p90 floor portal
  set -- $row
  printf '%-10s %8s %8s %8s %11sx %9s %9s %7s %8s\n' "$2" "$3" "$4" "$5" "$6" "$7" "$8" "$9" "${10}"
done
