#!/usr/bin/env bash
# Sets up and builds everything, then starts marlin on the bundled default scene.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$root/build" -j"$(nproc)"

if [ ! -x "$root/build/bin/marlin" ]; then
  echo "Built render_core, the tests and the benchmarks into $root/build/bin/."
  echo "The viewer marlin is not part of the build yet, so there is nothing to start."
  exit 0
fi
cd "$root/scenes"
exec "$root/build/bin/marlin" "$@"
