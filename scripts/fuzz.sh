#!/usr/bin/env bash
# Builds the libFuzzer targets (clang 14, AddressSanitizer and
# UndefinedBehaviorSanitizer, the fake speech runtime) and fuzzes them.
#
#   scripts/fuzz.sh <target> [seconds]   fuzz one target (default 60 s)
#   scripts/fuzz.sh all [seconds]        every target in turn
#
# Targets: tts_service tts_request stream_frames stream_service
# recognizer_result (see fuzz/*_fuzzer.cc). The seed corpus in
# fuzz/corpus/<target>/ is read, never written; what a run adds is kept in
# build-fuzz/corpus/<target>/ for the next run. A failing input is left in
# build-fuzz/findings/<target>/, and the script exits non-zero. To keep one
# as a regression case, copy it into fuzz/corpus/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(tts_service tts_request stream_frames stream_service recognizer_result)
what=${1:?"usage: scripts/fuzz.sh <target|all> [seconds]"}
seconds=${2:-60}
if [ "$what" = all ]; then
  selected=("${targets[@]}")
else
  [[ " ${targets[*]} " == *" $what "* ]] || { echo "unknown target: $what (${targets[*]})" >&2; exit 2; }
  selected=("$what")
fi

if [ ! -f build-fuzz/build.ninja ]; then
  CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVCT_FUZZ=ON -DVCT_SANITIZE=ON -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build build-fuzz -j2 --target fuzz_targets >/dev/null

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for t in "${selected[@]}"; do
  mkdir -p "build-fuzz/corpus/$t" "build-fuzz/findings/$t"
  log="build-fuzz/findings/$t/last-run.log"
  echo "fuzz: $t for ${seconds}s"
  if build-fuzz/fuzz/fuzz_"$t" "build-fuzz/corpus/$t" "fuzz/corpus/$t" \
       -max_total_time="$seconds" -max_len=16384 -timeout=20 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$t/" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
    echo "fuzz: $t: ${runs:-?} executions, $cov, no finding"
  else
    status=1
    echo "fuzz: $t FAILED; input and log in build-fuzz/findings/$t/" >&2
    grep -E 'fuzz check failed|ERROR:|SUMMARY:|runtime error' "$log" | head -5 >&2 || true
  fi
done
exit $status
