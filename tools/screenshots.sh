#!/usr/bin/env bash
# Makes the pictures of the user guide with the programs themselves, headlessly: frames
# captured with the C key and maps written with the F key, converted to PNG.
#
#   tools/screenshots.sh [output folder [build folder]]
#
# The output folder defaults to docs/images. Without a build folder the programs are built
# in build/ first (as tools/run_marlin.sh does); a given build folder is used as it is, and
# only built when its programs are missing.
#
# The programs run on a private virtual X server (Xvfb) and get their keys and mouse drags
# from xdotool. They read the bundled scenes through a temporary working folder that links
# to the scene files and the folders of scenes/, so the BMP files they write land there and
# never in scenes/; the folder goes at the end. Every run rewrites the same file names:
#   marlin_materials.png, marlin_lightmaps.png, marlin_outlines.png, tern.png, heron.png,
#   tern_depth.png (720 x 576 frames) and map_crate_<kind>.png for the six kinds diffuse,
#   ambient, specular, alpha, normals, positions (the crate's 128 x 128 maps, shown at
#   256 x 256 with a one-pixel grey frame so that a white map stands out on a white page), and
#   bake_crate.png: the crate's lightmap as bake writes it, beside marlin's lightmap frame;
#   marlin_traced.png: marlin's lightmap frame as baked today, beside the same frame baked with
#   --shadows --ao --bounces 2 (each 360 x 288).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/docs/images}

