#!/usr/bin/env bash
# Installs what the helper and its tests need, and nothing twice:
#   - Debian packages (compiler, CMake, GoogleTest, RapidJSON, the tools
#     the test fixtures use: python3-onnx, python3-numpy, espeak-ng, sox,
#     and clang 14 with its runtime libraries for the fuzz targets);
#   - the pinned speech runtime from npm (package-lock.json, checked by npm ci).
# Fast when everything is already in place.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev rapidjson-dev
          python3 python3-onnx python3-numpy espeak-ng espeak-ng-data sox
          clang-14 libclang-rt-14-dev)  # the last two: libFuzzer and its sanitizers
command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "bootstrap: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The runtime libraries come from the lockfile, integrity-checked by npm ci.
if ! cmp -s package-lock.json node_modules/.vct-installed-lock 2>/dev/null; then
  echo "bootstrap: installing the speech runtime (npm ci)"
  npm ci --no-audit --no-fund --loglevel=error
  cp package-lock.json node_modules/.vct-installed-lock
fi
