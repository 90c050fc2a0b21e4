#!/usr/bin/env bash
# Runs a Windows program under Wine with the settings the tests need:
#   WINEPREFIX        build-windows/wine-prefix unless set;
#   WINEDEBUG         errors about missing DLLs only (without it a missing DLL
#                     fails silently with status 53, and Debian's wrapper
#                     prints a hint about 32-bit Wine);
#   WINEDLLOVERRIDES  no Mono or Gecko installation prompts;
#   LANG, LC_ALL      a UTF-8 locale: Wine converts paths with the locale's
#                     character set, and under C every non-ASCII path is missing.
# Usage: scripts/wine.sh program.exe [arguments...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$root/build-windows/wine-prefix}"
export WINEDEBUG="${WINEDEBUG:--all,err+module}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export LANG=C.UTF-8 LC_ALL=C.UTF-8
exec wine "$@"
