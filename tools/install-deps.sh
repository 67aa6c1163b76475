#!/usr/bin/env bash
# install-deps.sh -- installs what the build and the tests need on a fresh Debian 12
# machine, skipping what is already there. Safe to run again. Needs root (or sudo).
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config ccache
  libgtest-dev libgmock-dev libbenchmark-dev
  libgcrypt20-dev                    # Argon2id, ChaCha20-Poly1305, HMAC-SHA-256 of strong archives
  libssl-dev zlib1g-dev libbotan-2-dev libsodium-dev liblzma-dev  # peers of the cross-checks
  libcli11-dev nlohmann-json3-dev
  imagemagick sox                    # make and read back the carriers of the hiding tests
  musl-tools                         # the C library the self-extractor program is linked with, statically
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "install-deps: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
