#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What keeping the history costs, on files and on a PostgreSQL server of its
# own (tests/pgserver: a local socket, fsync off): a write-back
# (bench_writeback), an import of 30,000 classes and a Delete of a
# 30,000-class configuration by tarn-cli, each with its records and without
# them (the same build, the records switched off by TARN_TEST_NO_HISTORY),
# taking turns; and the first page of 'tarn-cli history' of a configuration
# with 100,000 records.
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
cli="$build/bin/tarn-cli"
N=${TARN_BENCH_CLASSES:-30000}
RECORDS=${TARN_BENCH_RECORDS:-100000}
RUNS=${TARN_BENCH_RUNS:-7}
work=$(mktemp -d)
chmod 755 "$work"
trap '"$here/../tests/pgserver" stop "$work/server" >/dev/null; rm -rf "$work"' EXIT

large_data "$work/base" "$cli" 10 "$N"
gen "$N" class >"$work/big.class"
fresh_run() {
    rm -rf "$work/d"
    cp -r "$work/base" "$work/d"
}
off="env TARN_TEST_NO_HISTORY=1"
read -r imp_with imp_without < <(race \
    "'$cli' --data-dir '$work/d' import Bench '$work/big.class'" \
    "$off '$cli' --data-dir '$work/d' import Bench '$work/big.class'")
read -r del_with del_without < <(race \
    "'$cli' --data-dir '$work/d' delete Large" \
    "$off '$cli' --data-dir '$work/d' delete Large")

fresh_run
"$build/bin/bench_writeback" "$work/d" Large "$RUNS" >"$work/out"
figure() { sed -n "s/^figure $1 //p" "$work/out"; }
wb_with=$(figure with)
wb_without=$(figure without)

# A long history: RECORDS field changes of Large's classes.
sqlite3 "$work/d/tarn_dat.mdb" <<SQL
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $RECORDS)
INSERT INTO history (who, program, kind, package_name, table_name, row_key, row_name, field,
    old_value, new_value)
SELECT 'bench', 'tarn', 0, 'Large', 'classdef', 1 + i % $N, 'Class ' || (1 + i % $N),
    'max_speed', 'i' || (i % 900), 'i' || ((i + 1) % 900) FROM n;
SQL
page=()
for ((i = 0; i <= RUNS; i++)); do
    t=$(time_ms sh -c "'$cli' --data-dir '$work/d' history Large 2>/dev/null | head -n 50")
    ((i)) && page+=("$t") # the first run only warms the caches
done
t_page=$(median "${page[@]}")

# The same on a server: each run on a fresh database with the sample rows.
"$here/../tests/pgserver" start "$work/server" >/dev/null
admin=$(cat "$work/server/url")
server=${admin%/postgres}/bench
export PGOPTIONS=--client-min-messages=warning
fresh_server() {
    psql -q "$admin" -c "DROP DATABASE IF EXISTS bench" -c "CREATE DATABASE bench" >/dev/null
    "$cli" --database "$server" init --sample >/dev/null
}
fresh_run() { fresh_server; }
read -r simp_with simp_without < <(race \
    "'$cli' --database '$server' import Bench '$work/big.class'" \
    "$off '$cli' --database '$server' import Bench '$work/big.class'")
PREPARE="'$cli' --database '$server' import Bench '$work/big.class' >/dev/null"
read -r sdel_with sdel_without < <(race \
    "'$cli' --database '$server' delete Bench" \
    "$off '$cli' --database '$server' delete Bench")
unset PREPARE
fresh_server
"$cli" --database "$server" import Bench "$work/big.class" >/dev/null
"$build/bin/bench_writeback" "$server" Bench "$RUNS" >"$work/out"
swb_with=$(figure with)
swb_without=$(figure without)
psql -q "$server" -c "INSERT INTO history (who, program, kind, package_name, table_name, row_key,
    row_name, field, old_value, new_value) SELECT 'bench', 'tarn', 0, 'Bench', 'classdef',
    1 + i % $N, 'Class ' || (1 + i % $N), 'max_speed', 'i' || (i % 900), 'i' || ((i + 1) % 900)
    FROM generate_series(1, $RECORDS) i" >/dev/null
# As the server's autovacuum does after so many rows: its plans know the table.
psql -q "$server" -c "ANALYZE history" >/dev/null
spage=()
for ((i = 0; i <= RUNS; i++)); do
    t=$(time_ms sh -c "'$cli' --database '$server' history Bench 2>/dev/null | head -n 50")
    ((i)) && spage+=("$t")
done
t_spage=$(median "${spage[@]}")

echo "History: with its records and without, best of $RUNS runs taken in turns"
printf '%-44s %10s %10s %8s\n' "" "with" "without" "ratio"
printf '%-44s %8sms %8sms %8s\n' "files: write-back of 2 fields (median)" "$wb_with" "$wb_without" \
    "$(ratio "$wb_with" "$wb_without")"
printf '%-44s %9ss %9ss %8s\n' "files: import of $N classes" "$imp_with" "$imp_without" \
    "$(ratio "$imp_with" "$imp_without")"
printf '%-44s %9ss %9ss %8s\n' "files: delete of $N classes" "$del_with" "$del_without" \
    "$(ratio "$del_with" "$del_without")"
printf '%-44s %8sms %8sms %8s\n' "server: write-back of 2 fields (median)" "$swb_with" \
    "$swb_without" "$(ratio "$swb_with" "$swb_without")"
printf '%-44s %9ss %9ss %8s\n' "server: import of $N classes" "$simp_with" "$simp_without" \
    "$(ratio "$simp_with" "$simp_without")"
printf '%-44s %9ss %9ss %8s\n' "server: delete of $N classes" "$sdel_with" "$sdel_without" \
    "$(ratio "$sdel_with" "$sdel_without")"
echo "tarn-cli history of a configuration with $RECORDS records, first 50 lines (median of" \
    "$RUNS, the whole process): files $t_page ms, server $t_spage ms"
goal "files: write-back, with records / without" "$(ratio "$wb_with" "$wb_without")" 1.2
goal "files: import of $N classes, with / without" "$(ratio "$imp_with" "$imp_without")" 1.1
goal "files: delete of $N classes, with / without" "$(ratio "$del_with" "$del_without")" 1.5
goal "files: history's first page, $RECORDS records (ms)" "$t_page" 100
goal "server: write-back, with records / without" "$(ratio "$swb_with" "$swb_without")" 1.2
goal "server: import of $N classes, with / without" "$(ratio "$simp_with" "$simp_without")" 1.1
goal "server: delete of $N classes, with / without" "$(ratio "$sdel_with" "$sdel_without")" 1.5
goal "server: history's first page, $RECORDS records (ms)" "$t_spage" 100
