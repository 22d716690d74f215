#!/usr/bin/env bash
# Inside a headless session: lays out a desktop as people have it and saves a screenshot of the root
# window to FILE. A grainy photo-like wallpaper, two terminals full of text (one dark), a clock, a
# photo-like picture in an image viewer and, when given, a Qt window with text (the toolkit demo);
# every picture is generated here. Sizes follow the screen height (4K is a 2x screen).
#   bench/desktop_scene.sh FILE [QT_PROGRAM]
set -u
out="$1"
qt_program="${2:-}"
read -r width height < <(xdpyinfo | awk '/dimensions:/ { split($2, a, "x"); print a[1], a[2] }')
k=$((height / 1080))
[ "$k" -ge 1 ] || k=1
tmp=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$tmp"' EXIT

convert -size $((width / 4))x$((height / 4)) plasma:steelblue-tan -blur 0x1 \
  -resize "${width}x${height}!" -attenuate 0.1 +noise Gaussian "$tmp/wallpaper.png"
display -window root "$tmp/wallpaper.png"
convert -size $((700 * k))x$((460 * k)) plasma:fractal -blur 0x$((2 * k)) -modulate 100,140 \
  -attenuate 0.2 +noise Gaussian "$tmp/photo.png"
display -title photo -geometry +$((1100 * k))+$((520 * k)) "$tmp/photo.png" &
pids+=($!)
xterm -fa 'DejaVu Sans Mono' -fs $((10 * k)) -geometry 100x40+$((30 * k))+$((40 * k)) -hold \
  -e sh -c 'ls -l /usr/bin | head -60' &
pids+=($!)
xterm -bg '#1e1e1e' -fg '#d0d0d0' -fa 'DejaVu Sans Mono' -fs $((10 * k)) \
  -geometry 90x30+$((760 * k))+$((60 * k)) -hold -e sh -c 'head -40 /usr/share/common-licenses/GPL-3' &
pids+=($!)
xclock -geometry $((220 * k))x$((220 * k))+$((1600 * k))+$((60 * k)) &
pids+=($!)
if [ -n "$qt_program" ]; then
  QT_SCALE_FACTOR=$k "$qt_program" >/dev/null 2>&1 &
  pids+=($!)
fi
sleep 4
import -window root "$out"
