#!/usr/bin/env bash
# The helper's captures as a native Wayland client, beside X11, on the sway session's two outputs
# (1920x1080 at scale 1 and 1280x720 at scale 2) and on one 3840x2160 output, each in a headless sway
# of its own: full screen of the first output from message 6 to the PNG on disk beside
# `grim -o OUTPUT FILE`; the region shortcut's release to the overlay's first frame on every output,
# read back through screencopy; the desktop portal's road beside the direct one. The X11 columns come
# from bench/shortcut_overlay_bench.sh in the same run, on RandR monitors of the same sizes: the
# release to the overlay's MapNotify and to its pixels on screen. Prints each run's figures, then a
# table.
#   bench/wayland_bench.sh [BUILD_DIR] [RUNS]
# (build the tree first: cmake --build BUILD_DIR)
set -eu
. "$(dirname "$0")/lib.sh"
glimra_bench_setup wayland_capture_bench 15 "$@"
command -v grim >/dev/null || echo "note: grim is not installed; its column stays 0" >&2

rows=()
for layout in "1920x1080@1 1280x720@2" "3840x2160@1"; do
  out="$("$root/scripts/with-session" --wayland --outputs "$layout" "$bench" --runs "$runs" --helper "$helper" \
    --region-runs 20 2>&1)" || {
    echo "$out" >&2
    echo "wayland_capture_bench failed on $layout" >&2
    exit 1
  }
  echo "$out" | grep -v -e '^ROW ' -e '^QStandardPaths' -e '^wayland session: ready' || true
  # The same monitors on X11, in device pixels.
  monitors="$(echo "$layout" | sed 's/@[0-9]*//g')"
  x11="$("$root/bench/shortcut_overlay_bench.sh" --monitors "$monitors" "$build" 20 2>&1)" || {
    echo "$x11" >&2
    echo "shortcut_overlay_bench failed on $monitors" >&2
    exit 1
  }
  echo "X11, $monitors:"
  echo "$x11" | grep -v -e '^ROW ' -e '^note:' || true
  rows+=("$(echo "$out" | grep '^ROW ') $(echo "$x11" | grep '^ROW ' | cut -d' ' -f3-)")
done

echo
echo "Medians of $runs runs (the overlay's of 20), ms. helper = message 6 sent until the PNG of the first"
echo "output is on disk; overlay = Ctrl+Shift+5 released until its first frame is on every output (p90"
echo "beside it); floor = a plain full-screen window, show() to its first frame; X11 on monitors of the"
echo "same sizes: map = the release to the overlay's MapNotify, shown = to its pixels on screen (p90);"
echo "portal = the helper through the Screenshot portal. Load average: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-22s %7s %7s %7s %10s %8s %7s %6s %8s %9s %7s %7s\n' layout helper first grim grim/helper overlay p90 \
  floor "X11 map" "X11 shown" p90 portal
for row in "${rows[@]}"; do
  # ROW layout helper first grim ratio overlay p90 floor portal x11map x11shown x11p90 x11floor
  set -- $row
  printf '%-22s %7s %7s %7s %9sx %8s %7s %6s %8s %9s %7s %7s\n' "$2" "$3" "$4" "$5" "$6" "$7" "$8" "$9" \
    "${11}" "${12}" "${13}" "${10}"
done
