// SPDX-License-Identifier: GPL-3.0-or-later
/* The floor for reading a class table: one prepared SELECT through SQLite's
 * own API, every column of every row read as the engine holds it (a number or
 * a text), nothing shown.
 *   table_floor DATABASE SELECT */
#include <sqlite3.h>
#include <stdio.h>

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: table_floor DATABASE SELECT\n");
        return 2;
    }
    sqlite3 *db;
    sqlite3_stmt *select;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READONLY, NULL) != SQLITE_OK ||
        sqlite3_prepare_v2(db, argv[2], -1, &select, NULL) != SQLITE_OK) {
        fprintf(stderr, "%s\n", sqlite3_errmsg(db));
        return 1;
    }
    const int columns = sqlite3_column_count(select);
    long long rows = 0, sum = 0;
    int rc;
    while ((rc = sqlite3_step(select)) == SQLITE_ROW) {
        for (int c = 0; c < columns; ++c) {
            if (sqlite3_column_type(select, c) == SQLITE_TEXT)
                sum += sqlite3_column_bytes(select, c);
            else
                sum += sqlite3_column_int64(select, c);
        }
        ++rows;
    }
    printf("%lld rows (%lld)\n", rows, sum);
    sqlite3_finalize(select);
    sqlite3_close(db);
    return rc == SQLITE_DONE ? 0 : 1;
}
