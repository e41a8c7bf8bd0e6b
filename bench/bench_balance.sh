#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Balancing: tarn-cli apply of a sheet of 30,000 classes with 1,000 changed
# cells (show --format csv, every 30th class's speed changed) against an
# import of the same classes from a class file, taking turns, best of RUNS;
# then the Balance window's chart of 200 classes following a stored value, and
# built anew (bench_balance).
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
cli="$build/bin/tarn-cli"
N=${TARN_BENCH_CLASSES:-30000}
RUNS=${TARN_BENCH_RUNS:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/xdg"
export XDG_RUNTIME_DIR="$work/xdg"

mkdir "$work/empty"
"$cli" --data-dir "$work/empty" init --sample >/dev/null
"$cli" --data-dir "$work/empty" list >/dev/null # upgrade done before any timing
gen "$N" class >"$work/big.class"
fresh_run() {
    rm -rf "$work/d"
    cp -r "$work/empty" "$work/d"
}
fresh_run
"$cli" --data-dir "$work/d" import Bench "$work/big.class" >/dev/null
"$cli" --data-dir "$work/d" show --format csv Bench >"$work/shown.csv"
# The generated names hold no comma, so fields split plainly.
awk -F, -v OFS=, 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == "max_speed") s = i }
    NR > 1 && $1 ~ /^[0-9]+$/ && $1 % 30 == 0 { $s = $s + 1; changed++ }
    { print } END { if (changed != 1000 && '"$N"' == 30000) exit 1 }' \
    "$work/shown.csv" >"$work/sheet.csv"
changed=$("$cli" --data-dir "$work/d" apply --dry-run Bench "$work/sheet.csv" | grep -c '^  ')

# Each run: the classes imported as Bench, untimed; then the sheet applied to
# them, or the same classes imported once more under another name.
PREPARE="'$cli' --data-dir '$work/d' import Bench '$work/big.class' >/dev/null"
read -r t_apply t_import < <(race \
    "'$cli' --data-dir '$work/d' apply Bench '$work/sheet.csv'" \
    "'$cli' --data-dir '$work/d' import Again '$work/big.class'")
unset PREPARE

echo "apply of a $N-class sheet with $changed changed cells, against an import of the same classes"
echo "(best of $RUNS runs taken in turns)"
printf '%-8s %9ss\n' apply "$t_apply" import "$t_import"
goal "apply / import of $N classes" "$(ratio "$t_apply" "$t_import")" 1.5

fresh_run
large_data "$work/c" "$cli" 0 200
"$build/bin/bench_balance" "$work/c" Large "$RUNS" >"$work/out"
grep -v '^figure ' "$work/out"
goal "Balance chart of 200 classes redrawn after a stored value (ms)" \
    "$(sed -n 's/^figure redraw //p' "$work/out")" 100
