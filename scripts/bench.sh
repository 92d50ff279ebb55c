#!/usr/bin/env bash
# The import benchmark of one tier, run by hand (never by the tests):
#  1. makes the tier's input with scripts/make-network-input (fixed seed) as a
#     shapefile, MIF and TAB under build/bench-input/<links>/, once;
#  2. checks it: the object count of each file (ogrinfo -so) is the tier's;
#  3. imports each format with examples/kovra-import, with and without the
#     spatial index, keeping the smallest wall time of RUNS runs and the peak
#     memory, and checks each result: links and nodes of the report, the
#     degree histogram of node.bin against the python3 oracle's (and
#     SpatiaLite's), and that kovra-open opens it with the spatial index;
#  4. runs scripts/bench-baselines (ogr2ogr copy, SpatiaLite, oracle);
#  5. runs bench_import's end-to-end benchmark for the stage split;
#  6. prints the figures for bench/README.md and keeps them in
#     build/bench-output/<links>/summary.md.
#
#   scripts/bench.sh [--runs N] [--no-baselines] [--no-stages] [TIER]
#   scripts/bench.sh routing [--1m] [FILTER]
#   scripts/bench.sh search [--1m] [FILTER]
#
# TIER is 1m (1,000,000 links, the default; about 3 GB of disk and 10 to 20
# minutes), 10m (10,000,000 links: about 30 GB, an hour or more; by hand only),
# or a link count (small counts make a quick trial of the script). RUNS
# defaults to 3.
#
# The routing suite (bench_routing, bench/routing/): every benchmark on the
# 10k and 100k networks (--1m: the 1M tier alone), five repetitions, pinned
# to one core with taskset when it exists; prints the medians with their
# spread (min..max of the repetitions) and keeps the JSON in
# build/bench-output/routing/. FILTER narrows the benchmarks (a regular
# expression). The generated networks stay in build/bench-networks/. Any
# benchmark that stops (a baseline that disagrees) makes the script fail.
# The search suite (bench_search) runs the same way on its 10k and 100k
# networks (--1m: the 1M tier alone) into build/bench-output/search/.
# KOVRA_BENCH_REPS and KOVRA_BENCH_MIN_TIME (seconds) change the repetitions
# and the shortest run of each.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
if [ "${1:-}" = routing ] || [ "${1:-}" = search ]; then
  exec "$root/scripts/bench_suite.sh" "$@"
fi
runs=3 baselines=1 stages=1 tier=1m
while [ "$#" -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --no-baselines) baselines=0; shift ;;
    --no-stages) stages=0; shift ;;
    -*) sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
    *) tier="$1"; shift ;;
  esac
done
case "$tier" in
  1m) links=1000000 ;;
  10m) links=10000000 ;;
  ''|*[!0-9]*) echo "bench.sh: the tier is 1m, 10m or a link count, not $tier" >&2; exit 2 ;;
  *) links="$tier" ;;
esac
for tool in python3 ogr2ogr ogrinfo cmake ninja; do
  command -v "$tool" >/dev/null || { echo "bench.sh: $tool is missing; run scripts/deps.sh" >&2; exit 1; }
done

build="$root/build"
in="$build/bench-input/$links" out="$build/bench-output/$links"
mkdir -p "$in" "$out"
# Inputs, networks, copies and the database take about 3.2 kB per link.
need=$((links * 3200 / 1000000)) avail=$(($(df -P -k "$build" | awk 'NR == 2 { print $4 }') / 1000))
if [ "$avail" -lt "$need" ]; then
  echo "bench.sh: the tier needs about $need MB of disk under $build, $avail MB are free" >&2
  exit 1
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "${KOVRA_BUILD_JOBS:-4}" --target kovra-import kovra-open bench_import >/dev/null
import="$build/examples/kovra-import" open="$build/examples/kovra-open"
timed() { python3 "$root/scripts/bench_timed.py" "$@"; }

