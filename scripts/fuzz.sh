#!/usr/bin/env bash
# Builds every fuzz target with clang and libFuzzer and runs each for the given
# number of seconds (default 60), starting from its committed corpus. New inputs
# go to build-fuzz/corpus/<name>; crashes to build-fuzz/findings/<name>.
# Not part of scripts/test.sh: CI replays the committed corpora instead.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
seconds="${1:-60}"
only="${2:-}"
bash scripts/deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOVRA_FUZZ=ON >/dev/null
cmake --build build-fuzz -j "$(nproc)"
status=0
for src in tests/fuzz/fuzz_*.cpp; do
  name="$(basename "$src" .cpp)"
  short="${name#fuzz_}"
  if [ -n "$only" ] && [ "$short" != "$only" ]; then continue; fi
  work="build-fuzz/corpus/$short"; findings="build-fuzz/findings/$short"
  mkdir -p "$work" "$findings"
  echo "== $short: ${seconds}s"
  if ! "build-fuzz/tests/fuzz/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$findings/" "$work" "tests/fuzz/corpus/$short" \
      2>"build-fuzz/$short.log"; then
    echo "   finding: see build-fuzz/$short.log and $findings/"; status=1
  fi
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "build-fuzz/$short.log" | sed 's/^/   /' || true
done
exit $status
