#!/usr/bin/env bash
# Builds the third-party libraries of the client library and the tools for
# 64-bit Windows, static, into one prefix (build-windows/deps/{include,lib,
# lib/pkgconfig}) that the Windows build finds through pkg-config (the
# toolchain file points PKG_CONFIG_LIBDIR there):
#   libsoxr     resampling (the client library);
#   libsndfile  audio files (corvane-listen), without the external codecs;
#   ICU common  break iterators (corvane-say), with the part of ICU's data
#               that sentence, word and character breaking use.
# The sources are Debian's source packages at the versions of the Linux build
# (the installed -dev packages), with Debian's patches applied. Each library
# is rebuilt only when its version or its recipe below changes.
# Usage: scripts/windows-deps.sh [build directory, default build-windows]
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
build="$(mkdir -p "${1:-build-windows}" && cd "${1:-build-windows}" && pwd)"
prefix="$build/deps"
work="$build/deps-work"
toolchain="$root/cmake/toolchains/mingw-w64-x86_64.cmake"
run() { nice -n 10 "$@"; }
say() { echo "windows-deps: $*"; }

# The source package and version behind each library of the Linux build.
source_of() { dpkg-query -W -f='${source:Package} ${source:Version}\n' "$1"; }
read -r soxr_package soxr_version < <(source_of libsoxr-dev)
read -r sndfile_package sndfile_version < <(source_of libsndfile1-dev)
read -r icu_package icu_version < <(source_of libicu-dev)

# What a library's stamp holds: its version and a hash of how it is built.
stamp_of() {  # name version
  echo "$2 $( { declare -f "build_$1" cmake_build write_pc; cat "${recipe_files[@]}"; } |
    sha256sum | cut -c1-16)"
}
recipe_files=("$toolchain" "$root"/cmake/icu-common/*)
done_already() { [ "$(cat "$prefix/.stamp-$1" 2>/dev/null)" = "$(stamp_of "$1" "$2")" ]; }

# Downloads and unpacks the source packages that are not unpacked yet, with
# an apt configuration of its own: the system's sources turned into source
# indexes, lists and caches under $work. The system's apt state is left
# alone. apt checks the signed indexes and, through them, the hashes of every
# file the .dsc lists; dpkg-source then applies Debian's patches.
fetch() {  # package=version...
  local wanted=() item
  for item in "$@"; do
    [ -f "$work/src/${item%%=*}.unpacked" ] &&
      [ "$(cat "$work/src/${item%%=*}.unpacked")" = "${item#*=}" ] || wanted+=("$item")
  done
  ((${#wanted[@]})) || return 0
  local apt="$work/apt"
  rm -rf "$apt"
  mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial" "$work/src"
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && sed 's/^Types:.*/Types: deb-src/' "$f" >"$apt/sources.list.d/$(basename "$f")"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] && sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >"$apt/sources.list.d/$(basename "$f").list"
  done
  local opts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt/sources.list.d"
              -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache"
              -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=
              # (apt's download user may not reach the build tree)
              -o APT::Sandbox::User="$(id -un)")
  say "fetching ${wanted[*]}"
  apt-get -qq "${opts[@]}" update
  (cd "$work/src" && apt-get -qq "${opts[@]}" source --download-only "${wanted[@]}" >/dev/null)
  for item in "${wanted[@]}"; do
    local name="${item%%=*}" version="${item#*=}"
    local dsc="$work/src/${name}_${version#*:}.dsc"
    rm -rf "$work/src/$name"
    # (dpkg-source cannot check the uploader's signature without Debian's
    # keyring and says so; apt has checked the files against the signed index.)
    (cd "$work/src" && dpkg-source -q -x "$dsc" "$name" >/dev/null 2>"$work/src/$name.log") ||
      { cat "$work/src/$name.log" >&2; exit 1; }
    echo "$version" >"$work/src/$name.unpacked"
  done
  rm -rf "$apt"
}

# Configures, builds and installs a CMake project into the prefix with the
# project's toolchain file.
cmake_build() {  # name source-dir cmake-arguments...
  local name="$1" src="$2"
  shift 2
  rm -rf "$work/build-$name"
  run cmake -S "$src" -B "$work/build-$name" -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF "$@" >"$work/build-$name.log" ||
    { cat "$work/build-$name.log" >&2; exit 1; }
  run cmake --build "$work/build-$name" -j2 >>"$work/build-$name.log" ||
    { tail -50 "$work/build-$name.log" >&2; exit 1; }
  cmake --install "$work/build-$name" >>"$work/build-$name.log"
}