# 1. The input: one GeoJSON text sequence, converted as the generator does.
declare -A ogr_args=([shp]="" [mif]="-f 'MapInfo File' -dsco FORMAT=MIF" [tab]="-f 'MapInfo File'")
for kind in shp mif tab; do
  [ -f "$in/roads.$kind" ] && continue
  if [ ! -f "$in/roads.geojsons" ]; then
    echo "bench.sh: making $links links"
    python3 scripts/make-network-input "$links" "$in/roads.part.geojsons"
    mv "$in/roads.part.geojsons" "$in/roads.geojsons"
  fi
  eval "ogr2ogr -overwrite -a_srs EPSG:27700 -nlt LINESTRING ${ogr_args[$kind]} '$in/roads.$kind.part.$kind' '$in/roads.geojsons'"
  for f in "$in"/roads."$kind".part.*; do mv "$f" "$in/roads.${f##*.part.}"; done
done
rm -f "$in/roads.geojsons"

# 2. Object counts.
for kind in shp mif tab; do
  count="$(ogrinfo -ro -so -al "$in/roads.$kind" | sed -n 's/^Feature Count: //p')"
  if [ "$count" != "$links" ]; then echo "bench.sh: roads.$kind has $count objects, not $links" >&2; exit 1; fi
done

results="$out/results.txt"
: >"$results"
note() { echo "$*" | tee -a "$results"; }
note "links $links"
note "commit $(git rev-parse --short HEAD)$(git diff --quiet HEAD -- . ':!build' 2>/dev/null || echo '+changes')"
note "machine $(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GB", $2 / 1e6 }' /proc/meminfo), load $(cut -d' ' -f1-3 /proc/loadavg)"
note "tools $(g++ --version | head -1), $(ogr2ogr --version), Python $(python3 -c 'import platform; print(platform.python_version())')"
sizes() { local s=0 f; for f in "$@"; do [ -f "$f" ] && s=$((s + $(stat -c %s "$f"))); done; echo "$s"; }
# All files of an input, and those the import reads without z-levels.
note "input_shp bytes $(sizes "$in"/roads.{shp,shx,dbf,prj}) read $(sizes "$in"/roads.{shp,shx})"
note "input_mif bytes $(sizes "$in"/roads.{mif,mid}) read $(sizes "$in"/roads.mif)"
note "input_tab bytes $(sizes "$in"/roads.{tab,map,id,dat}) read $(sizes "$in"/roads.{map,id})"

# 4 (first, for the oracle's figures). The baselines, else the oracle alone.
if [ "$baselines" = 1 ]; then
  scripts/bench-baselines --runs "$runs" "$in" "$out/baselines" | tee -a "$results"
else
  python3 tests/scripts/shp_nodes_oracle.py --histogram "$in/roads.shp" |
    sed -n 's/^nodes /nodes_oracle /p; s/^degree /degree_oracle /p' | tee -a "$results"
fi
oracle_nodes="$(sed -n 's/^nodes_oracle //p' "$results")"
oracle_degrees="$(sed -n 's/^degree_oracle //p' "$results")"

# 3. The imports and their checks.
histogram() {
  python3 -c '
import struct, sys
data = open(sys.argv[1], "rb").read()
d = struct.unpack_from("<i", data)[0]
# Entries 1..d: the last node id of degree d, d - 1, ..., 1.
last = dict(zip(range(d, 0, -1), struct.unpack_from("<%di" % d, data, 4)))
last[d + 1] = 0
for k in range(1, d + 1):
    print(k, last[k] - last[k + 1])' "$1"
}
for kind in shp mif tab; do
  net="$out/net-$kind"
  rm -rf "$net" "$net-noindex"
  took="$(timed "$runs" -- "$import" -o "$net" "$in/roads.$kind")"
  note "import_$kind $took"
  took="$(timed "$runs" -- "$import" --skip-index -o "$net-noindex" "$in/roads.$kind")"
  note "noindex_$kind $took"
  report="$net/network_report.txt"
  got_links="$(tr -d '\r' <"$report" | sed -n 's/^Links in database: *//p')"
  got_nodes="$(tr -d '\r' <"$report" | sed -n 's/^Nodes created: *//p')"
  opened="$("$open" "$net" | tr '\n' ' ')"
  echo "bench.sh: $kind: report links $got_links nodes $got_nodes; kovra-open: $opened"
  if [ "$got_links" != "$links" ] || [ "$got_nodes" != "$oracle_nodes" ]; then
    echo "bench.sh: the $kind import made $got_links links and $got_nodes nodes; the oracle $links and $oracle_nodes" >&2
    exit 1
  fi
  if [ "$(histogram "$net/node.bin")" != "$oracle_degrees" ]; then
    echo "bench.sh: the degree histogram of the $kind import differs from the oracle's:" >&2
    histogram "$net/node.bin" >&2
    exit 1
  fi
  if [[ "$opened" != "links $links nodes $oracle_nodes "* ]]; then
    echo "bench.sh: kovra-open gave: $opened" >&2
    exit 1
  fi
