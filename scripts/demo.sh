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

echo
echo "== Streaming recognition =="
sentence="how many people live in the city of london"
echo "Speaking \"$sentence\" with espeak-ng and converting it to 16 kHz mono with sox..."
espeak-ng -v en-us -s 150 -w "$demo/spoken.wav" "$sentence"
sox -D "$demo/spoken.wav" -r 16000 -c 1 -b 16 "$demo/speech16k.wav" pad 0.3 0.3
real_model=../shared/realmodels/kws-zipformer-gigaspeech-3.3M-en
if [ -f "$real_model/encoder.int8.onnx" ]; then
  stream_model=$real_model
  echo "Using the real streaming model in $real_model (a small English recogniser)."
else
  stream_model=$demo/models/stream
  /usr/bin/python3 tests/fixtures/make_stream_model.py "$stream_model" >/dev/null
  echo "The real model is not beside this checkout ($real_model);"
  echo "using the synthetic streaming model, whose words only describe pitch (LOW/HIGH)."
fi
echo "Smoke test: $helper --stream-stt-smoke $stream_model $demo/speech16k.wav"
"$helper" --stream-stt-smoke "$stream_model" "$demo/speech16k.wav" || true
echo "Stream mode: one recording sent in 100 ms Audio frames over the helper's pipes:"
python3 scripts/stream_client.py "$helper" "$stream_model" "$demo/speech16k.wav"
