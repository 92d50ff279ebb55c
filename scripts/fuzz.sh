#!/usr/bin/env bash
# Builds every fuzz target with clang and libFuzzer and runs each for the given
# number of seconds (default 60), starting from its committed corpus. New inputs
# go to build-fuzz/corpus/<name>; crashes to build-fuzz/findings/<name>.
#
#   scripts/fuzz.sh [seconds] [name[,name...]]
#
# KOVRA_FUZZ_JOBS=n runs n targets at a time (default 1); each run uses one core.
# KOVRA_BUILD_JOBS=n builds with n jobs (default 4).
# KOVRA_FUZZ_TIMEOUT=s counts one input slower than s seconds as a finding
# (default 30: a loaded machine made 10 s report inputs that run in 0.3 s).
# The targets write their files under TMPDIR; unless it is set, a memory file
# system (/dev/shm) is used when there is one, since writing and truncating
# files on a disk would take most of each run.
# Each target's line gives its executions in all, per second of wall time,
# and per second of the CPU time the run had (user and system): on a shared
# machine the second is what one core of its own would give.
# Not part of scripts/test.sh: CI replays the committed corpora instead.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
seconds="${1:-60}"
only="${2:-}"
jobs="${KOVRA_FUZZ_JOBS:-1}"
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
bash scripts/deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOVRA_FUZZ=ON >/dev/null
cmake --build build-fuzz -j "${KOVRA_BUILD_JOBS:-4}"

names=()
for src in tests/fuzz/fuzz_*.cpp; do
  short="$(basename "$src" .cpp)"; short="${short#fuzz_}"
  if [ -n "$only" ] && [[ ",$only," != *",$short,"* ]]; then continue; fi
  names+=("$short")
done
if [ "${#names[@]}" -eq 0 ]; then echo "no fuzz target named $only" >&2; exit 2; fi

# One target: its own corpus and findings folders and log; the exit status
# says whether it found something.
run_one() {
  local short="$1"
  local work="build-fuzz/corpus/$short" findings="build-fuzz/findings/$short"
  mkdir -p "$work" "$findings"
  local TIMEFORMAT='%U %S' rc=0
  { time "build-fuzz/tests/fuzz/fuzz_$short" -max_total_time="$seconds" -timeout="${KOVRA_FUZZ_TIMEOUT:-30}" \
      -rss_limit_mb=2048 -malloc_limit_mb=512 -print_final_stats=1 -artifact_prefix="$findings/" "$work" \
      "tests/fuzz/corpus/$short" >"build-fuzz/$short.log" 2>&1 || rc=$?; } 2>"build-fuzz/$short.cpu"
  return "$rc"
}

report() {
  local short="$1" rc="$2"
  echo "== $short: ${seconds}s"
  if [ "$rc" -ne 0 ]; then echo "   finding: see build-fuzz/$short.log and build-fuzz/findings/$short/"; fi
  local log="build-fuzz/$short.log" runs persec rss percpu
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
  persec="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")"
  rss="$(sed -n 's/^stat::peak_rss_mb: *//p' "$log")"
  percpu="$(awk -v n="${runs:-0}" '{ t = $1 + $2; if (t > 0) printf "%.0f", n / t; else print "?" }' "build-fuzz/$short.cpu")"
  echo "   executions ${runs:-?}, per second ${persec:-?}, per CPU second ${percpu:-?}, peak RSS ${rss:-?} MB"
}

status=0
pending=("${names[@]}")
declare -A pids=()
while [ "${#pending[@]}" -gt 0 ] || [ "${#pids[@]}" -gt 0 ]; do
  while [ "${#pending[@]}" -gt 0 ] && [ "${#pids[@]}" -lt "$jobs" ]; do
    short="${pending[0]}"; pending=("${pending[@]:1}")
    run_one "$short" &
    pids[$short]=$!
  done
  # Collect whichever run ends first.
  rc=0; done_pid=""
  wait -n -p done_pid || rc=$?
  for short in "${!pids[@]}"; do
    if [ "${pids[$short]}" = "$done_pid" ]; then
      report "$short" "$rc"
      [ "$rc" -eq 0 ] || status=1
      unset "pids[$short]"
    fi
  done
done
exit $status
