#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: the normal build, then the same tests in
# the address and undefined-behaviour sanitizer build. Tests that open windows get a virtual
# display when none is there. "--quick" skips the sanitizer build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"

jobs=$(nproc)
run_suite() { # build folder, extra cmake arguments...
  local dir=$1; shift
  cmake -S "$root" -B "$dir" "$@"
  cmake --build "$dir" -j"$jobs"
  if [ -n "${DISPLAY:-}" ]; then
    ctest --test-dir "$dir" --output-on-failure -j"$jobs"
  else
    # -noreset: otherwise the server resets whenever its last client leaves, and a test
    # starting in that moment cannot connect.
    xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" ctest --test-dir "$dir" --output-on-failure -j"$jobs"
  fi
}

run_suite "$root/build" -DCMAKE_BUILD_TYPE=Release
if [ "${1:-}" != "--quick" ]; then
  run_suite "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DRENDER_SANITIZE=ON
fi
