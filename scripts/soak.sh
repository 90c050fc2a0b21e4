#!/usr/bin/env bash
# Soak run: 10,000 mixed synthesis requests and an hour of streamed audio
# through the built helper, every reply checked, the helper's resident memory
# (VmRSS) printed at the start, the middle and the end. A few minutes on two
# cores. Extra arguments go to the program, e.g. --requests 50000 --seconds 7200.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target vct_soak >/dev/null
exec build/tests/vct_soak "$@"
