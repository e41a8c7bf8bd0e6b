#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The windows on large data, offscreen: the main window with 10,000
# configurations, the class editor on 1,000 classes (bench_windows).
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/xdg"
export XDG_RUNTIME_DIR="$work/xdg"

large_data "$work/d" "$build/bin/tarn-cli" "${TARN_BENCH_CONFIGS:-10000}" 1000
QT_QPA_PLATFORM=offscreen "$build/bin/bench_windows" "$work/d" Large 7 >"$work/out"
grep -v '^figure ' "$work/out"
figure() { sed -n "s/^figure $1 //p" "$work/out"; }
goal "main window shown with 10,000 configurations (ms)" "$(figure shown)" 100
goal "list of 10,000 refilled (ms)" "$(figure refilled)" 100
goal "class editor on 1,000 classes shown (ms)" "$(figure opened)" 100
goal "a move between classes, median (ms)" "$(figure move)" 5
