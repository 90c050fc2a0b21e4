#!/usr/bin/env bash
# Builds the helper, generates small demo models and drives the helper over
# its pipes the way an application does. The helper ends up at
# build/velmora-corvane-tts; the demo's files under build/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target velmora-corvane-tts >/dev/null
helper=build/velmora-corvane-tts
demo=build/demo
mkdir -p "$demo"

echo "== Speech synthesis =="
echo "Generating synthetic demo models (tiny networks with the real file layout)..."
/usr/bin/python3 tests/fixtures/make_tts_model.py kokoro "$demo/models/kokoro" >/dev/null
/usr/bin/python3 tests/fixtures/make_tts_model.py supertonic "$demo/models/supertonic" >/dev/null
echo "Sending synthesis requests to $helper over its standard input:"
python3 scripts/tts_client.py "$helper" "$demo" \
  "kokoro-82m-v1.1-int8=$demo/models/kokoro" "supertonic-3-int8=$demo/models/supertonic" \
  -- "Hello from the local voice helper."
