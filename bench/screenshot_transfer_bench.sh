#!/usr/bin/env bash
# Times a large screenshot message from the helper's side of the link to a file saved by the
# reference main application, in a private headless session.
#   bench/screenshot_transfer_bench.sh [MEGABYTES] [RUNS]
set -u
root="$(cd "$(dirname "$0")/.." && pwd)"
cmake --build "$root/build" --target screenshot_transfer_bench Glimra >/dev/null || exit 1
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
exec "$root/scripts/with-session" bash -c "
  mkfifo '$out/log'
  '$root/build/bench/screenshot_transfer_bench' ${1:-30} ${2:-5} < '$out/log' & bench=\$!
  exec 3>'$out/log'
  sleep 0.3
  '$root/build/Glimra.app/Contents/MacOS/Glimra' --output '$out/shots' >&3 2>&1 & app=\$!
  wait \$bench; status=\$?
  kill \$app; wait \$app 2>/dev/null
  exit \$status"
