#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# `tarn-cli list` on 10,000 configurations, against the sqlite3 shell running
# the same SELECT and against a minimal Qt program doing only that (open the
# file with QSQLITE, SELECT, print): the floor for a Qt program.
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
cli="$build/bin/tarn-cli"
N=${TARN_BENCH_CONFIGS:-10000}
RUNS=31
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

large_data "$work/d" "$cli" "$N" 10
data="$work/d/tarn_dat.mdb"
select="SELECT package_name FROM package ORDER BY package_name"
if ! cmp -s <("$cli" --data-dir "$work/d" list) <(sqlite3 "$data" "$select"); then
    echo "tarn-cli list and sqlite3 disagree" >&2
    exit 1
fi

# Interleaved, so that the load of a shared machine weighs on all three alike;
# the first round only warms the caches.
cli_runs=() sql_runs=() qt_runs=()
for ((i = 0; i <= RUNS; i++)); do
    a=$(time_ms "$cli" --data-dir "$work/d" list)
    b=$(time_ms sqlite3 "$data" "$select")
    c=$(time_ms "$build/bin/bench_listfloor" "$data")
    ((i)) || continue
    cli_runs+=("$a") sql_runs+=("$b") qt_runs+=("$c")
done
t_cli=$(median "${cli_runs[@]}")
t_sql=$(median "${sql_runs[@]}")
t_qt=$(median "${qt_runs[@]}")

echo "Listing $((N + 2)) configurations, median of $RUNS runs"
printf '%-24s %9s %16s\n' "" "time" "tarn-cli ratio"
printf '%-24s %7sms %16s\n' "tarn-cli list" "$t_cli" ""
printf '%-24s %7sms %16s\n' "sqlite3 shell" "$t_sql" "$(ratio "$t_cli" "$t_sql")"
printf '%-24s %7sms %16s\n' "minimal Qt program" "$t_qt" "$(ratio "$t_cli" "$t_qt")"
goal "tarn-cli list / minimal Qt program" "$(ratio "$t_cli" "$t_qt")" 1.2
