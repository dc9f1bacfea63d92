#!/usr/bin/env bash
# Installs a build into a temporary prefix, checks what landed there, then builds and runs
# the consumer of this folder against it through find_package(render_core).
#
#   tests/install/install_test.sh BUILD_DIR CONSUMER_DIR DOC_DIR CXX_COMPILER VERSION
set -euo pipefail
build=$1 consumer=$2 docdir=$3 cxx=$4 version=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; exit 1; }

missing=0
expect() { # path relative to the prefix
  if [ ! -s "$prefix/$1" ]; then echo "missing from the installed tree: $1"; missing=1; fi
}
for program in marlin tern heron tern_depth bake; do
  expect "bin/$program"
  [ -x "$prefix/bin/$program" ] || { echo "not executable: bin/$program"; missing=1; }
  expect "share/man/man1/$program.1.gz"
  if [ -s "$prefix/share/man/man1/$program.1.gz" ] &&
     ! gzip -dc "$prefix/share/man/man1/$program.1.gz" | grep -q "^\.TH \"\?${program^^}\"\? \"\?1\"\? .*$version"; then
    echo "man page of $program has no title line of section 1 and version $version"; missing=1
  fi
done
for doc in README.md LICENSE copyright changelog.gz docs/architecture.md; do expect "$docdir/$doc"; done
for header in core/image.h core/bitmap.h mesh/object.h lights/light.h texlight/lighting.h pipeline/prepare.h viewer/scene.h; do
  expect "include/render_core/$header"
done
expect "lib/librender_core.a"
expect "lib/cmake/render_core/render_coreConfig.cmake"
expect "lib/cmake/render_core/render_coreConfigVersion.cmake"
# The package must stand on its own: nothing in it may point back into the source or build tree.
if grep -rlF -e "$(cd "$consumer/../.." && pwd)/" -e "$(cd "$build" && pwd)/" "$prefix/lib/cmake"; then
  echo "the installed CMake package names the source or build tree"; missing=1
fi
[ "$missing" -eq 0 ] || exit 1

cmake -S "$consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Release >"$work/configure.log" ||
  { cat "$work/configure.log"; exit 1; }
cmake --build "$work/consumer" >"$work/build.log" || { cat "$work/build.log"; exit 1; }
"$work/consumer/consumer"
