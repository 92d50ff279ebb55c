#!/usr/bin/env bash
# Instruction counts of the two headline routing figures, which stay stable
# on a shared machine where times do not: a full tree (IsoCost, node and turn
# mode) and point-to-point Route with Alpha 1, on the 100k network (10k with
# --small), under valgrind's callgrind. Run by hand, never by the tests.
#
#   scripts/callgrind.sh [--small]
#
# Prints per operation the instructions of one call (Ir of every call of
# the measured function, divided by its calls: the benchmark's own check and
# warm-up calls are the same queries) and keeps the callgrind files in
# build/bench-output/callgrind/ for callgrind_annotate.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
nodes=100000
case "${1:-}" in
  --small) nodes=10000 ;;
  '') ;;
  *) sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
esac
command -v valgrind >/dev/null || { echo "callgrind.sh: valgrind is missing; run scripts/deps.sh" >&2; exit 1; }
build="$root/build" out="$root/build/bench-output/callgrind"
mkdir -p "$out"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "${KOVRA_BUILD_JOBS:-4}" --target bench_routing >/dev/null
# The networks are made (or checked) outside valgrind.
"$build/bench/bench_routing" --benchmark_filter="BM_BglFull/nodes:$nodes/turn:0" >"$out/prepare.log" 2>&1 ||
  { echo "callgrind.sh: bench_routing failed, see $out/prepare.log" >&2; exit 1; }

# name, benchmark, function whose calls are counted
run() {
  local name="$1" bench="$2" fn="$3"
  local file="$out/$name.callgrind"
  valgrind --tool=callgrind --callgrind-out-file="$file" --dump-instr=no --collect-atstart=no \
    --toggle-collect="$fn" "$build/bench/bench_routing" --benchmark_filter="^$bench\$" \
    --benchmark_min_time=0.000001 >/dev/null 2>"$out/$name.log" ||
    { echo "callgrind.sh: $name failed, see $out/$name.log" >&2; exit 1; }
  python3 - "$file" "$fn" "$name" <<'PY'
import fnmatch, re, sys
path, fn, name = sys.argv[1:]
total = calls = 0
summary = None
lines = open(path).read().splitlines()
names = {}
def resolve(v):
    m = re.match(r"\((\d+)\)(?: (.*))?", v)
    if not m:
        return v
    if m.group(2):
        names[m.group(1)] = m.group(2)
    return names.get(m.group(1), v)
cur_cfn = None
for i, line in enumerate(lines):
    if line.startswith("summary:"):
        summary = int(line.split()[1])
    elif line.startswith(("fn=", "cfn=")):
        key, _, v = line.partition("=")
        v = resolve(v)
        if key == "cfn":
            cur_cfn = v
    elif line.startswith("calls=") and fnmatch.fnmatchcase(cur_cfn or '', fn):
        calls += int(line[6:].split()[0])
if not summary or not calls:
    sys.exit("callgrind.sh: no calls of %s recorded in %s" % (fn, path))
print("%-28s %14d instructions per call (%d calls, %d in all)" % (name, summary // calls, calls, summary))
PY
}
run tree_node "BM_IsoCostFull/nodes:$nodes/turn:0" "kovra::TCalc::IsoCost(int)"
run tree_turn "BM_IsoCostFull/nodes:$nodes/turn:1" "kovra::TCalc::IsoCost(int)"
run route_alpha1_node "BM_Route/nodes:$nodes/deg:0/turn:0/alpha:1/smart:0/band:0" "kovra::TRouteCalc::Route(int, int)"
run route_alpha1_turn "BM_Route/nodes:$nodes/deg:0/turn:1/alpha:1/smart:0/band:0" "kovra::TRouteCalc::Route(int, int)"
# The baselines' counts, for the ratio.
run bgl_tree_node "BM_BglFull/nodes:$nodes/turn:0" "*RunBgl*"
run bgl_tree_turn "BM_BglFull/nodes:$nodes/turn:1" "*RunBgl*"
