#!/usr/bin/env bash
# fuzz.sh -- builds the libFuzzer targets (the `fuzz` preset, clang) and runs each one for a
# while on its seed corpus. Fails when a target finds a crash, a sanitizer report or a
# broken invariant; the input is kept under build/fuzz/findings/.
#
#   tools/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]     (default: 20 seconds, every target)
#
# The working corpus of each target grows in build/fuzz/corpus/<target>/ and is kept between
# runs; the seeds in fuzz/corpus/<target>/ are read, never written.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
shift || true

if ! command -v clang++ >/dev/null || ! dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q "ok installed"; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev >/dev/null
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 >/dev/null

targets=("$@")
if ((${#targets[@]} == 0)); then
  for source in fuzz/*_fuzz.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi

mkdir -p build/fuzz/findings
status=0
for target in "${targets[@]}"; do
  corpus=build/fuzz/corpus/$target
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/corpus/$target" ] && seeds=("fuzz/corpus/$target")
  log=build/fuzz/findings/$target.log
  if ./build/fuzz/fuzz/"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix=build/fuzz/findings/"$target"- "$corpus" "${seeds[@]}" >"$log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || echo '?')
    printf '%-24s %10s executions, coverage %s edges\n' "$target" "$runs" "$cov"
  else
    printf '%-24s FAILED, see %s\n' "$target" "$log"
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -5 || true
    status=1
  fi
done
exit $status
