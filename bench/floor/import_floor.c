// SPDX-License-Identifier: GPL-3.0-or-later
/* The floor for storing classes: the same rows the class-file benchmark
 * imports, generated in memory (no file is read or parsed), stored through
 * SQLite's own API with one prepared 69-column INSERT, bound per row, in one
 * transaction, plus the package row.
 *   import_floor DATABASE NAME COUNT */
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>

static int fail(sqlite3 *db, const char *what)
{
    fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
    return 1;
}

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: import_floor DATABASE NAME COUNT\n");
        return 2;
    }
    const char *name = argv[2];
    const int n = atoi(argv[3]);
    sqlite3 *db;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, NULL) != SQLITE_OK)
        return fail(db, "open");
    char sql[4096];
    int len = snprintf(sql, sizeof sql,
                       "INSERT INTO classdef (package_name, class_name, class_num, skin_name1, "
                       "skin_name2, model_name");
    for (int k = 1; k <= 10; ++k)
        len += snprintf(sql + len, sizeof sql - len, ", w%d", k);
    len += snprintf(sql + len, sizeof sql - len, ", g1, g2, g3, max_speed, max_health, max_armor");
    for (int k = 1; k <= 9; ++k)
        len += snprintf(sql + len, sizeof sql - len, ", i%d", k);
    for (int k = 1; k <= 31; ++k)
        len += snprintf(sql + len, sizeof sql - len, ", s%d", k);
    len += snprintf(sql + len, sizeof sql - len,
                    ", decoyskin, maxbullets, maxshells, maxrockets, maxgrenades, maxcells, "
                    "maxslugs) VALUES (?");
    for (int k = 2; k <= 69; ++k)
        len += snprintf(sql + len, sizeof sql - len, ", ?");
    snprintf(sql + len, sizeof sql - len, ")");

    sqlite3_stmt *insert;
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", NULL, NULL, NULL) != SQLITE_OK)
        return fail(db, "begin");
    if (sqlite3_prepare_v2(db, sql, -1, &insert, NULL) != SQLITE_OK)
        return fail(db, "prepare");
    char text[4][32];
    for (int i = 1; i <= n; ++i) {
        int c = 1;
        snprintf(text[0], sizeof text[0], "Class %d", i);
        snprintf(text[1], sizeof text[1], "red%d", i % 5);
        snprintf(text[2], sizeof text[2], "blue%d", i % 3);
        snprintf(text[3], sizeof text[3], "model%d", i % 7);
        sqlite3_bind_text(insert, c++, name, -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, c++, text[0], -1, SQLITE_STATIC);
        sqlite3_bind_int(insert, c++, i);
        for (int t = 1; t < 4; ++t)
            sqlite3_bind_text(insert, c++, text[t], -1, SQLITE_STATIC);
        for (int k = 1; k <= 10; ++k)
            sqlite3_bind_int(insert, c++, (i + k) % 8);
        for (int k = 1; k <= 3; ++k)
            sqlite3_bind_int(insert, c++, (i + k) % 4);
        sqlite3_bind_int(insert, c++, 300 + i % 100);
        sqlite3_bind_int(insert, c++, 100 + i % 50);
        sqlite3_bind_int(insert, c++, i % 200);
        const long long isum = i % 512, ssum = ((long long)i * 7919) % 2147483647;
        for (int k = 0; k < 9; ++k)
            sqlite3_bind_int(insert, c++, (int)((isum >> k) & 1));
        for (int k = 0; k < 31; ++k)
            sqlite3_bind_int(insert, c++, (int)((ssum >> k) & 1));
        sqlite3_bind_int(insert, c++, i % 10);
        for (int k = 1; k <= 6; ++k)
            sqlite3_bind_int(insert, c++, (i * k) % 1000);
        if (sqlite3_step(insert) != SQLITE_DONE)
            return fail(db, "insert");
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_stmt *package;
    if (sqlite3_prepare_v2(db, "INSERT INTO package (package_name) VALUES (?)", -1, &package,
                           NULL) != SQLITE_OK)
        return fail(db, "prepare");
    sqlite3_bind_text(package, 1, name, -1, SQLITE_STATIC);
    if (sqlite3_step(package) != SQLITE_DONE)
        return fail(db, "insert");
    sqlite3_finalize(package);
    if (sqlite3_exec(db, "COMMIT", NULL, NULL, NULL) != SQLITE_OK)
        return fail(db, "commit");
    return sqlite3_close(db) == SQLITE_OK ? 0 : 1;
}
