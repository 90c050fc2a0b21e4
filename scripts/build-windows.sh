#!/usr/bin/env bash
# Cross-builds the helper for 64-bit Windows with mingw-w64:
#   build-windows/velmora-corvane-tts.exe, with sherpa-onnx-c-api.dll and
#   onnxruntime.dll beside it (what a Windows machine needs, no more), and the
#   unit tests as .exe files (run them with scripts/test-windows.sh).
# Installs what it needs first (scripts/bootstrap.sh --windows), and builds
# the client library's third-party libraries for Windows into
# build-windows/deps (scripts/windows-deps.sh; quick when they are there).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh --windows
scripts/windows-deps.sh build-windows
cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake >/dev/null
nice -n 10 cmake --build build-windows -j2
