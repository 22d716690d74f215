#!/usr/bin/env bash
# Idle memory: the helper's proportional set size (Pss of /proc/PID/smaps_rollup) at 1920x1080 and
# 3840x2160, with its tray icon docked in trayer and its hot keys up, beside flameshot started without
# arguments (its tray daemon) in the same headless session. The helper is read twice: settled after
# start-up (grab buffers warm) and after a quiet minute and more (large buffers given back). Shared
# library pages count by how many processes map them, so the figures move with what else runs; the
# helper's are also printed split into anonymous, file-backed and shared memory. On a headless server
# with GLX, flameshot maps Mesa's software renderer (libLLVM alone is about 20 MB): its figure is also
# printed without the GL driver's libraries.
#   bench/idle_memory_bench.sh [--install-flameshot] [BUILD_DIR] [QUIET_SECONDS]
# (build the GlimraHelper target first; --install-flameshot installs flameshot through apt-get, for this
# comparison only: it is not one of the project's packages)
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"

if [ "${1:-}" = "--inside" ]; then
  helper="$2"
  quiet="$3"
  work=$(mktemp -d)
  pids=()
  trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; sleep 0.5; rm -rf "$work"' EXIT
  pss() { awk '/^Pss:/ { printf "%.1f", $2 / 1024 }' "/proc/$1/smaps_rollup" 2>/dev/null || echo "?"; }
  # anonymous/file/shared, MiB
  split() {
    awk '/^Pss_Anon:/ { a = $2 } /^Pss_File:/ { f = $2 } /^Pss_Shmem:/ { s = $2 }
         END { printf "%.1f/%.1f/%.1f", a / 1024, f / 1024, s / 1024 }' "/proc/$1/smaps_rollup" 2>/dev/null || echo "?"
  }
  # Pss outside the GL driver's mappings, MiB
  pss_without_gl() {
    awk '/^[0-9a-f]+-[0-9a-f]+ / { gl = ($6 ~ /libLLVM|_dri\.so|libGLX_mesa|libglapi|libgallium/) }
         /^Pss:/ { if (!gl) total += $2 } END { printf "%.1f", total / 1024 }' "/proc/$1/smaps" 2>/dev/null || echo "?"
  }
  trayer --edge top --align right --widthtype request --height 24 --SetDockType true >/dev/null 2>&1 &
  pids+=($!)
  sleep 1
  mkdir -p "$work/helper/config/glimra" "$work/flameshot"
  printf '[General]\nStartHelperAtLogin=true\n' >"$work/helper/config/glimra/app.glimra.GlimraHelper.conf"
  HOME="$work/helper" XDG_CONFIG_HOME="$work/helper/config" XDG_DATA_HOME="$work/helper/data" \
    XDG_CACHE_HOME="$work/helper/cache" "$helper" >"$work/helper.log" 2>&1 &
  helper_pid=$!
  pids+=($helper_pid)
  flameshot_pid=""
  if command -v flameshot >/dev/null; then
    HOME="$work/flameshot" XDG_CONFIG_HOME="$work/flameshot" flameshot >"$work/flameshot.log" 2>&1 &
    flameshot_pid=$!
    pids+=($flameshot_pid)
  fi
  sleep 10
  kill -0 "$helper_pid" 2>/dev/null || { echo "the helper did not stay up:" >&2; cat "$work/helper.log" >&2; exit 1; }
  grep -q "Could not register" "$work/helper.log" && echo "note: some hot keys are not up" >&2
  settled="$(pss "$helper_pid") ($(split "$helper_pid"))"
  sleep "$quiet"
  quieted="$(pss "$helper_pid") ($(split "$helper_pid"))"
  peer="- -"
  [ -n "$flameshot_pid" ] && peer="$(pss "$flameshot_pid") $(pss_without_gl "$flameshot_pid")"
  size=$(xdpyinfo | awk '/dimensions:/ { print $2 }')
  echo "ROW $size $settled $quieted $peer"
  exit 0
fi

. "$root/scripts/lib/session.sh"
if [ "${1:-}" = "--install-flameshot" ]; then
  glimra_install_missing flameshot
  shift
fi
build="$(cd "${1:-$root/build}" && pwd)"
quiet="${2:-75}"
glimra_install_missing trayer x11-utils
command -v flameshot >/dev/null || echo "note: flameshot is not installed; its columns stay - (--install-flameshot)" >&2
helper="$build/Glimra.app/Contents/Library/LoginItems/GlimraHelper.app/Contents/MacOS/GlimraHelper"
[ -x "$helper" ] || { echo "missing $helper: cmake --build $build --target GlimraHelper" >&2; exit 1; }

rows=()
for size in 1920x1080 3840x2160; do
  out="$("$root/scripts/with-session" --geometry "${size}x24" "$0" --inside "$helper" "$quiet" 2>&1)" || {
    echo "$out" >&2
    exit 1
  }
  rows+=("$(echo "$out" | grep '^ROW ')")
done
echo "Proportional set size, MiB: the helper idle with its tray icon and hot keys, flameshot's tray daemon in"
echo "the same session, both read after ${quiet}s more (the helper also 10 s after start-up; anonymous/file/shared"
echo "in brackets). Load average $(cut -d' ' -f1-3 /proc/loadavg)."
printf '%-10s %24s %24s %10s %18s\n' size "helper after start-up" "helper after quiet" flameshot "flameshot w/o GL"
for row in "${rows[@]}"; do
  set -- $row
  printf '%-10s %24s %24s %10s %18s\n' "$2" "$3 $4" "$5 $6" "$7" "$8"
done
