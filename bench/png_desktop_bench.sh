#!/usr/bin/env bash
# The PNG encoder on real screenshots: lays out a desktop with text and photos at 1920x1080 and
# 3840x2160 (bench/desktop_scene.sh, each in a headless session of its own), then runs png_bench with
# every ISA-L level and filter (--variants) on those screenshots beside its painted screens and libpng.
#   bench/png_desktop_bench.sh [BUILD_DIR] [RUNS]      (build the png_bench target first)
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
runs="${2:-9}"
. "$root/scripts/lib/session.sh"
# The scene's programs, for this measurement only.
glimra_install_missing xterm x11-apps imagemagick x11-utils
bench="$build/bench/png_bench"
demo="$build/GlimraToolkitDemo.app/Contents/MacOS/GlimraToolkitDemo"
[ -x "$bench" ] || { echo "missing $bench: cmake --build $build --target png_bench" >&2; exit 1; }
[ -x "$demo" ] || demo=""
shots=$(mktemp -d)
trap 'rm -rf "$shots"' EXIT
images=()
for size in 1920x1080 3840x2160; do
  "$root/scripts/with-session" --geometry "${size}x24" "$root/bench/desktop_scene.sh" "$shots/desktop-$size.png" \
    "$demo" >/dev/null 2>&1
  images+=(--image "$shots/desktop-$size.png")
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
QT_QPA_PLATFORM=offscreen "$bench" --runs "$runs" --variants "${images[@]}"
