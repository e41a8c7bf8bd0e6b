#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What keeping the history costs, on files: a write-back (bench_writeback), an
# import of 30,000 classes and a Delete of a 30,000-class configuration by
# tarn-cli, each with its records and without them (the same build, the
# records switched off by TARN_TEST_NO_HISTORY), taking turns; and the first
# page of 'tarn-cli history' of a configuration with 100,000 records.
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
cli="$build/bin/tarn-cli"
N=${TARN_BENCH_CLASSES:-30000}
RECORDS=${TARN_BENCH_RECORDS:-100000}
RUNS=${TARN_BENCH_RUNS:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

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

echo "History on files: with its records and without, best of $RUNS runs taken in turns"
printf '%-36s %10s %10s %8s\n' "" "with" "without" "ratio"
printf '%-36s %8sms %8sms %8s\n' "write-back of 2 fields (median)" "$wb_with" "$wb_without" \
    "$(ratio "$wb_with" "$wb_without")"
printf '%-36s %9ss %9ss %8s\n' "import of $N classes" "$imp_with" "$imp_without" \
    "$(ratio "$imp_with" "$imp_without")"
printf '%-36s %9ss %9ss %8s\n' "delete of $N classes" "$del_with" "$del_without" \
    "$(ratio "$del_with" "$del_without")"
echo "tarn-cli history of a configuration with $RECORDS records, first 50 lines: $t_page ms" \
    "(median of $RUNS, the whole process)"
goal "write-back: with records / without" "$(ratio "$wb_with" "$wb_without")" 1.2
goal "import of $N classes: with records / without" "$(ratio "$imp_with" "$imp_without")" 1.1
goal "delete of $N classes: with records / without" "$(ratio "$del_with" "$del_without")" 1.5
goal "history's first page, $RECORDS records (ms)" "$t_page" 100
