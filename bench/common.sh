# SPDX-License-Identifier: GPL-3.0-or-later
# Helpers shared by the bench_*.sh scripts (sourced, not run).

# time_ms CMD...: the wall time of one run of CMD in milliseconds, output
# discarded.
time_ms() {
    local start=$EPOCHREALTIME
    "$@" >/dev/null
    awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f", (b - a) * 1000 }'
}

# median NUMBERS...: their median, one decimal.
median() {
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
        if (NR % 2) printf "%.1f", v[(NR + 1) / 2]; else printf "%.1f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

# large_data DIR CLI CONFIGS CLASSES: sample data files plus CONFIGS
# configurations named "Config 00001" and up, and "Large" with CLASSES classes
# copied from the sample's first class.
large_data() {
    local dir=$1 cli=$2 configs=$3 classes=$4
    mkdir -p "$dir"
    "$cli" --data-dir "$dir" init --sample >/dev/null
    "$cli" --data-dir "$dir" list >/dev/null # upgrade done before any timing
    local columns
    columns=$(sqlite3 "$dir/tarn_dat.mdb" "SELECT group_concat(name, ', ') FROM pragma_table_info('classdef')
        WHERE name NOT IN ('package_name', 'class_name', 'class_num')")
    sqlite3 "$dir/tarn_dat.mdb" <<SQL
BEGIN;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $configs)
INSERT INTO package (package_name) SELECT printf('Config %05d', i) FROM n;
INSERT INTO package (package_name) VALUES ('Large');
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $classes)
INSERT INTO classdef (package_name, class_name, class_num, $columns)
SELECT 'Large', 'Class ' || i, i, $columns FROM n,
    (SELECT * FROM classdef WHERE package_name = 'Sample Config' ORDER BY class_num LIMIT 1);
COMMIT;
SQL
}

# goal TEXT VALUE LIMIT: one line saying whether VALUE <= LIMIT.
goal() {
    awk -v t="$1" -v v="$2" -v l="$3" 'BEGIN {
        printf "goal: %-52s %8s <= %-6s %s\n", t, v, l, (v + 0 <= l + 0 ? "met" : "MISSED") }'
}

# gen N class|sql|copy: the same N classes as a class file, as SQL statements,
# or as the rows of COPY's text format (in the columns of COLUMNS_SQL).
gen() {
    awk -v n="$1" -v mode="$2" -v cols="$COLUMNS_SQL" 'BEGIN {
        if (mode == "class") printf "V3 bench\r\nBench\r\n";
        else if (mode == "sql") print "BEGIN;";
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
            } else if (mode == "copy") {
                v = "Bench\t" name "\t" i "\t" s1 "\t" s2 "\t" model;
                for (k = 1; k <= 10; k++) v = v "\t" w[k];
                for (k = 1; k <= 3; k++) v = v "\t" g[k];
                v = v "\t" speed "\t" health "\t" armor;
                x = isum; for (k = 1; k <= 9; k++) { v = v "\t" (x % 2); x = int(x / 2) }
                x = ssum; for (k = 1; k <= 31; k++) { v = v "\t" (x % 2); x = int(x / 2) }
                v = v "\t" decoy;
                for (k = 1; k <= 6; k++) v = v "\t" a[k];
                print v;
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
        if (mode == "sql") { print "INSERT INTO package (package_name) VALUES ('\''Bench'\'');"; print "COMMIT;" }
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

# race CMD...: runs each command (a shell string) RUNS times, taking turns, each
# run after the script's fresh_run and then $PREPARE when set; prints the best
# wall time of each in seconds, in order.
race() {
    local -a best=()
    local r i t start
    for ((r = 0; r < RUNS; r++)); do
        for ((i = 1; i <= $#; i++)); do
            fresh_run
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
