#!/usr/bin/env bash
# From the region shortcut's key release to the overlay mapped and to its pixels on screen, at
# 3840x2160 on a headless session of its own: the real helper (the reference main application running,
# so each capture asks it first), beside the floor of any hot-key program and, where it is installed,
# flameshot's `flameshot gui` with its daemon running, measured the same way from its command.
# --monitors "1920x1080 1280x720" makes RandR monitors of those sizes instead, left to right.
#   bench/shortcut_overlay_bench.sh [--install-flameshot] [--monitors "WxH ..."] [BUILD_DIR] [RUNS]
# (build the shortcut_overlay_bench target first; --install-flameshot installs it through apt-get)
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
if [ "${1:-}" = "--install-flameshot" ]; then
  . "$root/scripts/lib/session.sh"
  glimra_install_missing flameshot
  shift
fi
monitors=3840x2160
if [ "${1:-}" = "--monitors" ]; then
  monitors="$2"
  shift 2
fi
# The root window holds the monitors side by side.
width=0 height=0
for m in $monitors; do
  width=$((width + ${m%x*}))
  [ "${m#*x}" -gt "$height" ] && height=${m#*x}
done
build="$(cd "${1:-$root/build}" && pwd)"
runs="${2:-20}"
bench="$build/bench/shortcut_overlay_bench"
bundle="$build/Glimra.app"
helper="$bundle/Contents/Library/LoginItems/GlimraHelper.app/Contents/MacOS/GlimraHelper"
mainapp="$bundle/Contents/MacOS/Glimra"
for needed in "$bench" "$helper" "$mainapp"; do
  [ -x "$needed" ] || { echo "missing $needed: cmake --build $build --target shortcut_overlay_bench GlimraHelper Glimra" >&2; exit 1; }
done
command -v flameshot >/dev/null || echo "note: flameshot is not installed; no figure of its own (--install-flameshot)" >&2

"$root/scripts/with-session" --geometry "${width}x${height}x24" bash -c '
  bench=$1 helper=$2 mainapp=$3 runs=$4 monitors=$5
  set -- $monitors
  if [ $# -gt 1 ]; then
    x=0 n=0
    for m; do
      w=${m%x*} h=${m#*x}
      # Physical sizes of 96 dpi: Qt scales nothing.
      xrandr --setmonitor "M$n" "$w/$((w * 254 / 960))x$h/$((h * 254 / 960))+$x+0" "$([ $n = 0 ] && echo screen || echo none)" >/dev/null
      x=$((x + w)) n=$((n + 1))
    done
  fi
  home=$(mktemp -d)
  export HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_RUNTIME_DIR=$home/runtime
  mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
  pids=()
  "$mainapp" --output "$home/shots" >/dev/null 2>&1 & pids+=($!)
  sleep 0.5
  "$helper" >"$home/helper.log" 2>&1 & pids+=($!)
  for _ in $(seq 1 100); do
    gdbus call --session --dest org.freedesktop.DBus --object-path / --method org.freedesktop.DBus.NameHasOwner \
      app.glimra.GlimraHelper 2>/dev/null | grep -q true && break
    sleep 0.1
  done
  sleep 2 # the helper readies its grab buffers a second after start-up
  flameshot=""
  if command -v flameshot >/dev/null; then
    flameshot >/dev/null 2>&1 & pids+=($!)
    sleep 3
    flameshot=--flameshot
  fi
  "$bench" "$runs" $flameshot
  status=$?
  kill "${pids[@]}" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$home"
  exit $status' _ "$bench" "$helper" "$mainapp" "$runs" "$monitors" 2>&1 | grep -v '^QStandardPaths'
