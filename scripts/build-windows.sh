#!/usr/bin/env bash
# Cross-builds the helper for 64-bit Windows with mingw-w64:
#   build-windows/velmora-corvane-tts.exe and the three tools, with
#   sherpa-onnx-c-api.dll and onnxruntime.dll beside them (what a Windows
#   machine needs, no more), the unit tests as .exe files (run them with
#   scripts/test-windows.sh), and the package
#   build-windows/cpack/velmora-corvane-tts-<version>-windows-x64.zip.
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
rm -rf build-windows/cpack
(cd build-windows && cpack -G ZIP -B cpack >/dev/null)
echo "build-windows: $(ls build-windows/cpack/*.zip)"
