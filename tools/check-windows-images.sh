#!/usr/bin/env bash
# check-windows-images.sh -- prints the export table and the imports of a Windows build
# (32- or 64-bit) and fails when Hedgerow.dll exports anything but the names of
# src/exports.txt (or one of them decorated or missing), when it or a test program
# imports a DLL that is not part of Windows, or when the self-extractor program imports
# anything but KERNEL32 and msvcrt.dll.
# Usage: tools/check-windows-images.sh [build dir, default build/windows]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/windows}"
dll="$build/src/Hedgerow.dll"
status=0
if [ ! -f "$dll" ]; then
  echo "FAIL: $dll is missing (build the Windows preset first)"
  exit 1
fi
# The toolchain's objdump for the machine of the PE header (0x8664: x86-64, else i386).
pe_offset="$(od -An -tu4 -j60 -N4 "$dll" | tr -d ' ')"
if [ "$(od -An -tx2 -j$((pe_offset + 4)) -N2 "$dll" | tr -d ' ')" = 8664 ]; then
  objdump=x86_64-w64-mingw32-objdump
else
  objdump=i686-w64-mingw32-objdump
fi

dump="$("$objdump" -p "$dll")"
echo "-- $dll: $(sed -n 's/.*file format //p' <<<"$dump" | head -1), $(grep -m1 '^Magic' <<<"$dump" | tr -s ' \t' ' ')"
echo "-- export table ($objdump -p)"
awk '/^The Export Tables/ { on = 1 } on { print } /^\[Ordinal\/Name Pointer\] Table/ { names = 1 } names && /^$/ { exit }' <<<"$dump"

exported="$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort)"
listed="$(grep -E '^[A-Za-z_]' src/exports.txt | sort)"
if [ "$exported" != "$listed" ]; then
  echo "FAIL: the export table differs from src/exports.txt:"
  diff <(echo "$listed") <(echo "$exported") || true
  status=1
fi

echo "-- import list of Hedgerow.dll"
awk '/^The Import Tables/ { on = 1 } /^The Export Tables/ { on = 0 }
     on && /DLL Name:/ { if (line) print line; line = "  " $3 ":" }
     on && /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ { line = line " " $3 }
     END { if (line) print line }' <<<"$dump" | fold -s -w 110

# What a Windows installation brings (the C runtime is msvcrt.dll), and for the programs
# that link through the import library, Hedgerow.dll itself. Hedgerow.dll and the
# programs built on the library ship with exactly two more: libgcrypt and libgpg-error
# (strong archives). The self-extractor module and its program must run on a machine
# without anything of ours; the program imports KERNEL32 and msvcrt.dll alone.
system_dlls='^(kernel32|user32|msvcrt|advapi32|gdi32|shell32|ole32|oleaut32|ws2_32|ntdll|bcrypt)\.dll$'
shipped_dlls='^(libgcrypt-20|libgpg-error-0)\.dll$'
for image in "$dll" "$build"/src/HEDGE32.ZZL "$build"/sfx/*.exe "$build"/src/*.exe "$build"/tests/*.exe; do
  [ -f "$image" ] || continue
  imports="$("$objdump" -p "$image" | sed -n 's/^[[:space:]]*DLL Name: //p')"
  echo "-- imports of ${image#"$build"/}: $(echo $imports)"
  while read -r name; do
    [[ "$image" == */hedgerow_dll_link.exe && "$name" == Hedgerow.dll ]] && continue
    [[ "$image" == */hedgerow_sfx_host.exe && "$name" == Hedgerow.dll ]] && continue
    # The command: the kernel, the C run-time, SHELL32 (CommandLineToArgvW) and the DLL
    # it is shipped with; its C++ run-time is inside it.
    if [[ "$image" == */src/hedgerow.exe ]]; then
      if ! grep -qiE '^(kernel32|msvcrt|shell32|Hedgerow)\.dll$' <<<"$name"; then
        echo "FAIL: src/hedgerow.exe imports $name; the command may import KERNEL32, msvcrt.dll, SHELL32 and Hedgerow.dll only"
        status=1
      fi
      continue
    fi
    # The extractor program in front of every self-extracting .exe: the kernel and the C
    # run-time that every Windows has, nothing else.
    if [[ "$image" == */sfx/*.exe ]] && ! grep -qiE '^(kernel32|msvcrt)\.dll$' <<<"$name"; then
      echo "FAIL: ${image#"$build"/} imports $name; the self-extractor program may import KERNEL32 and msvcrt.dll only"
      status=1
    fi
    if [[ "$image" != */HEDGE32.ZZL && "$image" != */sfx/*.exe ]] && grep -qiE "$shipped_dlls" <<<"$name"; then
      continue
    fi
    if ! grep -qiE "$system_dlls" <<<"$name"; then
      echo "FAIL: ${image#"$build"/} imports $name, which is not a Windows system DLL"
      status=1
    fi
  done <<<"$imports"
done
exit $status
