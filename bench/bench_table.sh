#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The class table on the largest configuration (32,767 classes), offscreen
# (bench_table), beside the floor: the same SELECT through SQLite's own API in
# C (bench/floor/table_floor.c), every value read and nothing shown.
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
N=${TARN_BENCH_TABLE_CLASSES:-32767}
RUNS=${TARN_BENCH_RUNS:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/xdg"
export XDG_RUNTIME_DIR="$work/xdg"
cc -O2 -o "$work/table_floor" "$here/floor/table_floor.c" -lsqlite3

large_data "$work/d" "$build/bin/tarn-cli" 10 "$N"
columns="rowid, class_num, class_name, model_name, skin_name1, skin_name2, decoyskin, max_armor,
    max_speed, max_health, maxbullets, maxshells, maxrockets, maxgrenades, maxcells, maxslugs"
for k in 2 3 4 5 6 7 8 9 10; do columns+=", w$k"; done
for k in 1 2 3; do columns+=", g$k"; done
for k in $(seq 1 8); do columns+=", i$k"; done
for k in $(seq 1 31); do columns+=", s$k"; done
select="SELECT $columns FROM classdef WHERE package_name = 'Large' COLLATE NOCASE
    ORDER BY class_num, rowid"
floor=()
for ((i = 0; i <= RUNS; i++)); do
    t=$(time_ms "$work/table_floor" "$work/d/tarn_dat.mdb" "$select")
    ((i)) && floor+=("$t") # the first run only warms the caches
done
"$build/bin/bench_table" "$work/d" Large "$RUNS" >"$work/out"
grep -v '^figure ' "$work/out"
figure() { sed -n "s/^figure $1 //p" "$work/out"; }
t_floor=$(median "${floor[@]}")
echo "The same SELECT in C on SQLite's API, the whole process: $t_floor ms (median of $RUNS)"
printf '%-34s %9s %12s\n' "" "time" "floor ratio"
printf '%-34s %7sms %12s\n' "table's rows read" "$(figure loaded)" "$(ratio "$(figure loaded)" "$t_floor")"
printf '%-34s %7sms %12s\n' "SELECT in C (floor)" "$t_floor" ""
goal "class table on $N classes opened (ms)" "$(figure opened)" 1000
goal "a page scrolled and painted, 99th percentile (ms)" "$(figure page99)" 16
goal "a sort of $N rows (ms)" "$(figure sort)" 500
goal "a key in the filter (ms)" "$(figure key)" 100