# A pkg-config file in the prefix; the static link needs everything in Libs.
write_pc() {  # name version description libs [cflags]
  cat >"$prefix/lib/pkgconfig/$1.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: $1
Description: $3 (static, for x86_64-w64-mingw32)
Version: $2
Libs: -L\${libdir} $4
Cflags: -I\${includedir}${5:+ $5}
EOF
}

build_soxr() {
  cmake_build soxr "$work/src/$soxr_package" -DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF \
    -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF
  write_pc soxr "${soxr_version%-*}" "The SoX resampler library" "-lsoxr"
}

# Without FLAC, Ogg, Vorbis, Opus and MPEG: corvane-listen reads WAV files.
build_sndfile() {
  cmake_build sndfile "$work/src/$sndfile_package" -DENABLE_EXTERNAL_LIBS=OFF -DENABLE_MPEG=OFF \
    -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF -DBUILD_REGTEST=OFF \
    -DENABLE_CPACK=OFF -DENABLE_PACKAGE_CONFIG=OFF -DINSTALL_PKGCONFIG_MODULE=OFF \
    -DINSTALL_MANPAGES=OFF
  write_pc sndfile "${sndfile_version%-*}" "A library for reading and writing audio files" "-lsndfile"
}

# ICU's data comes from the Linux build's own ICU (the same little-endian
# format), cut down to the break iterators' rules and locale data: the
# dictionaries (Chinese, Japanese, Thai, Lao, Khmer, Burmese word breaks),
# the line and title rules and all other data stay out (138 KB instead of
# 31 MB). Text in those scripts still splits into sentences; its words are
# cut without a dictionary.
build_icu() {
  local major="${icu_version%%.*}"
  local so
  so="$(dpkg -L "libicu$major" | grep "/libicudata\.so\.$major\$")"
  local data="$work/icu-data"
  rm -rf "$data"
  mkdir -p "$data/items" "$data/full"
  # The package is the symbol icudt<major>_dat: its address and size, and
  # the file offset of the section that holds it.
  local address size section_address section_offset
  read -r address size < <(nm -D -S "$so" | awk -v s="icudt${major}_dat" '$4 == s { print $1, $2 }')
  read -r section_address section_offset < <(readelf -SW "$so" |
    awk '$2 == ".rodata" { print $4, $5 }')
  dd if="$so" of="$data/full/icudt${major}l.dat" iflag=skip_bytes,count_bytes status=none \
    skip=$((0x$address - 0x$section_address + 0x$section_offset)) count=$((0x$size))
  icupkg -l "$data/full/icudt${major}l.dat" | grep '^brkitr/' |
    grep -v -e '\.dict$' -e '^brkitr/line' -e '^brkitr/title' >"$data/items.txt"
  icupkg -x "$data/items.txt" -d "$data/items" "$data/full/icudt${major}l.dat"
  # The package's name (icudt<major>l) comes from the file name. The
  # dependencies left out are reported and ignored.
  icupkg --ignore-deps -a "$data/items.txt" -s "$data/items" new "$data/icudt${major}l.dat" 2>/dev/null
  rm -rf "$data/full"
  cmake_build icu "$root/cmake/icu-common" -DICU_SOURCE_DIR="$work/src/$icu_package/source" \
    -DICU_DATA_PACKAGE="$data/icudt${major}l.dat" -DICU_MAJOR="$major"
  write_pc icu-uc "${icu_version%-*}" "International Components for Unicode: common library" \
    "-licuuc -licudata" "-DU_STATIC_IMPLEMENTATION"
}

libraries=(soxr sndfile icu)
todo=()
for lib in "${libraries[@]}"; do
  version_var="${lib}_version"
  done_already "$lib" "${!version_var}" || todo+=("$lib")
done
((${#todo[@]})) || exit 0

start=$(date +%s)
fetch "$soxr_package=$soxr_version" "$sndfile_package=$sndfile_version" "$icu_package=$icu_version"
mkdir -p "$prefix/lib/pkgconfig"
for lib in "${todo[@]}"; do
  say "building $lib"
  rm -f "$prefix/.stamp-$lib"
  "build_$lib"
  version_var="${lib}_version"
  stamp_of "$lib" "${!version_var}" >"$prefix/.stamp-$lib"
done
say "${todo[*]} built in $(($(date +%s) - start)) s"
