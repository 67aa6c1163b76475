#!/usr/bin/env bash
# wine-run.sh -- runs a 32-bit Windows program under Wine, headless: the cross build's
# emulator (ctest and test discovery call it with the program and its arguments).
# Makes the Wine prefix on first use and keeps one wine server alive while programs run,
# so that each test does not wait for a server to start and stop.
#   WINEPREFIX  the prefix to use (default: build/windows/wine beside this script's repo)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEPREFIX="${WINEPREFIX:-$here/../build/windows/wine}"
unset DISPLAY WAYLAND_DISPLAY

mkdir -p "$(dirname "$WINEPREFIX")"
# Several tests start at once under ctest -j: one of them makes the prefix, the others
# wait for it. The server outlives each program by a minute and then ends by itself.
exec 9>"$WINEPREFIX.lock"
flock 9
wineserver -p60 >/dev/null 2>&1 || true
if [ ! -f "$WINEPREFIX/.hedgerow-ready" ]; then
  wineboot --init >"$WINEPREFIX.boot.log" 2>&1 || {
    cat "$WINEPREFIX.boot.log" >&2
    exit 1
  }
  touch "$WINEPREFIX/.hedgerow-ready"
fi
flock -u 9
exec 9>&-

exec wine "$@"
