#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# show and diff by tarn-cli on 30,000 classes: show in each format against an
# export of the same configuration, and diff of two class files against a
# check of both. The second file holds the classes of the first in reverse
# order, every 100th with another speed and every 1,000th renamed, so that diff
# matches every class by name. The commands of one figure take turns, run by
# run; best of RUNS each. Then the peak memory of each at 30,000 classes
# against 10.
set -euo pipefail
build=$1
source "$(dirname "$0")/common.sh"
cli="$build/bin/tarn-cli"
N=${TARN_BENCH_CLASSES:-30000}
RUNS=${TARN_BENCH_RUNS:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# other FILE: the classes of FILE last first, some changed, some renamed.
other() {
    awk 'BEGIN { RS = "\r\n\r\n" } NR == 1 { head = $0; next }
        { sub(/\r\n$/, ""); block[++n] = $0 }
        END {
            printf "%s\r\n", head
            for (i = n; i >= 1; i--) {
                split(block[i], line, "\r\n")
                if (i % 1000 == 0) sub(/^\[Class/, "[Renamed", line[1])
                if (i % 100 == 0) { split(line[5], f, " "); f[2] += 1
                    line[5] = f[1] " " f[2] " " f[3] "  " f[4] "  " f[5] }
                printf "\r\n%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n", line[1], line[2], line[3], line[4], line[5], line[6]
            }
        }' "$1"
}

"$cli" --data-dir "$work/d" init --sample >/dev/null
gen "$N" class >"$work/big.class"
other "$work/big.class" >"$work/big2.class"
gen 10 class >"$work/small.class"
other "$work/small.class" >"$work/small2.class"
"$cli" --data-dir "$work/d" import Bench "$work/big.class"
"$cli" --data-dir "$work/d" import Small "$work/small.class"

fresh_run() { :; }
d="--data-dir '$work/d'"
read -r exp text csv json < <(race \
    "'$cli' $d export --plain Bench '$work/out.class'" \
    "'$cli' $d show Bench" \
    "'$cli' $d show --format csv Bench" \
    "'$cli' $d show --format json Bench")
# diff says 1: the files differ.
read -r dif chk1 chk2 < <(race \
    "'$cli' $d diff '$work/big.class' '$work/big2.class' || [ \$? = 1 ]" \
    "'$cli' check '$work/big.class'" \
    "'$cli' check '$work/big2.class'")
checks=$(awk -v a="$chk1" -v b="$chk2" 'BEGIN { printf "%.3f", a + b }')

# rss COMMAND...: the peak resident memory of one run, in KiB.
rss() {
    /usr/bin/time -f %M -o "$work/m" "$@" >/dev/null || true
    tail -n 1 "$work/m"
}

echo "show and diff, $N classes, best of $RUNS runs taken in turns"
printf '%-22s %9ss\n' "export (plain)" "$exp"
for f in text csv json; do
    printf '%-22s %9ss   %s x export\n' "show --format $f" "${!f}" "$(ratio "${!f}" "$exp")"
done
printf '%-22s %9ss\n' "check of both files" "$checks"
printf '%-22s %9ss   %s x check\n' "diff of the files" "$dif" "$(ratio "$dif" "$checks")"
for f in text csv json; do
    goal "show --format $f / export" "$(ratio "${!f}" "$exp")" 2
done
goal "diff / check of both sides" "$(ratio "$dif" "$checks")" 2
echo "Peak RSS at $N classes against 10 (KiB):"
for f in text csv json; do
    big=$(rss "$cli" --data-dir "$work/d" show --format $f Bench)
    small=$(rss "$cli" --data-dir "$work/d" show --format $f Small)
    echo "  show --format $f: $big against $small"
    goal "peak memory: show --format $f, $N / 10" "$(ratio "$big" "$small")" 1.2
done
big=$(rss "$cli" --data-dir "$work/d" diff "$work/big.class" "$work/big2.class")
small=$(rss "$cli" --data-dir "$work/d" diff "$work/small.class" "$work/small2.class")
echo "  diff: $big against $small"
goal "peak memory: diff, $N / 10" "$(ratio "$big" "$small")" 1.2
