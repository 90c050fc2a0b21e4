#!/usr/bin/env bash
# Installs what the helper and its tests need, and nothing twice:
#   - Debian packages (compiler, CMake, GoogleTest, RapidJSON; for the
#     client library and its tools libsoxr (resampling), ICU (sentence
#     breaks) and libsndfile (WAV input), found through pkg-config; the tools
#     the test fixtures use: python3-onnx, python3-numpy, espeak-ng, sox,
#     and clang 14 with its runtime libraries for the fuzz targets);
#   - the pinned speech runtime from npm (package-lock.json, checked by npm ci).
# With --windows it also installs what the Windows build and its tests need:
# the mingw-w64 cross compiler, Wine, the runtime's Windows DLLs
# (sherpa-onnx-win-x64, pinned and hash-checked in windows-runtime.lock), and
# what scripts/windows-deps.sh needs to build the client library's libraries
# for Windows (dpkg-source, ICU's icupkg).
# Fast when everything is already in place.
set -euo pipefail
cd "$(dirname "$0")/.."

windows=0
for arg in "$@"; do
  case "$arg" in
    --windows) windows=1 ;;
    *) echo "usage: $0 [--windows]" >&2; exit 2 ;;
  esac
done

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev rapidjson-dev
          pkg-config libsoxr-dev libicu-dev libsndfile1-dev
          python3 python3-onnx python3-numpy espeak-ng espeak-ng-data sox
          clang-14 libclang-rt-14-dev)  # the last two: libFuzzer and its sanitizers
command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)
# googletest: its sources, which the Windows build compiles for the unit tests.
((windows)) && packages+=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 wine googletest
                          dpkg-dev icu-devtools)

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

((windows)) || exit 0

# The Windows DLLs. npm refuses to install a package made for another
# system, so the tarball is fetched with `npm pack` and checked against the
# committed hash before anything in it is used.
read -r win_spec win_integrity < windows-runtime.lock
win_dir=node_modules/sherpa-onnx-win-x64
if ! cmp -s windows-runtime.lock "$win_dir/.vct-installed-lock" 2>/dev/null; then
  echo "bootstrap: installing the speech runtime for Windows ($win_spec)"
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  tarball=$(cd "$tmp" && npm pack --silent --no-audit --no-fund "$win_spec")
  got="sha512-$(openssl dgst -sha512 -binary "$tmp/$tarball" | base64 -w0)"
  if [ "$got" != "$win_integrity" ]; then
    echo "bootstrap: $win_spec does not match windows-runtime.lock (got $got)" >&2
    exit 1
  fi
  rm -rf "$win_dir"
  mkdir -p "$win_dir"
  tar -xzf "$tmp/$tarball" -C "$win_dir" --strip-components=1
  cp windows-runtime.lock "$win_dir/.vct-installed-lock"
fi
