#!/usr/bin/env bash
# Builds the benchmarks and runs them: what the helper costs on top of the
# speech runtime, as ratios measured in this one run on this machine, each
# printed with its target. Takes a few minutes on two cores.
#   scripts/bench.sh [--quick]
# Builds in build-bench/; the generated fixtures go to build-bench/bench-data/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh

build=build-bench
data=$build/bench-data
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVCT_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target vct-bench >/dev/null

# The runtime's own Node binding, for the in-process comparison; pinned by
# bench/node/package-lock.json.
node=""
if command -v node >/dev/null 2>&1 && command -v npm >/dev/null 2>&1; then
  if ! cmp -s bench/node/package-lock.json bench/node/node_modules/.vct-installed-lock 2>/dev/null; then
    echo "bench: installing sherpa-onnx-node for the comparison (npm ci in bench/node)"
    (cd bench/node && npm ci --no-audit --no-fund --loglevel=error) &&
      cp bench/node/package-lock.json bench/node/node_modules/.vct-installed-lock || true
  fi
  node=$(command -v node)
fi

echo "bench: generating fixtures in $data"
mkdir -p "$data"
py=/usr/bin/python3
$py tests/fixtures/make_tts_model.py kokoro "$data/kokoro" >/dev/null
$py tests/fixtures/make_tts_model.py supertonic "$data/supertonic" >/dev/null
# The same audio as the plain Kokoro fixture, with 192 layers of extra
# computation per sentence: synthesis of 1,000 characters takes well over
# 50 ms, so moving its WAV is a small part of a round trip.
$py tests/fixtures/make_tts_model.py kokoro "$data/kokoro-slow" --work 192 >/dev/null
$py tests/fixtures/make_stream_model.py "$data/stream-synthetic" >/dev/null
$py tests/fixtures/make_stream_audio.py "$data/speech.f32" --raw-f32 \
  --speech "how many people live in the city of london" --silence 0.4 \
  --speech "the meeting has been moved to next thursday afternoon" --silence 0.4 \
  --speech "call my mother and tell her I will be late"

exec "$build/bench/vct-bench" --data "$data" ${node:+--node "$node"} "$@"
