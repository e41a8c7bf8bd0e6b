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
