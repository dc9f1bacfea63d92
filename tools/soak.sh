#!/usr/bin/env bash
# Soak test (not part of CI): runs marlin and heron for a while each on a virtual display with
# all three relighting terms, shadows and light markers on, samples their resident memory
# every few seconds and looks for sanitizer reports. A third run loads a scene of 300 small
# objects into marlin and checks that all of them are drawn.
#
#   tools/soak.sh [seconds per program, default 300] [build folder, default build-asan]
#
# Results go to build/soak/: one memory log per program and a summary.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-300}
build=${2:-$root/build-asan}
out="$root/build/soak"
rm -rf "$out"
mkdir -p "$out"

if [ ! -x "$build/bin/marlin" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DRENDER_SANITIZE=ON
  cmake --build "$build" -j"$(nproc)"
fi

# A small quarantine lets the sanitizer's own memory settle quickly, so growth means a leak.
export ASAN_OPTIONS=quarantine_size_mb=16:detect_leaks=0
export GALLIUM_HUD="fps" GALLIUM_HUD_PERIOD=1

soak() { # name, program, window title, keys, scene folder, arguments...
  local name=$1 program=$2 title=$3 keys=$4 folder=$5
  shift 5
  local log="$out/$name"
  mkdir -p "$log.hud"
  (cd "$folder" && GALLIUM_HUD_DUMP_DIR="$log.hud" xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash -c '
    set -u
    program=$1 title=$2 keys=$3 seconds=$4 log=$5
    shift 5
    "$program" "$@" > "$log.console" 2>&1 &
    pid=$!
    window=$(timeout 600 xdotool search --sync --onlyvisible --name "^$title$" | head -n 1)
    [ -n "$window" ] || { echo "ERROR: no window"; kill $pid; exit 1; }
    xdotool windowfocus --sync "$window"
    sleep 1
    for k in $keys; do xdotool key "$k"; sleep 0.3; done
    xdotool key c
    : > "$log.memory"
    end=$((SECONDS + seconds))
    while [ $SECONDS -lt $end ] && kill -0 $pid 2>/dev/null; do
      echo "$SECONDS $(awk "/VmRSS/ {print \$2}" /proc/$pid/status)" >> "$log.memory"
      sleep 5
    done
    xdotool key c
    sleep 2
    kill $pid
    wait $pid 2>/dev/null || true
  ' soak "$build/bin/$program" "$title" "$keys" "$seconds" "$log" "$@")
  mkdir -p "$log.frames"
  mv "$folder"/frame*.bmp "$log.frames/" 2>/dev/null || true
  local first last frames errors
  first=$(sed -n 3p "$log.memory" | cut -d" " -f2)   # after the first seconds of drawing
  last=$(tail -n 1 "$log.memory" | cut -d" " -f2)
  frames=$(awk '{ s += $1 } END { printf "%d", s }' "$log.hud/fps")
  errors=$(grep -c -E "AddressSanitizer|runtime error|LeakSanitizer" "$log.console" || true)
  echo "$name: resident ${first} kB after warm-up, ${last} kB at the end; about $frames frames in ${seconds} s; sanitizer reports: $errors" | tee -a "$out/summary"
}

soak marlin marlin test2.txt "a d s l t" "$root/scenes" test2.txt
soak heron heron sphere_room.txt "h l" "$root/scenes"

# 300 small triangles in a 20 x 15 grid facing marlin's camera, each its own object.
many="$out/many"
mkdir -p "$many"
for i in $(seq 0 299); do
  y=$(awk "BEGIN { print int($i / 20) * 0.4 - 3 }")
  z=$(awk "BEGIN { print ($i % 20) * 0.4 - 4 }")
  printf 'v 0 %s %s\nv 0 %s %s\nv 0 %s %s\nvt 0 0\nvt 1 0\nvt 0 1\nvn -1 0 0\nf 1/1/1 3/3/1 2/2/1\n' \
    "$y" "$z" "$(awk "BEGIN { print $y + 0.3 }")" "$z" "$y" "$(awk "BEGIN { print $z + 0.3 }")" > "$many/t$i.obj"
  echo "t$i.obj 50 50 50 200 200 200 255 255 255 20 NULL 1 8 8 NULL" >> "$many/many.txt"
done
soak many marlin many.txt "" "$many" many.txt
loaded=$(grep -c "loaded successfully" "$out/many.console" || true)
echo "many objects: $loaded of 300 loaded; last frame in $many" | tee -a "$out/summary"
