#!/usr/bin/env bash
# The sample import: an OSM road network of 20,227 features, split into
# routable links, written as shapefile, MIF and TAB by ogr2ogr, imported with
# examples/kovra-import, and checked against an independent count of links,
# loop links, nodes and the largest degree taken from the shapefile's bytes.
# Prints the wall time and peak memory of each import.
#
#   scripts/sample.sh            # work folder: sample/ (git-ignored)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/deps.sh --sample

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j4 --target kovra-import kovra-attributes kovra-open kovra-route
import="$root/build/examples/kovra-import"
attributes="$root/build/examples/kovra-attributes"
open="$root/build/examples/kovra-open"
route="$root/build/examples/kovra-route"
format_reader="$root/tests/examples/network_format.py"
oracle="$root/tests/scripts/shp_nodes_oracle.py"

work="$root/sample"
mkdir -p "$work"
cd "$work"
if [ ! -f large-network.json ]; then
  npm pack --silent geojson-path-finder@2.1.0 >/dev/null
  tar xzf geojson-path-finder-2.1.0.tgz package/test/large-network.json
  mv package/test/large-network.json .
  rm -rf package geojson-path-finder-2.1.0.tgz
fi

python3 "$root/scripts/sample_prep.py" large-network.json split.geojson unsplit.geojson
rm -rf shp mif tab unsplit net-shp net-mif net-tab
mkdir -p shp mif tab unsplit
fields="-select osm_id,link_id,highway,name,oneway,maxspeed,bridge,tunnel,layer"
ogr2ogr -q -f "ESRI Shapefile" -nlt LINESTRING -lco ENCODING=UTF-8 $fields shp/roads.shp split.geojson
ogr2ogr -q -f "ESRI Shapefile" -nlt LINESTRING -lco ENCODING=UTF-8 $fields unsplit/roads.shp unsplit.geojson
ogr2ogr -q -f "MapInfo File" -dsco FORMAT=MIF -nlt LINESTRING -lco ENCODING=CP1252 $fields mif/roads.mif split.geojson
ogr2ogr -q -f "MapInfo File" -nlt LINESTRING -lco ENCODING=CP1252 $fields tab/roads.tab split.geojson

# The oracle over the raw ways, as a check of the oracle itself.
read -r -d '' expect_unsplit <<'X' || true
links 20227
loops 285
nodes 28607
X
got_unsplit="$(python3 "$oracle" unsplit/roads.shp | sed -n 1,3p)"
if [ "$got_unsplit" != "$expect_unsplit" ]; then
  echo "sample.sh: the oracle over the raw ways gives"; echo "$got_unsplit"; exit 1
fi

# Wall time and peak memory of each import, as a sanity check on real data.
timed_import() {
  local kind="$1" took
  took="$(python3 "$root/scripts/bench_timed.py" 1 -- "$import" -o "net-$kind" "$kind/roads.$kind")"
  echo "sample.sh: $kind import: $took"
  tr -d '\r' < "net-$kind/network_report.txt" > "report-$kind.txt"
}
timed_import shp
cat report-shp.txt

figure() { sed -n "s/^$1: *//p" "$2" | sed -n 1p; }
report_links="$(figure 'Links in database' report-shp.txt)"
report_nodes="$(figure 'Nodes created' report-shp.txt)"
report_degree="$(figure 'Maximum degree' report-shp.txt)"
report_loops="$(grep -c ' is a loop link$' report-shp.txt || true)"
oracle_out="$(python3 "$oracle" shp/roads.shp)"
oracle_links="$(sed -n 's/^links //p' <<<"$oracle_out")"
oracle_loops="$(sed -n 's/^loops //p' <<<"$oracle_out")"
oracle_nodes="$(sed -n 's/^nodes //p' <<<"$oracle_out")"
oracle_degree="$(sed -n 's/^maxdegree //p' <<<"$oracle_out")"
echo "sample.sh: links $report_links/$oracle_links, loop links $report_loops/$oracle_loops," \
     "nodes $report_nodes/$oracle_nodes, maximum degree $report_degree/$oracle_degree (report/oracle)"
if [ "$report_links" != "$oracle_links" ] || [ "$report_loops" != "$oracle_loops" ] ||
   [ "$report_nodes" != "$oracle_nodes" ] || [ "$report_degree" != "$oracle_degree" ]; then
  echo "sample.sh: the report differs from the oracle"; exit 1
fi