"$root/tools/setup.sh"
if [ $# -ge 2 ]; then
  build=$2
  built() { for p in marlin tern heron tern_depth bake; do [ -x "$build/bin/$p" ] || return 1; done; }
  if ! built; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release
    cmake --build "$build" -j"$(nproc)" --target marlin tern heron tern_depth bake
  fi
else
  build=$root/build
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release
  cmake --build "$build" -j"$(nproc)" --target marlin tern heron tern_depth bake
fi
bin=$(cd "$build/bin" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/screenshots.XXXXXX")
xvfb=
viewer=
cleanup() {
  if [ -n "$viewer" ]; then kill "$viewer" 2>/dev/null || true; wait "$viewer" 2>/dev/null || true; fi
  if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
# The scene files and the folders of meshes and textures; BMP files the programs may have left
# in scenes/ are not linked, so that a new file of the same name cannot write through a link.
for f in "$root/scenes"/*; do
  if [ -d "$f" ] || [ "${f%.txt}" != "$f" ]; then ln -s "$f" "$work/"; fi
done
cd "$work"

# Xvfb writes its display number to the given descriptor once it takes connections.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "ERROR: the virtual display did not start"; exit 1; }
DISPLAY=:$(head -n 1 "$work/display")
export DISPLAY

window=
frame=0
# start <program> [arguments...]: runs a viewer with its console output in <program>.txt and
# waits for its window and for the preparation of every object of the scene, whose last report
# line is "Initialising bitmap : FINAL COLOUR" (the window shows before that, and a key pressed
# before the first frame is drawn would capture an empty picture).
start() {
  local program=$1 title=sphere_room.txt objects
  shift
  [ "$program" = marlin ] && title=${1:-test2.txt}
  objects=$(grep -c '[^[:space:]]' "$title" || true)
  "$bin/$program" "$@" >"$work/$program.txt" 2>&1 &
  viewer=$!
  frame=0
  window=
  for _ in $(seq 1200); do
    window=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n 1) || true
    [ -n "$window" ] && break
    kill -0 "$viewer" 2>/dev/null || break
    sleep 0.1
  done
  if [ -z "$window" ]; then
    echo "ERROR: $program did not open its window; its console output:"
    cat "$work/$program.txt"
    exit 1
  fi
  for _ in $(seq 1200); do
    [ "$(grep -c 'Initialising bitmap : FINAL COLOUR' "$work/$program.txt")" -ge "$objects" ] && break
    sleep 0.1
  done
  xdotool windowfocus --sync "$window"
  sleep 1
}
stop() {
  kill "$viewer" 2>/dev/null || true
  wait "$viewer" 2>/dev/null || true
  viewer=
  rm -f ./*.bmp
}
press() { xdotool windowfocus --sync "$window" key --delay 100 "$@"; }
# drag <button> <from x> <from y> <to x> <to y>: in window pixels, in ten steps.
drag() {
  local b=$1 x0=$2 y0=$3 x1=$4 y1=$5 i
  xdotool mousemove --window "$window" "$x0" "$y0" mousedown "$b"
  for i in $(seq 1 10); do
    xdotool mousemove --window "$window" $((x0 + (x1 - x0) * i / 10)) $((y0 + (y1 - y0) * i / 10))
    sleep 0.05
  done
  xdotool mouseup "$b"
}
# until_written <file>: waits until the program has written the file whole.
until_written() {
  local size=-1 now
  for _ in $(seq 600); do
    if [ -s "$1" ]; then
      now=$(stat -c %s "$1")
      [ "$now" = "$size" ] && return 0
      size=$now
    fi
    sleep 0.1
  done
  echo "ERROR: $1 was not written"
  exit 1
}
# grab: presses C and waits for the frame file, whose name it leaves in shot.
shot=
grab() {
  frame=$((frame + 1))
  shot=$(printf 'frame%04d.bmp' "$frame")
  press c
  until_written "$shot"
}
# keep <bmp> <name> [convert options...]: the picture as <name>.png in the output folder.
keep() {
  local bmp=$1 name=$2
  shift 2
  convert "$bmp" "$@" -strip "$out/$name.png"
  rm -f "$bmp"
  echo "  $out/$name.png"
}
# pixels_near <file> <colour>: how many pixels lie within 20 % of the colour.
pixels_near() {
  convert "$1" -fuzz 20% -fill black +opaque "$2" -fill white -opaque "$2" \
    -format '%[fx:round(mean*w*h)]' info:
}

echo "marlin: the three render modes, with the light's marker"
start marlin
drag 1 360 200 360 330 # orbit: the eye rises above the floor
press l
sleep 1
grab; keep "$shot" marlin_materials
press t
sleep 2
grab; keep "$shot" marlin_lightmaps
press t
sleep 2
grab; keep "$shot" marlin_outlines
stop

echo "marlin: the lightmaps baked with traced shadows, occlusion and two bounces, beside today's"
traced=(--shadows --ao --bounces 2)
start marlin test2.txt "${traced[@]}"
# The lighting waits for the rays, which follow the last report of the preparation.
for _ in $(seq 1200); do grep -q '^Traced ' "$work/marlin.txt" && break; sleep 0.1; done
drag 1 360 200 360 330
press t
sleep 2
grab
convert \( "$out/marlin_lightmaps.png" -resize 360x288 \) \( "$shot" -resize 360x288 \) +append \
  -strip "$out/marlin_traced.png"
rm -f "$shot"
echo "  $out/marlin_traced.png"
stop

echo "bake: the crate's lightmap as the baker writes it, beside the lit room"
"$bin/bake" test2.txt baked >/dev/null
convert \( baked/final06.png -filter point -resize 256x256 -bordercolor gray50 -border 1 \) \
  \( "$out/marlin_lightmaps.png" -resize 322x258 \) -background white -gravity center +append \
  -strip "$out/bake_crate.png"
echo "  $out/bake_crate.png"
rm -rf baked

echo "tern: the light dragged up and to the left, relit, with its marker; the crate's maps"
start tern
# D and S make the lightmap pass relight those terms; tern shows it at the next redraw,
# which the drag causes.
press d s l
drag 1 360 288 200 150
sleep 3
grab; keep "$shot" tern
press f
crate=06 # the seventh line of sphere_room.txt
for kind in diffuse ambient specular alpha normals positions; do
  until_written "$kind$crate.bmp"
done
for kind in diffuse ambient specular alpha normals positions; do
  keep "$kind$crate.bmp" "map_crate_$kind" -filter point -resize 256x256 -bordercolor gray50 -border 1
done
stop

echo "heron: the three circling lights with their markers and shadows"
start heron
press h l
sleep 2
# Now and then two lights stand in line with the eye; wait for a frame showing all three.
for try in $(seq 30); do
  grab
  if [ "$(pixels_near "$shot" 'rgb(255,0,0)')" -gt 300 ] && [ "$(pixels_near "$shot" 'rgb(0,255,0)')" -gt 300 ] &&
     [ "$(pixels_near "$shot" 'rgb(0,0,255)')" -gt 300 ]; then
    break
  fi
  [ "$try" = 30 ] && { echo "ERROR: no frame of heron showed all three lights"; exit 1; }
  rm -f "$shot"
  sleep 0.3
done
keep "$shot" heron
stop

echo "tern_depth: the spot light's cone of light and its marker"
start tern_depth
press l
sleep 2
grab; keep "$shot" tern_depth
stop

echo "Pictures written to $out"
