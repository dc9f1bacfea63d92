#!/usr/bin/env bash
# Builds the .deb of a build folder (default build/), has lintian check it (errors fail),
# installs it with apt-get, runs bake --help and marlin --help from the PATH and removes the
# package again. Needs root or sudo.
#
#   tools/package_check.sh [build folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
"$root/tools/setup.sh"

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "ERROR: need root (or sudo) to install the package" >&2; exit 1; }
  as_root=(sudo)
fi

# Only the package of this run may be picked up below.
rm -f "$build"/*.deb
cmake --build "$build" -j"$(nproc)" --target package >"$build/package_check.log" ||
  { cat "$build/package_check.log"; exit 1; }
debs=("$build"/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "ERROR: expected one .deb in $build" >&2; exit 1; }
deb=${debs[0]}
name=$(dpkg-deb -f "$deb" Package)
echo "package: $deb ($(du -k "$deb" | cut -f1) KiB)"
echo "Depends: $(dpkg-deb -f "$deb" Depends)"

echo "lintian:"
lintian --fail-on error "$deb"

export DEBIAN_FRONTEND=noninteractive
was_installed=0
dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'install ok installed' && was_installed=1
cleanup() { [ "$was_installed" -eq 1 ] || "${as_root[@]}" apt-get purge -y -q "$name" >/dev/null; }
trap cleanup EXIT
"${as_root[@]}" apt-get install -y -q --reinstall "$deb" >"$build/package_check.log" ||
  { cat "$build/package_check.log"; exit 1; }

failed=0
for program in bake marlin; do
  where=$(command -v "$program" || true)
  if [ "$where" != "/usr/bin/$program" ]; then
    echo "FAILED: $program on the PATH is '${where}', not /usr/bin/$program"; failed=1; continue
  fi
  status=0
  text=$(env -u DISPLAY "$program" --help 2>&1) || status=$?
  if [ "$status" -ne 0 ] || [ "${text#Usage: $program }" = "$text" ]; then
    echo "FAILED: $program --help exited with $status and printed:"; echo "$text"; failed=1
  else
    echo "$program --help: $(head -1 <<<"$text")"
  fi
done
[ "$failed" -eq 0 ] && echo "package check passed"
exit $failed
