#!/usr/bin/env bash
# Builds the helper for release and writes its packages into dist/:
#   velmora-corvane-tts-<version>-linux-x64.tar.gz  the install tree under one top folder
#   velmora-corvane-tts_<version>_amd64.deb         the same tree under /usr
#   velmora-corvane-tts-<version>-windows-x64.zip   the Windows tree (the .exe, the
#                                                   three tools when the client build is
#                                                   on, and the two DLLs in bin/),
#                                                   cross-built with scripts/build-windows.sh
# --no-windows leaves the zip out (it needs mingw-w64 and a second build).
# The build is RelWithDebInfo (the configuration the test suite runs) in
# build-package/, stripped on install; the split debug information stays in
# build-package/velmora-corvane-tts.debug, which the packaged binary names in
# its .gnu_debuglink section. The version is the CMake project's; file names
# and package settings are in cmake/VctPackage.cmake.
set -euo pipefail
cd "$(dirname "$0")/.."

case "$(uname -s)" in
  Linux) generators="TGZ;DEB" ;;
  *) echo "package.sh: no packages are defined for $(uname -s)" >&2; exit 1 ;;
esac

windows=1
[ "${1:-}" = --no-windows ] && windows=0

scripts/bootstrap.sh
build=build-package
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
nice -n 10 cmake --build "$build" -j2
rm -rf "$build/cpack"
(cd "$build" && cpack -G "$generators" -B cpack >/dev/null)
packages=("$build/cpack")
if [ "$windows" = 1 ]; then
  scripts/build-windows.sh  # writes the zip into build-windows/cpack
  packages+=(build-windows/cpack)
fi
mkdir -p dist
find "${packages[@]}" -maxdepth 1 -type f | sort | while read -r package; do
  mv -f "$package" dist/
  name=dist/$(basename "$package")
  echo "package: $name ($(stat -c %s "$name") bytes)"
done
echo "debug information: $build/velmora-corvane-tts.debug"
[ "$windows" = 0 ] || echo "debug information (Windows): build-windows/velmora-corvane-tts.exe.debug"
