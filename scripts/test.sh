#!/usr/bin/env bash
# Installs what is missing, builds and runs every test twice: a normal build,
# then an address/undefined-behaviour sanitizer build; then the tests of the
# folders whose code runs on several threads once more under ThreadSanitizer.
# Exits non-zero on any failure.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash scripts/deps.sh

jobs="$(nproc)"
export CTEST_OUTPUT_ON_FAILURE=1
# Paths relative to the checkout, so a fresh clone elsewhere still hits the compiler cache.
export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=1

passed=0; failed=0; skipped=0
run_suite() {
  local dir="$1"; shift
  cmake -S . -B "$dir" -G Ninja "$@"
  # build_target (when set) limits the build to what that target needs.
  cmake --build "$dir" -j "$jobs" ${build_target:+--target "$build_target"}
  local log="$dir/ctest-output.log"
  ctest --test-dir "$dir" -j "$jobs" --timeout 900 | tee "$log"
  local total nfail nskip
  total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  nfail=$(sed -n 's/.* \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -n 1)
  nskip=$(grep -c '(Skipped)$' "$log" || true)
  passed=$((passed + ${total:-0} - ${nfail:-0} - nskip))
  failed=$((failed + ${nfail:-0}))
  skipped=$((skipped + nskip))
}

echo "== build and test =="
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== sanitizer build and test =="
# Benchmarks are not rebuilt under the sanitizers: they are never run there.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DKOVRA_SANITIZE=ON -DKOVRA_BENCH=OFF

echo "== thread sanitizer build and test =="
# Target tsan_tests builds the library and only the test programs of the
# network, search and routing folders (each as it exists).
build_target=tsan_tests TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp" \
  run_suite build-tsan -DCMAKE_BUILD_TYPE=Debug -DKOVRA_TSAN=ON -DKOVRA_BENCH=OFF

# The desktop program's pictures (tab by tab and the about window), taken
# offscreen by the normal build's tests.
if [ -d build/screenshots ]; then echo "screenshots: $root/build/screenshots/"; fi

# One closing line over the three runs.
echo "tests: $passed passed, $failed failed, $skipped skipped"
