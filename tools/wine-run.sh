#!/usr/bin/env bash
# wine-run.sh -- runs a 32-bit Windows program under Wine, headless: the cross build's
# emulator (ctest and GoogleTest's test discovery call it with the program and its
# arguments). Makes the Wine prefix on first use and keeps one wine server alive while
# programs run, so that no test waits for a server to start or stop.
#   WINEPREFIX  the prefix to use (default: build/windows/wine in this repository)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
export WINEPREFIX="${WINEPREFIX:-$here/../build/windows/wine}"
unset DISPLAY WAYLAND_DISPLAY

# The server of a prefix works in a directory named after the prefix's device and inode.
server_running() {
  local id pid
  id="$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))"
  for pid in $(pgrep -x 'wineserver(32|64)?' || true); do
    [[ "$(readlink "/proc/$pid/cwd" 2>/dev/null)" == */"$id" ]] && return 0
  done
  return 1
}

mkdir -p "$WINEPREFIX"
# Several programs start at once under ctest -j: one of them prepares, the others wait.
exec 9>"$WINEPREFIX.lock"
flock 9
started=0
if ! server_running; then
  # Persistent for a minute after the last program ends; it then stops by itself.
  wineserver -p60 </dev/null >/dev/null 2>&1 9>&-
  started=1
fi
# The first program of a new server starts Wine's own services, which keep that
# program's output open until the server ends; ctest would wait for them. So the
# first program is one whose output goes nowhere.
if [ ! -f "$WINEPREFIX/.hedgerow-ready" ]; then
  if ! wineboot --init </dev/null >"$WINEPREFIX.boot.log" 2>&1 9>&-; then
    cat "$WINEPREFIX.boot.log" >&2
    exit 1
  fi
  touch "$WINEPREFIX/.hedgerow-ready"
elif ((started)); then
  wine cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
fi
flock -u 9
exec 9>&-

exec wine "$@"
