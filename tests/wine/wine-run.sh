#!/usr/bin/env bash
# Runs a Windows program of the build under wine64 in a prefix of the build tree's own, made
# on first use (once, however many tests start at the same time), so that the tests touch
# neither ~/.wine nor the real home's folders.
#   BRISQUELL_WINEPREFIX=DIR tests/wine/wine-run.sh PROGRAM.exe [ARGS...]
set -euo pipefail
: "${BRISQUELL_WINEPREFIX:?set BRISQUELL_WINEPREFIX to the prefix folder}"
export WINEPREFIX=$BRISQUELL_WINEPREFIX
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export HOME="$WINEPREFIX.home"  # Wine links the profile's folders into it
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$HOME"
  (
    flock 9
    [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >"$WINEPREFIX.wineboot.log" 2>&1
  ) 9>"$WINEPREFIX.lock"
fi
exec wine "$@"  # Debian starts the 64-bit loader for a 64-bit program
