#!/usr/bin/env bash
# Class file import and export of 30,000 classes by tarn-cli on a team database
# (a PostgreSQL server started for the run, tests/pgserver), against psql doing
# the same database work: the same rows inserted by a script of INSERTs in one
# transaction; the same columns copied out to a file. The commands take turns,
# run by run, each on a fresh database; best of RUNS each.
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
cli="$build/bin/tarn-cli"
N=${TARN_BENCH_CLASSES:-30000}
RUNS=${TARN_BENCH_RUNS:-5}
work=$(mktemp -d)
chmod 755 "$work"
trap '"$here/../tests/pgserver" stop "$work/server"; rm -rf "$work"' EXIT
"$here/../tests/pgserver" start "$work/server" >/dev/null
admin=$(cat "$work/server/url")
team=${admin%/postgres}/bench

gen "$N" class >"$work/big.class"
gen "$N" sql >"$work/big.sql"

fresh() {
    PGOPTIONS=--client-min-messages=warning psql -q "$admin" -c "DROP DATABASE IF EXISTS bench" -c "CREATE DATABASE bench" >/dev/null
    "$cli" --database "$team" init --sample >/dev/null
}

# race CMD...: each command (a shell string) RUNS times, taking turns, each on
# a fresh database after $PREPARE when set; the best wall time of each.
race() {
    local -a best=()
    local r i t start
    for ((r = 0; r < RUNS; r++)); do
        for ((i = 1; i <= $#; i++)); do
            fresh
            [ -n "${PREPARE:-}" ] && eval "$PREPARE"
            start=$EPOCHREALTIME
            if ! eval "${!i}" >/dev/null; then
                echo "failed: ${!i}" >&2
                exit 1
            fi
            t=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f", b - a }')
            if [ -z "${best[i]:-}" ] || awk -v a="$t" -v b="${best[i]}" 'BEGIN { exit !(a < b) }'; then
                best[i]=$t
            fi
        done
    done
    echo "${best[@]}"
}

read -r imp_tarn imp_sql < <(race \
    "'$cli' --database '$team' import Bench '$work/big.class'" \
    "psql -q -v ON_ERROR_STOP=1 '$team' -f '$work/big.sql'")

select="SELECT $EXPORT_COLUMNS FROM classdef WHERE package_name = 'Bench' ORDER BY class_num, rowid"
PREPARE="'$cli' --database '$team' import Bench '$work/big.class' >/dev/null"
read -r exp_tarn exp_sql < <(race \
    "'$cli' --database '$team' export Bench '$work/out.class'" \
    "psql -q '$team' -c \"\\\\copy ($select) TO '$work/out.txt'\"")
unset PREPARE

echo "Team database (PostgreSQL, Unix socket), $N classes, best of $RUNS runs taken in turns"
printf '%-8s %10s %10s %10s\n' "" "tarn-cli" "psql" "ratio"
printf '%-8s %9ss %9ss %10s\n' import "$imp_tarn" "$imp_sql" "$(ratio "$imp_tarn" "$imp_sql")"
printf '%-8s %9ss %9ss %10s\n' export "$exp_tarn" "$exp_sql" "$(ratio "$exp_tarn" "$exp_sql")"
goal "import on a server: tarn-cli / psql" "$(ratio "$imp_tarn" "$imp_sql")" 1
goal "export on a server: tarn-cli / psql" "$(ratio "$exp_tarn" "$exp_sql")" 1
