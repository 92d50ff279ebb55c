#!/usr/bin/env bash
# A suite of network benchmarks; run through scripts/bench.sh SUITE [--1m] [FILTER]
# with SUITE routing (bench_routing) or search (bench_search).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
suite="${1:-}"
shift || true
# Per suite: the program, the argument that names the network size, and its
# values for the 10k and 100k networks and for the 1M one.
case "$suite" in
  routing) program=bench_routing size_arg=nodes small='10000|100000' large='1000000' ;;
  search) program=bench_search size_arg=size small='0|1' large='2' ;;
  *) echo "bench.sh: the suite is routing or search, not '$suite'" >&2; exit 2 ;;
esac
sizes="$small" filter=''
while [ "$#" -gt 0 ]; do
  case "$1" in
    --1m) sizes="$large"; shift ;;
    -*) echo "bench.sh $suite: unknown option $1" >&2; exit 2 ;;
    *) filter="$1"; shift ;;
  esac
done
build="$root/build" out="$root/build/bench-output/$suite"
mkdir -p "$out"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "${KOVRA_BUILD_JOBS:-4}" --target "$program" >/dev/null
pin=()
if command -v taskset >/dev/null; then
  # The last core the process may use.
  core="$(taskset -cp $$ | sed 's/.*: //' | tr ',' '\n' | tail -1 | sed 's/.*-//')"
  pin=(taskset -c "$core")
fi
json="$out/$program.json"
regex="$size_arg:($sizes)(/|$)"
[ -n "$filter" ] && regex="$regex.*$filter|$filter.*$regex"
{
  echo "commit $(git rev-parse --short HEAD)$(git diff --quiet HEAD -- . 2>/dev/null || echo '+changes')"
  echo "machine $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1), load $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "pinned ${pin[*]:-no}"
} | tee "$out/machine.txt"
status=0
"${pin[@]}" "$build/bench/$program" --benchmark_filter="$regex" --benchmark_repetitions="${KOVRA_BENCH_REPS:-5}" \
  --benchmark_min_time="${KOVRA_BENCH_MIN_TIME:-0.2}" \
  --benchmark_report_aggregates_only=false --benchmark_display_aggregates_only=true \
  --benchmark_out="$json" --benchmark_out_format=json || status=$?
echo "load after $(cut -d' ' -f1-3 /proc/loadavg)" | tee -a "$out/machine.txt"
python3 - "$json" <<'PY' | tee "$out/summary.txt"
import collections, json, sys
data = json.load(open(sys.argv[1]))
runs = collections.OrderedDict()
failed = []
for b in data["benchmarks"]:
    if b.get("error_occurred"):
        failed.append("%s: %s" % (b["name"], b.get("error_message", "")))
        continue
    if b.get("run_type") != "iteration":
        continue
    runs.setdefault(b["run_name"], []).append(b)
def med(v):
    v = sorted(v)
    return v[len(v) // 2]
# The counters of both suites; a benchmark shows those it has.
keys = ("real_time", "qps", "items_per_second", "p50_us", "p95_us", "settled", "pushed", "ns_per_settled", "ratio",
        "calc_with_astar_bytes_per_item", "bgl_bytes_per_item", "per query", "ties")
for name, reps in runs.items():
    cells = []
    for k in keys:
        vals = [r[k] for r in reps if k in r]
        if not vals:
            continue
        unit = reps[0].get("time_unit", "") if k == "real_time" else ""
        cells.append("%s %.4g%s (%.4g..%.4g)" % (k, med(vals), unit, min(vals), max(vals)))
    print("%s  %s" % (name, "  ".join(cells)))
for f in failed:
    print("FAILED " + f)
sys.exit(1 if failed else 0)
PY
exit "$status"
