#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# tarn-cli on a team database far away: each command through tools/latency-proxy
# at 0 and at 50 ms each way, its round trips (an answer of the server after the
# client last spoke) and wall time, beside psql doing the same reads or writes
# where there is a like statement. Each command starts from a fresh database
# with the sample rows, made without the proxy. Then the windows, offscreen
# (bench_windowtrips), at either delay on a fresh database.
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
cli="$build/bin/tarn-cli"
work=$(mktemp -d)
chmod 755 "$work"
mkdir -m 700 "$work/xdg"
export XDG_RUNTIME_DIR="$work/xdg"
proxy=
trap '[ -n "$proxy" ] && kill "$proxy"; "$here/../tests/pgserver" stop "$work/server"; rm -rf "$work"' EXIT
"$here/../tests/pgserver" start "$work/server" >/dev/null
admin=$(cat "$work/server/url")
direct=${admin%/postgres}/bench
tcp=$(cat "$work/server/tcp-url")
hostport=${tcp#postgresql://tarn@}
hostport=${hostport%/postgres}
mkdir "$work/proxy"
python3 "$here/../tools/latency-proxy" --listen 0 --to "$hostport" --state "$work/proxy" &
proxy=$!
while [ ! -s "$work/proxy/port" ]; do sleep 0.05; done
far="postgresql://tarn@127.0.0.1:$(cat "$work/proxy/port")/bench"
export PGOPTIONS=--client-min-messages=warning

fresh() {
    psql -q "$admin" -c "DROP DATABASE IF EXISTS bench" -c "CREATE DATABASE bench" >/dev/null
    [ "${1:-}" = empty ] || "$cli" --database "$direct" init --sample >/dev/null
}
trips() { cat "$work/proxy/trips" 2>/dev/null || echo 0; }

# measure SETUP CMD: "trips ms" of CMD (a shell string run with $db the
# proxy's address) after SETUP, at the current delay.
measure() {
    eval "$1"
    local before start
    before=$(trips)
    start=$EPOCHREALTIME
    eval "$2" >/dev/null || [ $? -eq 1 ] # diff's status 1: different
    awk -v n="$(($(trips) - before))" -v a="$start" -v b="$EPOCHREALTIME" \
        'BEGIN { printf "%d %.0f\n", n, (b - a) * 1000 }'
}

sample="Sample Config"
db=$far
select="SELECT $EXPORT_COLUMNS FROM classdef WHERE package_name = '$sample' ORDER BY class_num, rowid"
fresh
"$cli" --database "$direct" export "$sample" "$work/sample.class" >/dev/null
psql -q "$direct" -c "\\copy (SELECT $COLUMNS_SQL FROM classdef WHERE package_name = '$sample') TO '$work/sample.txt'"
sed -i "s/^$sample\t/Imported\t/" "$work/sample.txt"

# name|setup|tarn-cli|psql (empty: no like statement)
rows=(
    "list|fresh|'$cli' --database \$db list|psql -Atq \$db -c 'SELECT package_name FROM package ORDER BY lower(package_name)'"
    "new|fresh|'$cli' --database \$db new Added|psql -q \$db -c \"INSERT INTO package (package_name) VALUES ('Added')\""
    "copy|fresh|'$cli' --database \$db copy '$sample' Copied|"
    "delete|fresh|'$cli' --database \$db delete '$sample'|"
    "show|fresh|'$cli' --database \$db show '$sample'|"
    "export|fresh|'$cli' --database \$db export '$sample' '$work/out.class'|psql -q \$db -c \"\\\\copy ($select) TO '$work/out.txt'\""
    "import|fresh|'$cli' --database \$db import Imported '$work/sample.class'|psql -q \$db -c \"\\\\copy classdef ($COLUMNS_SQL) FROM '$work/sample.txt'\""
    "diff|fresh; '$cli' --database '$direct' copy '$sample' Copied >/dev/null|'$cli' --database \$db diff '$sample' Copied|"
    "init --sample|fresh empty|'$cli' --database \$db init --sample|"
)

goals=()
echo "Round trips and wall time through a proxy that delays each way (tools/latency-proxy)"
printf '%-14s %8s %8s %9s %8s %8s %9s\n' "" "tarn" "0 ms" "50 ms" "psql" "0 ms" "50 ms"
for row in "${rows[@]}"; do
    IFS='|' read -r name setup mine theirs <<<"$row"
    line=()
    far_trips=()
    for cmd in "$mine" "$theirs"; do
        if [ -z "$cmd" ]; then
            line+=(- - -)
            continue
        fi
        echo 0 >"$work/proxy/delay-ms"
        read -r n0 t0 < <(measure "$setup" "$cmd")
        echo 50 >"$work/proxy/delay-ms"
        read -r n50 t50 < <(measure "$setup" "$cmd")
        far_trips+=("$n50")
        [ "$n0" = "$n50" ] || n0="$n0/$n50"
        line+=("$n0" "${t0}ms" "${t50}ms")
    done
    printf '%-14s %8s %8s %9s %8s %8s %9s\n' "$name" "${line[@]}"
    [ -n "$theirs" ] && goals+=("$name: round trips at 50 ms, psql's + 1|${far_trips[0]}|$((far_trips[1] + 1))")
done
echo "(a/b: a at 0 ms, b at 50 ms; an answer nothing waits for counts at 0 ms)"
for g in "${goals[@]}"; do
    IFS='|' read -r text value limit <<<"$g"
    goal "$text" "$value" "$limit"
done

echo
echo "The windows, offscreen, on the sample (round trips, wall time)"
for delay in 0 50; do
    fresh
    echo "$delay" >"$work/proxy/delay-ms"
    QT_QPA_PLATFORM=offscreen "$build/bin/bench_windowtrips" "$far" "$sample" "$work/proxy/trips" \
        >"$work/windows-$delay"
done
# One line an action: the trips (a/b as above) and the time at either delay.
printf '%-26s %7s %8s %9s\n' "" "trips" "0 ms" "50 ms"
awk '{ action = substr($0, 1, 24); sub(/ +$/, "", action); split(substr($0, 25), f, " ") }
    FNR == NR { order[++n] = action; trips[action] = f[1]; ms[action] = f[2]; next }
    { t = trips[action] == f[1] ? f[1] : trips[action] "/" f[1]
      printf "%-26s %7s %8s %9s\n", action, t, ms[action], f[2]; far[action] = f[1] }
    END { for (i = 1; i <= n; i++) print order[i] "|" far[order[i]] > "/dev/stderr" }' \
    "$work/windows-0" "$work/windows-50" 2>"$work/windows-far"
# A window opens in three round trips at most; a move and a write-back take one each.
while IFS='|' read -r action n; do
    case "$action" in
    "main window shown" | "class editor opened" | "class table opened" | "Connect to Team Database")
        goal "$action: round trips at 50 ms" "$n" 3 ;;
    "a move (mean)") goal "a move: round trips at 50 ms" "$n" 1 ;;
    "a write-back with a move") goal "$action: round trips at 50 ms" "$n" 2 ;;
    esac
done <"$work/windows-far"
