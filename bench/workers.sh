#!/usr/bin/env bash
# workers.sh -- whole-process times of the command with one and two workers on a tree of
# many files, and of zip -6 -r on the same tree: creating a legacy archive at level 5 and
# extracting it. Each step runs REPEATS times (default 3); the best time of each counts.
# Prints the times and the ratios the worker goals are stated in.
#
#   bench/workers.sh HEDGEROW TREE [REPEATS]
#   e.g. bench/workers.sh build/default/cli/hedgerow build/corpus 3
#
# The tree is read from the page cache: one pass over it before the timings. Take the
# figures on an otherwise idle machine.
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 HEDGEROW TREE [REPEATS]" >&2
  exit 2
fi
command="$(realpath "$1")"
tree="$(realpath "$2")"
repeats="${3:-3}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export HEDGEROW_PASSWORD="workers bench"

# Seconds of wall time of one run of the command line given.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null 2>&1
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}

# The smallest of REPEATS timings; the command line is run in $work after cleaning up.
best() {
  local cleanup="$1"
  shift
  local best_time="" t
  for _ in $(seq "$repeats"); do
    (cd "$work" && eval "$cleanup")
    t=$(cd "$work" && seconds "$@")
    if [ -z "$best_time" ] || awk -v t="$t" -v b="$best_time" 'BEGIN { exit !(t < b) }'; then best_time=$t; fi
  done
  printf '%.3f' "$best_time"
}

find "$tree" -type f -exec cat {} + > /dev/null

parent="$(dirname "$tree")"
name="$(basename "$tree")"
create1=$(best "rm -f a1.hdg" "$command" a -q -c idea -5 -T 1 -C "$parent" a1.hdg "$name")
create2=$(best "rm -f a2.hdg" "$command" a -q -c idea -5 -T 2 -C "$parent" a2.hdg "$name")
zip6=$(best "rm -f z.zip" sh -c "cd '$parent' && zip -6 -r -q '$work/z.zip' '$name'")
extract1=$(best "rm -rf o1" "$command" x -q -y -T 1 a2.hdg -o o1)
extract2=$(best "rm -rf o2" "$command" x -q -y -T 2 a2.hdg -o o2)
cmp -s "$work/a1.hdg" "$work/a2.hdg" && same="no" || same="yes (the chaining values differ)"

files=$(find "$tree" -type f | wc -l)
bytes=$(du -sb "$tree" | cut -f1)
echo "tree: $tree ($files files, $bytes bytes); best of $repeats; wall seconds"
printf '%-40s %8s\n' "create, level 5, 1 worker" "$create1" \
  "create, level 5, 2 workers" "$create2" \
  "zip -6 -r" "$zip6" \
  "extract, 1 worker" "$extract1" \
  "extract, 2 workers" "$extract2"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
printf '%-40s %8s  (goal <= 0.55)\n' "create: 2 workers / 1 worker" "$(ratio "$create2" "$create1")"
printf '%-40s %8s  (goal <= 0.6)\n' "extract: 2 workers / 1 worker" "$(ratio "$extract2" "$extract1")"
printf '%-40s %8s  (goal <= 1)\n' "create with 2 workers / zip -6 -r" "$(ratio "$create2" "$zip6")"
echo "archives of 1 and 2 workers differ: $same"
