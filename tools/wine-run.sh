#!/usr/bin/env bash
# wine-run.sh -- runs a Windows program under Wine, headless: the cross builds' emulator
# (ctest and GoogleTest's test discovery call it with the program and its arguments).
# A 64-bit program (x86-64 in its PE header) runs under Wine's 64-bit loader in a 64-bit
# prefix, which any x86-64 kernel can run; a 32-bit one under the 32-bit loader, which
# needs a kernel that runs 32-bit programs (tools/can-run-32bit.sh tells). Makes the
# prefix on first use and keeps one wine server alive while programs run, so that no test
# waits for a server to start or stop.
#   WINEPREFIX  the prefix to use (default: build/windows/wine or build/windows64/wine)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

# The machine field of the PE header: 0x8664 for x86-64, 0x014c for i386.
bits=32
if [ -f "${1:-}" ]; then
  pe_offset="$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')"
  machine="$(od -An -tx2 -j$((pe_offset + 4)) -N2 "$1" | tr -d ' ')"
  [ "$machine" = 8664 ] && bits=64
fi
if ((bits == 64)); then
  export WINEARCH=win64
  loader=/usr/lib/wine/wine64
  export WINEPREFIX="${WINEPREFIX:-$here/../build/windows64/wine}"
  dlls=/usr/x86_64-w64-mingw32/bin
else
  export WINEARCH=win32
  loader=/usr/lib/wine/wine
  export WINEPREFIX="${WINEPREFIX:-$here/../build/windows/wine}"
  dlls=/usr/i686-w64-mingw32/bin
fi
# The libraries Hedgerow.dll ships with (libgcrypt and libgpg-error), for the programs
# that do not lie beside a copy of them.
# (Wine shows the root of the Linux file system as drive Z:.)
export WINEPATH="Z:${dlls//\//\\}${WINEPATH:+;$WINEPATH}"
# The loader that Wine starts its own programs (services, wineboot) with.
export WINELOADER=$loader
export WINEDEBUG="${WINEDEBUG:--all}"
# Wine reads the command line and file names in the Unix locale's character set: UTF-8,
# so that a name outside ASCII reaches a program, and the disk, unchanged.
export LC_ALL=C.UTF-8
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
unset DISPLAY WAYLAND_DISPLAY

# The server of a prefix works in a directory named after the prefix's device and inode.
server_running() {
  local id pid
  id="$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))"
  for pid in $(pgrep '^wineserver(32|64)?$' || true); do
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
  if ! "$loader" wineboot --init </dev/null >"$WINEPREFIX.boot.log" 2>&1 9>&-; then
    cat "$WINEPREFIX.boot.log" >&2
    exit 1
  fi
  touch "$WINEPREFIX/.hedgerow-ready"
elif ((started)); then
  "$loader" cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
fi
flock -u 9
exec 9>&-

exec "$loader" "$@"
