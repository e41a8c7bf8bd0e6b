#!/usr/bin/env bash
# Class file import and export of 30,000 classes by tarn-cli, against the
# sqlite3 shell doing the same database work: the same rows inserted by a
# script of INSERTs in one transaction, and the same columns printed
# space-separated to a file. Best of five runs each; then the peak memory of
# a 30,000-class import against a 10-class one.
set -euo pipefail
build=$1
source "$(dirname "$0")/common.sh"
cli="$build/bin/tarn-cli"
N=${TARN_BENCH_CLASSES:-30000}
RUNS=5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# gen N class|sql: the same N classes as a class file or as SQL statements.
gen() {
    awk -v n="$1" -v mode="$2" -v cols="$COLUMNS_SQL" 'BEGIN {
        if (mode == "class") printf "V3 bench\r\nBench\r\n";
        else print "BEGIN;";
        for (i = 1; i <= n; i++) {
            name = "Class " i; model = "model" (i % 7); s1 = "red" (i % 5); s2 = "blue" (i % 3);
            decoy = i % 10;
            for (k = 1; k <= 10; k++) w[k] = (i + k) % 8;
            for (k = 1; k <= 3; k++) g[k] = (i + k) % 4;
            armor = i % 200; speed = 300 + i % 100; health = 100 + i % 50;
            ssum = (i * 7919) % 2147483647; isum = i % 512;
            for (k = 1; k <= 6; k++) a[k] = (i * k) % 1000;
            if (mode == "class") {
                printf "\r\n[%s]\r\n%s %s %s %d\r\n", name, model, s1, s2, decoy;
                printf "%d %d %d %d %d %d %d %d %d %d\r\n", w[1], w[2], w[3], w[4], w[5], w[6], w[7], w[8], w[9], w[10];
                printf "%d %d %d\r\n%d %d %d  %d  %d\r\n", g[1], g[2], g[3], armor, speed, health, ssum, isum;
                printf "%d %d %d %d %d %d\r\n", a[1], a[2], a[3], a[4], a[5], a[6];
            } else {
                v = sprintf("'\''Bench'\'', '\''%s'\'', %d, '\''%s'\'', '\''%s'\'', '\''%s'\''", name, i, s1, s2, model);
                for (k = 1; k <= 10; k++) v = v ", " w[k];
                for (k = 1; k <= 3; k++) v = v ", " g[k];
                v = v ", " speed ", " health ", " armor;
                x = isum; for (k = 1; k <= 9; k++) { v = v ", " (x % 2); x = int(x / 2) }
                x = ssum; for (k = 1; k <= 31; k++) { v = v ", " (x % 2); x = int(x / 2) }
                v = v ", " decoy;
                for (k = 1; k <= 6; k++) v = v ", " a[k];
                print "INSERT INTO classdef (" cols ") VALUES (" v ");";
            }
        }
        if (mode != "class") { print "INSERT INTO package (package_name) VALUES ('\''Bench'\'');"; print "COMMIT;" }
    }'
}

COLUMNS_SQL="package_name, class_name, class_num, skin_name1, skin_name2, model_name"
for k in $(seq 1 10); do COLUMNS_SQL+=", w$k"; done
COLUMNS_SQL+=", g1, g2, g3, max_speed, max_health, max_armor"
for k in $(seq 1 9); do COLUMNS_SQL+=", i$k"; done
for k in $(seq 1 31); do COLUMNS_SQL+=", s$k"; done
COLUMNS_SQL+=", decoyskin, maxbullets, maxshells, maxrockets, maxgrenades, maxcells, maxslugs"
EXPORT_COLUMNS="class_name, model_name, skin_name1, skin_name2, decoyskin"
for k in $(seq 2 10); do EXPORT_COLUMNS+=", w$k"; done
EXPORT_COLUMNS+=", g1, g2, g3, max_armor, max_speed, max_health"
for k in $(seq 1 8); do EXPORT_COLUMNS+=", i$k"; done
for k in $(seq 1 31); do EXPORT_COLUMNS+=", s$k"; done
EXPORT_COLUMNS+=", maxbullets, maxshells, maxrockets, maxgrenades, maxcells, maxslugs"

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

# best CMD...: the shortest wall time of RUNS runs, in seconds; each run gets
# a fresh data directory in $work/d.
best() {
    local b="" t start
    for _ in $(seq "$RUNS"); do
        fresh "$work/d"
        [ -n "${PREPARE:-}" ] && eval "$PREPARE"
        start=$EPOCHREALTIME
        if ! "$@" >/dev/null; then
            echo "failed: $*" >&2
            exit 1
        fi
        t=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f", b - a }')
        if [ -z "$b" ] || awk -v a="$t" -v b="$b" 'BEGIN { exit !(a < b) }'; then b=$t; fi
    done
    echo "$b"
}


imp_tarn=$(best "$cli" --data-dir "$work/d" import Bench "$work/big.class")
imp_sql=$(best sh -c "sqlite3 '$work/d/tarn_dat.mdb' <'$work/big.sql'")

PREPARE="\"$cli\" --data-dir \"$work/d\" import Bench \"$work/big.class\" >/dev/null"
exp_tarn=$(best "$cli" --data-dir "$work/d" export Bench "$work/out.class")
exp_sql=$(best sqlite3 -list -separator ' ' -cmd ".output $work/out.txt" "$work/d/tarn_dat.mdb" \
    "SELECT $EXPORT_COLUMNS FROM classdef WHERE package_name = 'Bench' ORDER BY class_num, rowid")
unset PREPARE

fresh "$work/d"
/usr/bin/time -f %M -o "$work/m" "$cli" --data-dir "$work/d" import Small "$work/small.class"
rss_small=$(cat "$work/m")
/usr/bin/time -f %M -o "$work/m" "$cli" --data-dir "$work/d" import Bench "$work/big.class"
rss_big=$(cat "$work/m")

echo "Class files, $N classes ($(du -h "$work/big.class" | cut -f1) file), best of $RUNS runs"
printf '%-8s %12s %12s %8s\n' "" "tarn-cli" "sqlite3" "ratio"
printf '%-8s %11ss %11ss %8s\n' import "$imp_tarn" "$imp_sql" "$(ratio "$imp_tarn" "$imp_sql")"
printf '%-8s %11ss %11ss %8s\n' export "$exp_tarn" "$exp_sql" "$(ratio "$exp_tarn" "$exp_sql")"
echo "Peak RSS of tarn-cli import: $rss_big KiB for $N classes, $rss_small KiB for 10" \
    "(ratio $(ratio "$rss_big" "$rss_small"))"
goal "import: tarn-cli / sqlite3 shell" "$(ratio "$imp_tarn" "$imp_sql")" 1
goal "export: tarn-cli / sqlite3 shell" "$(ratio "$exp_tarn" "$exp_sql")" 1
goal "peak memory: $N-class import / 10-class import" "$(ratio "$rss_big" "$rss_small")" 1.2