done

# 5. The stage split, from the benchmark (median of RUNS repetitions).
if [ "$stages" = 1 ]; then
  mkdir -p "$out/tmp"
  TMPDIR="$out/tmp" KOVRA_BENCH_SHP="$in/roads.shp" KOVRA_BENCH_MIF="$in/roads.mif" KOVRA_BENCH_TAB="$in/roads.tab" \
    "$build/bench/bench_import" --benchmark_filter='BM_ImportExecute' --benchmark_repetitions="$runs" \
    --benchmark_report_aggregates_only=true --benchmark_out="$out/bench_import.json" --benchmark_out_format=json
  rm -rf "$out/tmp"
fi

# 6. The figures.
python3 - "$results" "$out/bench_import.json" "$stages" >"$out/summary.md" <<'PY'
import json, sys
res = {}
for line in open(sys.argv[1]):
    key, _, rest = line.rstrip("\n").partition(" ")
    res[key] = rest
def fig(key, name):
    words = res.get(key, "").split()
    return float(words[words.index(name) + 1]) if name in words else None
def fmt(v, pattern="%.2f"):
    return "-" if v is None else pattern % v
print("Tier: %s links; commit %s" % (res["links"], res["commit"]))
print("Machine: %s; %s" % (res["machine"], res["tools"]))
print()
print("| input | MB | import s | without index s | ogr2ogr copy to SHP s | import / copy | peak RSS MB | without index MB |")
print("|---|---|---|---|---|---|---|---|")
for k in ("shp", "mif", "tab"):
    mb = fig("input_" + k, "bytes") / 1e6
    imp, copy = fig("import_" + k, "seconds"), fig("copy_" + k, "seconds")
    print("| %s | %.0f | %s | %s | %s | %s | %s | %s |" % (
        k.upper(), mb, fmt(imp), fmt(fig("noindex_" + k, "seconds")), fmt(copy),
        fmt(imp / copy if imp and copy else None), fmt(fig("import_" + k, "peak_mb"), "%.0f"),
        fmt(fig("noindex_" + k, "peak_mb"), "%.0f")))
print()
print("SpatiaLite: load %s s, CreateRoutingNodes %s s (peak %s MB); nodes: oracle %s, SpatiaLite %s" % (
    fmt(fig("spatialite_load", "seconds")), fmt(fig("spatialite_nodes", "seconds")),
    fmt(fig("spatialite_nodes", "peak_mb"), "%.0f"), res.get("nodes_oracle", "-"), res.get("nodes_spatialite", "-")))
if sys.argv[3] == "1":
    bench = json.load(open(sys.argv[2]))["benchmarks"]
    print()
    print("| input, index | read s (MB/s of the files read) | lengths + merge + coord.bin s | link.bin s | node.bin + settings + index cells s | index segments + file s | total s | peak MB | peak B/link |")
    print("|---|---|---|---|---|---|---|---|---|")
    # The median of the repetitions, or the one run.
    chosen = {}
    for b in bench:
        if b.get("aggregate_name", "median") == "median":
            chosen[b["run_name"]] = b
    for b in chosen.values():
        name = b["run_name"].split("/")  # BM_ImportExecute/shp/1
        k, with_index = name[1], name[2] == "1"
        mb = fig("input_" + k, "read") / 1e6
        print("| %s, %s | %.2f (%.0f) | %.2f | %.2f | %.2f | %.2f | %.2f | %.0f | %.0f |" % (
            k.upper(), "with" if with_index else "without", b["s_read"], mb / b["s_read"], b["s_merge"],
            b["s_linkfile"], b["s_nodefile"], b["s_index"], b["real_time"] / 1e3, b["peak_MB"], b["peak_B_per_link"]))
PY
echo
cat "$out/summary.md"
