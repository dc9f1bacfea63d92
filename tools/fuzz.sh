#!/usr/bin/env bash
# Builds the fuzz targets of the image (BMP, PNG, JPEG), OBJ and scene-file readers with clang (libFuzzer with
# the address and undefined-behaviour sanitizers) in build-fuzz/ and runs each in turn, one
# process at a time, for the given number of seconds:
#
#   tools/fuzz.sh 600              # each of image, obj and scene for ten minutes
#   tools/fuzz.sh 60 obj           # the OBJ reader alone for a minute
#
# The working corpora grow in build-fuzz/corpus/<target>/ and start from the committed seeds in
# fuzz/corpus/<target>/. A finding is written to build-fuzz/findings/<target>/ and makes the
# script fail; add its file to fuzz/corpus/<target>/ once fixed, so that the test suite replays
# it from then on. Needs clang and its runtime (Debian: clang libclang-rt-14-dev).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(image obj scene)

if ! command -v clang++ >/dev/null; then
  echo "ERROR: clang++ is needed (Debian: apt-get install clang libclang-rt-14-dev)" >&2
  exit 1
fi
build="$root/build-fuzz"
cmake -S "$root" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRENDER_FUZZ=ON -DRENDER_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/%/_fuzz}"

# AddressSanitizer holds up to 256 MB of freed blocks, half the memory limit below, so that
# every target would drift towards it; 64 MB still catches a use soon after a free.
export ASAN_OPTIONS="quarantine_size_mb=64${ASAN_OPTIONS:+:$ASAN_OPTIONS}"

failed=0
for t in "${targets[@]}"; do
  mkdir -p "$build/corpus/$t" "$build/findings/$t" "$build/logs"
  log="$build/logs/$t.log"
  echo "Fuzzing $t for $seconds s (log: $log)"
  status=0
  "$build/bin/${t}_fuzz" "$build/corpus/$t" "$root/fuzz/corpus/$t" \
    -dict="$root/fuzz/$t.dict" -max_total_time="$seconds" -max_len=32768 -timeout=2 \
    -rss_limit_mb=512 -malloc_limit_mb=512 -print_final_stats=1 \
    -artifact_prefix="$build/findings/$t/" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  corpus=$(grep -o 'corp: [0-9]*/[0-9]*[a-zA-Z]*' "$log" | tail -1 | cut -d' ' -f2)
  echo "  $t: ${runs:-?} runs, ${speed:-?} exec/s, corpus ${corpus:-?} (files/bytes)"
  if [ "$status" -ne 0 ]; then
    failed=1
    echo "  $t: FINDING (exit $status):" >&2
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error|[a-z]+Input: )' "$log" | head -5 >&2 || true
    ls "$build/findings/$t" >&2
  fi
done
exit $failed
