#!/usr/bin/env bash
# Sets up and builds everything, then starts marlin on the bundled default scene; arguments
# go to marlin (a scene file of scenes/, then -turn).
# With no display (a server, CI) it runs marlin on a virtual display instead, with the same
# arguments, captures a frame in each render mode and exits, leaving the pictures in
# build/headless/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$root/build" -j"$(nproc)"

cd "$root/scenes"
case "${1:-}" in -h|--help) exec "$root/build/bin/marlin" "$@" ;; esac
if [ -n "${DISPLAY:-}" ]; then
  exec "$root/build/bin/marlin" "$@"
fi

out="$root/build/headless"
rm -rf "$out"
mkdir -p "$out"
echo "No display: running marlin ${*:-test2.txt} on a virtual display and capturing each render mode."
# The window is titled with the scene file's name.
title=${1:-test2.txt}
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash -c '
  set -u
  out=$1 marlin=$2 title=$3
  shift 3
  "$marlin" "$@" > "$out/console.txt" 2>&1 &
  pid=$!
  window=$(timeout 300 xdotool search --sync --onlyvisible --name "^${title//./\\.}\$" | head -n 1)
  if [ -z "$window" ]; then echo "ERROR: marlin did not open its window"; kill $pid; exit 1; fi
  xdotool windowfocus --sync "$window"
  sleep 1
  n=1
  for mode in materials lightmaps outlines; do
    xdotool key c
    frame=$(printf "frame%04d.bmp" $n)
    for i in $(seq 100); do [ -s "$frame" ] && break; sleep 0.1; done
    sleep 0.2
    mv "$frame" "$out/marlin_$mode.bmp"
    xdotool key t
    sleep 0.5
    n=$((n + 1))
  done
  kill $pid
' capture "$out" "$root/build/bin/marlin" "$title" "$@"

if command -v convert >/dev/null && convert -version 2>/dev/null | grep -q ImageMagick; then
  for f in "$out"/*.bmp; do convert "$f" "${f%.bmp}.png"; done
  echo "Frames of the three render modes (BMP and PNG): $out"
else
  echo "Frames of the three render modes (BMP; install imagemagick for PNG copies): $out"
fi
echo "Console output of the run: $out/console.txt"
