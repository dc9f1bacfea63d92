#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: the normal build, then the same tests in
# the address and undefined-behaviour sanitizer build. Both run even when the first fails;
# the last lines say how each went, and the exit status is non-zero if either failed. Tests
# that open windows get a virtual display when none is there. "--quick" skips the sanitizer
# build; "--threads" instead builds with ThreadSanitizer and runs only the tests of the work
# that threads share (relighting and ray tracing). Tests that read ../shared/testdata skip without it, unless
# RENDER_REQUIRE_TESTDATA is set.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh" || exit 1

jobs=$(nproc)
run_suite() { # build folder, extra cmake arguments...
  local dir=$1; shift
  cmake -S "$root" -B "$dir" "$@" && cmake --build "$dir" -j"$jobs" || return 1
  if [ -n "${DISPLAY:-}" ]; then
    ctest --test-dir "$dir" --output-on-failure -j"$jobs"
  else
    # -noreset: otherwise the server resets whenever its last client leaves, and a test
    # starting in that moment cannot connect.
    xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" ctest --test-dir "$dir" --output-on-failure -j"$jobs"
  fi
}

if [ "${1:-}" = "--threads" ]; then
  dir="$root/build-tsan"
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRENDER_TSAN=ON &&
    cmake --build "$dir" -j"$jobs" --target render_tests || exit 1
  TSAN_OPTIONS="suppressions=$root/tools/tsan.supp ${TSAN_OPTIONS:-}" \
    ctest --test-dir "$dir" --output-on-failure -j"$jobs" -R '^(workerPool|relighting|lightingTerms|specularPower|wideLighting|tracedThreads)\.'
  exit $?
fi

results=()
failed=0
run_suite "$root/build" -DCMAKE_BUILD_TYPE=Release
status=$?
results+=("normal build: $([ $status -eq 0 ] && echo passed || echo FAILED)")
[ $status -eq 0 ] || failed=1
if [ "${1:-}" != "--quick" ]; then
  run_suite "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DRENDER_SANITIZE=ON
  status=$?
  results+=("sanitizer build: $([ $status -eq 0 ] && echo passed || echo FAILED)")
  [ $status -eq 0 ] || failed=1
fi
printf '%s\n' "${results[@]}"
echo "builds: $(printf '%s\n' "${results[@]}" | grep -c passed) passed, $(printf '%s\n' "${results[@]}" | grep -c FAILED) failed"
exit $failed
