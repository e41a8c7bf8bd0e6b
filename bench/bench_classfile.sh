#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Class file import, export and check of 30,000 classes by tarn-cli, against
# the sqlite3 shell doing the same database work (the same rows inserted by a
# script of INSERTs in one transaction; the same columns printed
# space-separated to a file) and against floor programs in C on SQLite's own
# API (bench/floor/: one prepared INSERT bound per row, no parsing; one
# prepared SELECT written as text; a reader that splits every line and
# converts every number with strtod). The commands of one figure take turns,
# run by run, so that the load of a shared machine weighs on all alike; best
# of RUNS each. Then the peak memory of a 30,000-class import against a
# 10-class one.
set -euo pipefail
build=$1
source "$(dirname "$0")/common.sh"
cli="$build/bin/tarn-cli"
N=${TARN_BENCH_CLASSES:-30000}
RUNS=${TARN_BENCH_RUNS:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The floors are built here, not by the product build.
for floor in import export check; do
    cc -O2 -o "$work/${floor}_floor" "$(dirname "$0")/floor/${floor}_floor.c" -lsqlite3
done

mkdir "$work/empty"
"$cli" --data-dir "$work/empty" init --sample >/dev/null
"$cli" --data-dir "$work/empty" list >/dev/null # upgrade done before any timing
gen "$N" class >"$work/big.class"
gen 10 class >"$work/small.class"
gen "$N" sql >"$work/big.sql"

# fresh DIR: a copy of the sample data directory.
fresh() {
    rm -rf "$1"
    cp -r "$work/empty" "$1"
}

# Each timed run starts on a fresh data directory $work/d.
fresh_run() { fresh "$work/d"; }

db="$work/d/tarn_dat.mdb"
# The import floor stores the rows tarn-cli stores from the class file.
rows() { sqlite3 "$1/tarn_dat.mdb" "SELECT * FROM classdef WHERE package_name = 'Bench' ORDER BY class_num"; }
fresh "$work/d" && "$cli" --data-dir "$work/d" import Bench "$work/big.class" >/dev/null
fresh "$work/f" && "$work/import_floor" "$work/f/tarn_dat.mdb" Bench "$N"
if ! cmp -s <(rows "$work/d") <(rows "$work/f"); then
    echo "the import floor does not store the rows tarn-cli stores" >&2
    exit 1
fi
read -r imp_tarn imp_sql imp_floor < <(race \
    "'$cli' --data-dir '$work/d' import Bench '$work/big.class'" \
    "sqlite3 '$db' <'$work/big.sql'" \
    "'$work/import_floor' '$db' Bench $N")

select="SELECT $EXPORT_COLUMNS FROM classdef WHERE package_name = 'Bench' ORDER BY class_num, rowid"
PREPARE="\"$cli\" --data-dir \"$work/d\" import Bench \"$work/big.class\" >/dev/null"
read -r exp_tarn exp_sql exp_floor < <(race \
    "'$cli' --data-dir '$work/d' export Bench '$work/out.class'" \
    "sqlite3 -list -separator ' ' -cmd '.output $work/out.txt' '$db' \"$select\"" \
    "'$work/export_floor' '$db' \"$select\" '$work/out.txt'")
unset PREPARE

# The largest class file there is; both read it whole.
gen 32767 class >"$work/max.class"
read -r chk_tarn chk_floor < <(race \
    "'$cli' check '$work/max.class'" \
    "'$work/check_floor' '$work/max.class'")

fresh "$work/d"
/usr/bin/time -f %M -o "$work/m" "$cli" --data-dir "$work/d" import Small "$work/small.class"
rss_small=$(cat "$work/m")
/usr/bin/time -f %M -o "$work/m" "$cli" --data-dir "$work/d" import Bench "$work/big.class"
rss_big=$(cat "$work/m")

echo "Class files, $N classes ($(du -h "$work/big.class" | cut -f1) file), best of $RUNS runs taken in turns"
printf '%-8s %10s %10s %10s %10s %10s\n' "" "tarn-cli" "sqlite3" "ratio" "floor" "ratio"
printf '%-8s %9ss %9ss %10s %9ss %10s\n' import "$imp_tarn" "$imp_sql" \
    "$(ratio "$imp_tarn" "$imp_sql")" "$imp_floor" "$(ratio "$imp_tarn" "$imp_floor")"
printf '%-8s %9ss %9ss %10s %9ss %10s\n' export "$exp_tarn" "$exp_sql" \
    "$(ratio "$exp_tarn" "$exp_sql")" "$exp_floor" "$(ratio "$exp_tarn" "$exp_floor")"
printf '%-8s %9ss %10s %10s %9ss %10s\n' "check*" "$chk_tarn" "" "" "$chk_floor" \
    "$(ratio "$chk_tarn" "$chk_floor")"
echo "* check of a 32767-class file ($(du -h "$work/max.class" | cut -f1))"
echo "Peak RSS of tarn-cli import: $rss_big KiB for $N classes, $rss_small KiB for 10" \
    "(ratio $(ratio "$rss_big" "$rss_small"))"
goal "import: tarn-cli / sqlite3 shell" "$(ratio "$imp_tarn" "$imp_sql")" 1
goal "export: tarn-cli / sqlite3 shell" "$(ratio "$exp_tarn" "$exp_sql")" 1
goal "import: tarn-cli / C floor on SQLite's API" "$(ratio "$imp_tarn" "$imp_floor")" 1.5
goal "export: tarn-cli / C floor on SQLite's API" "$(ratio "$exp_tarn" "$exp_floor")" 1.05
goal "check: tarn-cli / C floor reading with strtod" "$(ratio "$chk_tarn" "$chk_floor")" 1.5
goal "peak memory: $N-class import / 10-class import" "$(ratio "$rss_big" "$rss_small")" 1.2
