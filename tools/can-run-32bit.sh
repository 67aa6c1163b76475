#!/usr/bin/env bash
# can-run-32bit.sh -- tells whether this machine's kernel runs 32-bit x86 programs, which
# the 32-bit Windows leg needs (Wine's 32-bit loader is such a program). Exits 0 when it
# does; otherwise prints the reason on standard output and exits 1. The check runs that
# loader, so install the Windows dependencies first.
#   HEDGEROW_ASSUME_NO_32BIT=1  answer "cannot" without asking the kernel (to try the
#                               path CI takes on machines without 32-bit support)
set -uo pipefail

loader=/usr/lib/wine/wine
if [ "${HEDGEROW_ASSUME_NO_32BIT:-0}" = 1 ]; then
  echo "HEDGEROW_ASSUME_NO_32BIT=1 says this machine cannot run 32-bit programs"
  exit 1
fi
if [ ! -x "$loader" ]; then
  echo "$loader (32-bit Wine) is not installed"
  exit 1
fi
if output="$("$loader" --version 2>&1)" && [[ "$output" == wine-* ]]; then
  exit 0
fi
# (bash's own report of a failed exec starts with the script's name and line)
reason="$(head -1 <<<"${output:-no output}" | sed 's/^.*: line [0-9]*: [^:]*: //')"
echo "the kernel cannot run the 32-bit program $loader ($reason)"
exit 1
