#!/usr/bin/env bash
# install-windows-deps.sh -- installs what both Windows legs need on a Debian 12 machine:
# the i686 and x86-64 MinGW-w64 cross toolchains and libgcrypt built for them, 64-bit Wine
# and 32-bit Wine (with the i386 architecture; its programs run only where the kernel runs
# 32-bit programs) and the GoogleTest sources that the cross builds compile. Skips what is already there, so a
# second run costs a few dpkg queries. Needs root (or sudo).
set -euo pipefail

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

packages=(g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
          libgcrypt-mingw-w64-dev libgpg-error-mingw-w64-dev
          wine wine64 wine32:i386 googletest cmake ninja-build procps
          libcli11-dev nlohmann-json3-dev)  # header-only, for hedgerow.exe

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

