// SPDX-License-Identifier: GPL-3.0-or-later
/* The floor for writing classes: one prepared SELECT through SQLite's own
 * API, every column of every row written space-separated, a line a row.
 *   export_floor DATABASE SELECT OUTPUT */
#include <sqlite3.h>
#include <stdio.h>

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: export_floor DATABASE SELECT OUTPUT\n");
        return 2;
    }
    sqlite3 *db;
    sqlite3_stmt *select;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READONLY, NULL) != SQLITE_OK ||
        sqlite3_prepare_v2(db, argv[2], -1, &select, NULL) != SQLITE_OK) {
        fprintf(stderr, "%s\n", sqlite3_errmsg(db));
        return 1;
    }
    FILE *out = fopen(argv[3], "wb");
    if (!out) {
        perror(argv[3]);
        return 1;
    }
    const int columns = sqlite3_column_count(select);
    int rc;
    while ((rc = sqlite3_step(select)) == SQLITE_ROW) {
        for (int c = 0; c < columns; ++c) {
            if (c)
                fputc(' ', out);
            const unsigned char *text = sqlite3_column_text(select, c);
            if (text)
                fputs((const char *)text, out);
        }
        fputs("\r\n", out);
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    return (rc == SQLITE_DONE && fclose(out) == 0) ? 0 : 1;
}
