#!/usr/bin/env bash
# make-corpus.sh -- assembles the codec benchmark's corpus from real files of a Debian 12
# machine with the project's build dependencies installed: manual pages, documents and
# licence texts, C and C++ headers, programs and shared libraries, taken from a fixed list
# of packages in sorted path order up to a fixed budget per kind (about 110 MB in all).
# Compressed manual pages and documents are expanded first, so the corpus holds text.
#
#   bench/make-corpus.sh [DIR]      (default: build/corpus)
#
# The files are copied flat into DIR (path separators become '__') and listed with their
# sizes and SHA-256 in DIR.manifest, so that two machines can check that they measure the
# same corpus.
set -euo pipefail

out=${1:-build/corpus}
packages=(
  base-files bash coreutils dpkg findutils grep gzip sed tar util-linux apt make
  manpages manpages-dev libc6:amd64 libc6-dev linux-libc-dev libstdc++-12-dev libstdc++6:amd64
  cpp-12 gcc-12 g++-12 binutils-x86-64-linux-gnu libbinutils perl-base cmake cmake-data
)
# Budget per kind, bytes.
declare -A budget=([text]=35000000 [headers]=30000000 [binaries]=45000000)
declare -A used=([text]=0 [headers]=0 [binaries]=0)

kind_of() {
  case "$1" in
    /usr/include/*) echo headers ;;
    /usr/share/man/*|/usr/share/doc/*|/usr/share/info/*|/usr/share/common-licenses/*) echo text ;;
    /usr/bin/*|/usr/sbin/*|/bin/*|/sbin/*|/usr/lib/*|/lib/*|/usr/libexec/*)
      # Programs and libraries only: ELF files.
      if [ "$(head -c 4 "$1" | od -An -tx1 | tr -d ' ')" = 7f454c46 ]; then echo binaries; fi ;;
  esac
}

rm -rf "$out"
mkdir -p "$out"
list=$(mktemp)
trap 'rm -f "$list"' EXIT
for p in "${packages[@]}"; do
  if ! dpkg-query -W "$p" >/dev/null 2>&1; then
    echo "make-corpus: package $p is not installed; the corpus will differ" >&2
    continue
  fi
  dpkg -L "$p"
done | LC_ALL=C sort -u > "$list"

while IFS= read -r f; do
  [ -f "$f" ] && [ ! -L "$f" ] || continue
  kind=$(kind_of "$f")
  [ -n "$kind" ] || continue
  name=$(printf '%s' "${f#/}" | sed 's|/|__|g')
  if [[ "$f" == *.gz && "$kind" == text ]]; then
    name=${name%.gz}
    gzip -dc "$f" > "$out/$name" 2>/dev/null || { rm -f "$out/$name"; continue; }
  else
    cp "$f" "$out/$name"
  fi
  size=$(stat -c %s "$out/$name")
  if (( used[$kind] + size > budget[$kind] )); then
    rm -f "$out/$name"
    continue
  fi
  used[$kind]=$(( used[$kind] + size ))
done < "$list"

(cd "$out" && LC_ALL=C ls | while IFS= read -r n; do
  printf '%s %s %s\n' "$(sha256sum "$n" | cut -c1-64)" "$(stat -c %s "$n")" "$n"
done) > "$out.manifest"
total=$(( used[text] + used[headers] + used[binaries] ))
echo "make-corpus: $(ls "$out" | wc -l) files, $total bytes" \
     "(text ${used[text]}, headers ${used[headers]}, binaries ${used[binaries]}) in $out"
