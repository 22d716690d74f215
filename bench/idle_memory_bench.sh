#!/usr/bin/env bash
# Idle memory: the helper's proportional set size (Pss of /proc/PID/smaps_rollup) at 1920x1080 and
# 3840x2160, with its tray icon docked in trayer and its hot keys up, beside flameshot started without
# arguments (its tray daemon) in the same headless session. The helper is read twice: settled after
# start-up (grab buffers warm) and after a quiet minute and a half (large buffers given back).
#   bench/idle_memory_bench.sh [BUILD_DIR] [QUIET_SECONDS]
# flameshot is installed for this measurement when it is missing (it is no dependency of the project).
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"

if [ "${1:-}" = "--inside" ]; then
  helper="$2"
  quiet="$3"
  work=$(mktemp -d)
  pids=()
  trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; sleep 0.5; rm -rf "$work"' EXIT
  pss() { awk '/^Pss:/ { printf "%.1f", $2 / 1024 }' "/proc/$1/smaps_rollup" 2>/dev/null || echo "?"; }
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
  settled=$(pss "$helper_pid")
  peer=$([ -n "$flameshot_pid" ] && pss "$flameshot_pid" || echo "-")
  sleep "$quiet"
  quieted=$(pss "$helper_pid")
  peer_later=$([ -n "$flameshot_pid" ] && pss "$flameshot_pid" || echo "-")
  size=$(xdpyinfo | awk '/dimensions:/ { print $2 }')
  echo "ROW $size $settled $quieted $peer $peer_later"
  exit 0
fi

build="$(cd "${1:-$root/build}" && pwd)"
quiet="${2:-90}"
. "$root/scripts/lib/session.sh"
glimra_install_missing trayer x11-utils
command -v flameshot >/dev/null || glimra_install_missing flameshot || echo "note: no flameshot; its column stays -" >&2
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
echo "Proportional set size, MiB (helper idle with tray and hot keys; flameshot's tray daemon in the same session);"
echo "load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-10s %16s %22s %12s %18s\n' size "helper settled" "helper after ${quiet}s quiet" flameshot "flameshot later"
for row in "${rows[@]}"; do
  set -- $row
  printf '%-10s %16s %22s %12s %18s\n' "$2" "$3" "$4" "$5" "$6"
done
