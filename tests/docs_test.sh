#!/usr/bin/env bash
# The user guide's pictures can be made as the README says: runs tools/screenshots.sh into a
# temporary folder with the programs of the given build folder, then checks that every
# picture is there, has its size and is not blank, that the coloured lights and the spot
# light's cone show, and that scenes/ and docs/ are left as they were.
#
#   tests/docs_test.sh [build folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}

tmp=$(mktemp -d "${TMPDIR:-/tmp}/docs_test.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
# The files of scenes/ and docs/ that the repository tracks, with size and time of change.
# Whatever else is there (frames and maps of programs run there by hand, perhaps while this
# test runs) is left out. Outside a git checkout: every file but the BMP files at the top of
# scenes/.
snapshot() {
  (cd "$root" &&
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
      git ls-files -z scenes docs | xargs -0 -r stat -c '%n %s %Y.%y'
    else
      find scenes docs ! -regex 'scenes/[^/]*\.bmp' -printf '%p %s %T@\n' 2>/dev/null || true
    fi | sort)
}
snapshot >"$tmp/before.txt"

start=$(date +%s)
if ! "$root/tools/screenshots.sh" "$tmp/images" "$build" >"$tmp/log.txt" 2>&1; then
  cat "$tmp/log.txt"
  echo "FAIL: tools/screenshots.sh failed"
  exit 1
fi
echo "tools/screenshots.sh took $(($(date +%s) - start)) s"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# above <value> <limit>: value > limit, as decimals.
above() { awk -v v="$1" -v l="$2" 'BEGIN { exit !(v > l) }'; }
stat_of() { convert "$1" "${@:3}" -format "%[fx:$2]" info:; }

for name in marlin_materials marlin_lightmaps marlin_outlines tern heron tern_depth; do
  f=$tmp/images/$name.png
  if [ ! -s "$f" ]; then fail "$name.png missing"; continue; fi
  size=$(identify -format '%wx%h' "$f")
  [ "$size" = 720x576 ] || fail "$name.png is $size, not 720x576"
  sd=$(stat_of "$f" standard_deviation)
  above "$sd" 0.03 || fail "$name.png is blank (standard deviation $sd)"
done

f=$tmp/images/marlin_traced.png
if [ -s "$f" ]; then
  size=$(identify -format '%wx%h' "$f")
  [ "$size" = 720x288 ] || fail "marlin_traced.png is $size, not 720x288"
  # The traced half differs from today's: the floor holds the shadows and the bounced light.
  diff=$(convert "$f" -crop 360x288+0+0 +repage \( "$f" -crop 360x288+360+0 +repage \) -compose difference \
    -composite -format '%[fx:mean]' info:)
  above "$diff" 0.01 || fail "marlin_traced.png shows the same frame twice (mean difference $diff)"
else
  fail "marlin_traced.png missing"
fi

f=$tmp/images/bake_crate.png
if [ -s "$f" ]; then
  size=$(identify -format '%wx%h' "$f")
  [ "$size" = 580x258 ] || fail "bake_crate.png is $size, not 580x258"
  sd=$(stat_of "$f" standard_deviation -crop 256x256+1+1)
  above "$sd" 0.01 || fail "bake_crate.png shows a blank lightmap (standard deviation $sd)"
else
  fail "bake_crate.png missing"
fi

for kind in diffuse ambient specular alpha normals positions; do
  f=$tmp/images/map_crate_$kind.png
  if [ ! -s "$f" ]; then fail "map_crate_$kind.png missing"; continue; fi
  size=$(identify -format '%wx%h' "$f")
  [ "$size" = 258x258 ] || fail "map_crate_$kind.png is $size, not 258x258"
  # Inside the grey frame: the ambient map is one colour (a uniform material and ambient
  # light) and the alpha map all white (every texel of the crate is covered); the others vary.
  case $kind in
    ambient)
      mean=$(stat_of "$f" mean -shave 1x1)
      above "$mean" 0.05 || fail "map_crate_ambient.png is black" ;;
    alpha)
      min=$(stat_of "$f" minima -shave 1x1)
      [ "$min" = 1 ] || fail "map_crate_alpha.png is not all white (darkest $min)" ;;
    *)
      sd=$(stat_of "$f" standard_deviation -shave 1x1)
      above "$sd" 0.01 || fail "map_crate_$kind.png is blank (standard deviation $sd)" ;;
  esac
done

# heron: the three lights' markers, pure red, green and blue.
if [ -s "$tmp/images/heron.png" ]; then
  for c in 'rgb(255,0,0)' 'rgb(0,255,0)' 'rgb(0,0,255)'; do
    n=$(convert "$tmp/images/heron.png" -fuzz 20% -fill black +opaque "$c" -fill white -opaque "$c" \
      -format '%[fx:round(mean*w*h)]' info:)
    [ "$n" -gt 300 ] || fail "heron.png shows no light of colour $c ($n pixels)"
  done
fi
# tern_depth: the spot light's cone lights the middle of the room, not its corners.
if [ -s "$tmp/images/tern_depth.png" ]; then
  centre=$(stat_of "$tmp/images/tern_depth.png" mean -gravity center -crop 200x200+0+0)
  corner=$(stat_of "$tmp/images/tern_depth.png" mean -gravity northwest -crop 100x100+0+0)
  above "$centre" "$(awk -v c="$corner" 'BEGIN { print 2 * c }')" ||
    fail "tern_depth.png: the middle ($centre) is not brighter than a corner ($corner)"
fi

extra=$(find "$tmp/images" -type f ! -name '*.png')
[ -z "$extra" ] || fail "files other than PNG in the output folder: $extra"
# What the script would write there if it ran the programs in scenes/: the crate's maps.
for kind in diffuse ambient specular alpha normals positions; do
  if [ "$root/scenes/${kind}06.bmp" -nt "$tmp/before.txt" ]; then fail "scenes/${kind}06.bmp was written"; fi
done
snapshot >"$tmp/after.txt"
diff "$tmp/before.txt" "$tmp/after.txt" >/dev/null || {
  diff "$tmp/before.txt" "$tmp/after.txt" || true
  fail "scenes/ or docs/ changed"
}

if [ "$failures" -ne 0 ]; then
  cat "$tmp/log.txt"
  exit 1
fi
echo "All pictures made and checked."
