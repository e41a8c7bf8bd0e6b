#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Class file import and export of 30,000 classes by tarn-cli on a team database
# (a PostgreSQL server started for the run, tests/pgserver), against psql doing
# the same database work: the same rows copied in from a file (\copy FROM, the
# fair comparison for a bulk load) and inserted by a script of INSERTs in one
# transaction; the same columns copied out to a file. show in each format
# against an export of the same configuration. The commands take turns,
# run by run, each on a fresh database; best of RUNS each. Then the windows
# there: the main window with 10,000 configurations and the class editor's
# moves (bench_windows).
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
cli="$build/bin/tarn-cli"
N=${TARN_BENCH_CLASSES:-30000}
RUNS=${TARN_BENCH_RUNS:-5}
work=$(mktemp -d)
chmod 755 "$work"
mkdir -m 700 "$work/xdg"
export XDG_RUNTIME_DIR="$work/xdg"
trap '"$here/../tests/pgserver" stop "$work/server"; rm -rf "$work"' EXIT
"$here/../tests/pgserver" start "$work/server" >/dev/null
admin=$(cat "$work/server/url")
team=${admin%/postgres}/bench

gen "$N" class >"$work/big.class"
gen "$N" sql >"$work/big.sql"
gen "$N" copy >"$work/big.rows"

fresh() {
    PGOPTIONS=--client-min-messages=warning psql -q "$admin" -c "DROP DATABASE IF EXISTS bench" -c "CREATE DATABASE bench" >/dev/null
    "$cli" --database "$team" init --sample >/dev/null
}

# Each timed run starts on a fresh database.
fresh_run() { fresh; }

read -r imp_tarn imp_copy imp_sql < <(race \
    "'$cli' --database '$team' import Bench '$work/big.class'" \
    "psql -q -v ON_ERROR_STOP=1 '$team' -c \"\\\\copy classdef ($COLUMNS_SQL) FROM '$work/big.rows'\"" \
    "psql -q -v ON_ERROR_STOP=1 '$team' -f '$work/big.sql'")

select="SELECT $EXPORT_COLUMNS FROM classdef WHERE package_name = 'Bench' ORDER BY class_num, rowid"
PREPARE="'$cli' --database '$team' import Bench '$work/big.class' >/dev/null"
read -r exp_tarn exp_sql < <(race \
    "'$cli' --database '$team' export Bench '$work/out.class'" \
    "psql -q '$team' -c \"\\\\copy ($select) TO '$work/out.txt'\"")
unset PREPARE

# show against an export of the same configuration, on one database.
fresh
gen 10 class >"$work/small.class"
"$cli" --database "$team" import Bench "$work/big.class" >/dev/null
"$cli" --database "$team" import Small "$work/small.class" >/dev/null
fresh_run() { :; }
read -r exp_own text csv json < <(race \
    "'$cli' --database '$team' export Bench '$work/out.class'" \
    "'$cli' --database '$team' show Bench" \
    "'$cli' --database '$team' show --format csv Bench" \
    "'$cli' --database '$team' show --format json Bench")
rss() {
    /usr/bin/time -f %M -o "$work/m" "$cli" --database "$team" show --format json "$1" >/dev/null
    tail -n 1 "$work/m"
}
rss_big=$(rss Bench)
rss_small=$(rss Small)
fresh_run() { fresh; }

echo "Team database (PostgreSQL, Unix socket), $N classes, best of $RUNS runs taken in turns"
printf '%-8s %10s %10s %10s\n' "" "tarn-cli" "psql" "ratio"
printf '%-8s %9ss %9ss %10s   (psql \\copy FROM)\n' import "$imp_tarn" "$imp_copy" \
    "$(ratio "$imp_tarn" "$imp_copy")"
printf '%-8s %9ss %9ss %10s   (psql INSERT script)\n' import "$imp_tarn" "$imp_sql" \
    "$(ratio "$imp_tarn" "$imp_sql")"
printf '%-8s %9ss %9ss %10s\n' export "$exp_tarn" "$exp_sql" "$(ratio "$exp_tarn" "$exp_sql")"
for f in text csv json; do
    printf '%-8s %9ss %10s %10s x export (%ss)\n' "show $f" "${!f}" "" "$(ratio "${!f}" "$exp_own")" \
        "$exp_own"
done
echo "Peak RSS of show --format json: $rss_big KiB for $N classes, $rss_small KiB for 10"
goal "import on a server: tarn-cli / psql copy FROM" "$(ratio "$imp_tarn" "$imp_copy")" 1
goal "export on a server: tarn-cli / psql copy TO" "$(ratio "$exp_tarn" "$exp_sql")" 0.7
for f in text csv json; do
    goal "show --format $f on a server / export" "$(ratio "${!f}" "$exp_own")" 2
done
goal "peak memory on a server: show, $N / 10 classes" "$(ratio "$rss_big" "$rss_small")" 1.2
if awk -v r="$(ratio "$exp_tarn" "$exp_sql")" 'BEGIN { exit !(r > 1) }'; then
    echo "Export is slower than psql's copy here. Both read the rows the same way (COPY ... TO STDOUT"
    echo "on one connection); tarn-cli adds its start (Qt, the SQL driver's set-up statements, the"
    echo "checks of the tables) and the class file's formatting, which keeps pace with the server's"
    echo "rows only while a core is free for it."
fi

# The windows: the sample rows, 10,000 configurations and "Large" with 1,000
# classes copied from the sample's first class.
fresh
columns=$(psql -X -At "$team" -c "SELECT string_agg(column_name, ', ' ORDER BY ordinal_position)
    FROM information_schema.columns WHERE table_name = 'classdef'
    AND column_name NOT IN ('package_name', 'class_name', 'class_num', 'rowid')")
psql -q -X -v ON_ERROR_STOP=1 "$team" <<SQL
BEGIN;
INSERT INTO package (package_name)
    SELECT 'Config ' || lpad(n::text, 5, '0') FROM generate_series(1, ${TARN_BENCH_CONFIGS:-10000}) n;
INSERT INTO package (package_name) VALUES ('Large');
INSERT INTO classdef (package_name, class_name, class_num, $columns)
    SELECT 'Large', 'Class ' || n, n, $columns FROM generate_series(1, 1000) n,
        (SELECT * FROM classdef WHERE package_name = 'Sample Config' ORDER BY class_num LIMIT 1) first;
COMMIT;
VACUUM ANALYZE;
SQL
QT_QPA_PLATFORM=offscreen "$build/bin/bench_windows" "$team" Large 7 >"$work/out"
grep -v '^figure ' "$work/out"
figure() { sed -n "s/^figure $1 //p" "$work/out"; }
goal "main window on a server, 10,000 configurations (ms)" "$(figure shown)" 100
goal "list of 10,000 refilled on a server (ms)" "$(figure refilled)" 100
goal "class editor on 1,000 classes on a server (ms)" "$(figure opened)" 100
goal "a move between classes on a server, median (ms)" "$(figure move)" 5