# The attribute word and limit 1 of the shapefile network, computed from the
# table by SQL: road class from highway in bits 0-4, one-way in bit 9 (with
# the digitising direction) or 10 (against it); limit 1 is maxspeed when that
# is a number 0..255, else 0.
rm -f attr.dbf
ogr2ogr -q -f "ESRI Shapefile" -dialect SQLite -sql "SELECT
  CAST((CASE highway WHEN 'motorway' THEN 1 WHEN 'trunk' THEN 2 WHEN 'primary' THEN 3
    WHEN 'secondary' THEN 4 WHEN 'tertiary' THEN 5 WHEN 'unclassified' THEN 6
    WHEN 'residential' THEN 7 WHEN 'service' THEN 8 WHEN 'living_street' THEN 9
    WHEN 'track' THEN 10 ELSE 11 END)
  + (CASE WHEN oneway IN ('yes', 'true', '1') THEN 512 WHEN oneway IN ('-1', 'reverse') THEN 1024 ELSE 0 END)
  AS INTEGER) AS attr,
  CAST(CASE WHEN maxspeed GLOB '[0-9]*' AND maxspeed NOT GLOB '*[^0-9]*' AND CAST(maxspeed AS INTEGER) <= 255
    THEN CAST(maxspeed AS INTEGER) ELSE 0 END AS INTEGER) AS limit1
  FROM roads" attr.dbf shp/roads.shp
"$attributes" -d net-shp --attribute attr.dbf ATTR --limit 1 attr.dbf LIMIT1 --show 8
if [ ! -f net-shp/attribute.bin ] || [ ! -f net-shp/limit1.bin ]; then
  echo "sample.sh: attribute.bin or limit1.bin missing"; exit 1
fi

# The same roads as MIF and TAB: one link per object, in the same order.
timed_import mif
timed_import tab
for kind in mif tab; do
  l="$(figure 'Links in database' report-$kind.txt)"
  n="$(figure 'Nodes created' report-$kind.txt)"
  echo "sample.sh: $kind: links $l, nodes $n"
  if [ "$l" != "$report_links" ]; then echo "sample.sh: the $kind import has $l links, the shapefile $report_links"; exit 1; fi
done
# The files read by the layouts of docs/network-format.md alone, against the
# import report and kovra-open.
for kind in shp mif tab; do
  read_out="$(python3 "$format_reader" "net-$kind")"
  open_out="$("$open" "net-$kind")"
  for k in links nodes maxdegree cells; do
    r="$(sed -n "s/^$k //p" <<<"$read_out")"
    o="$(sed -n "s/^$k //p" <<<"$open_out")"
    case "$k" in
      links) p="$(figure 'Links in database' report-$kind.txt)" ;;
      nodes) p="$(figure 'Nodes created' report-$kind.txt)" ;;
      maxdegree) p="$(figure 'Maximum degree' report-$kind.txt)" ;;
      *) p="$o" ;;
    esac
    if [ "$r" != "$o" ] || [ "$r" != "$p" ]; then
      echo "sample.sh: $kind $k: format reader $r, kovra-open $o, report $p"; exit 1
    fi
  done
  echo "sample.sh: $kind: the format reader agrees with the report and kovra-open"
done

# Road names from the name column: cp1252 in the MID and TAB tables, UTF-8
# with a .cpg in the shapefile; the three networks must give the same names.
"$attributes" -d net-shp --roadname 1 shp/roads.dbf name --show 8 --named | tee names-shp.txt
"$attributes" -d net-mif --roadname 1 mif/roads.mid name --show 8 --named > names-mif.txt
"$attributes" -d net-tab --roadname 1 tab/roads.dat name --show 8 --named > names-tab.txt
for kind in mif tab; do
  if ! cmp -s names-shp.txt names-$kind.txt; then
    echo "sample.sh: the $kind road names differ from the shapefile's"; diff names-shp.txt names-$kind.txt || true; exit 1
  fi
done

# The unique link_id ("4040439#1": way and piece) as text ids, each looked up again.
"$attributes" -d net-shp --externalid shp/roads.dbf link_id --show 8 | tee ids-shp.txt
if [ "$(grep -c ' id "[^"]' ids-shp.txt)" != 8 ]; then echo "sample.sh: external ids missing"; exit 1; fi
awk '{ if ($NF != $2) { print "sample.sh: link " $2 " leads back to link " $NF; bad = 1 } } END { exit bad }' \
  <(grep '^link ' ids-shp.txt)

# One route across the shapefile network, from a third to two thirds of its
# box, opening included ("seconds" is the time to the answer).
read -r x1 y1 x2 y2 < <(python3 - "$root/tests/examples" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
import network_format as nf
c = {k: float(v) for k, v in nf.config("net-shp").items() if k in ("xmin", "ymin", "xmax", "ymax")}
w, h = c["xmax"] - c["xmin"], c["ymax"] - c["ymin"]
print(c["xmin"] + w / 3, c["ymin"] + h / 3, c["xmin"] + 2 * w / 3, c["ymin"] + 2 * h / 3)
PY
)
"$route" net-shp "$x1" "$y1" "$x2" "$y2" --format csv -o route-shp | grep -v '^links' | sed 's/^/sample.sh: route: /'

echo "sample.sh: ok"
