#!/usr/bin/env bash
# install-windows-deps.sh -- installs what the Windows leg needs on a Debian 12 machine:
# the i686 MinGW-w64 cross toolchain, 32-bit Wine (with the i386 architecture) and the
# GoogleTest sources that the cross build compiles. Skips what is already there, so a
# second run costs a few dpkg queries. Needs root (or sudo).
set -euo pipefail

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

packages=(g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 googletest cmake ninja-build procps)

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done

if ((need_i386)) || ((${#missing[@]})); then
  if ((need_i386)); then
    echo "install-windows-deps: adding the i386 architecture"
    $sudo dpkg --add-architecture i386
  fi
  echo "install-windows-deps: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

