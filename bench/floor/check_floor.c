// SPDX-License-Identifier: GPL-3.0-or-later
/* The floor for reading a class file: every line read, split into its
 * space-separated fields, and every field that is not a name or a skin
 * converted with strtod; prints the number of classes.
 *   check_floor FILE */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: check_floor FILE\n");
        return 2;
    }
    FILE *in = fopen(argv[1], "rb");
    if (!in) {
        perror(argv[1]);
        return 1;
    }
    static char line[65536];
    long classes = 0, lineInBlock = -1;
    volatile double sink = 0; /* the conversions are the work measured */
    while (fgets(line, sizeof line, in)) {
        line[strcspn(line, "\r\n")] = '\0';
        if (line[0] == '[') {
            ++classes;
            lineInBlock = 0;
            continue;
        }
        if (lineInBlock < 0)
            continue;
        ++lineInBlock;
        int field = 0;
        for (char *f = strtok(line, " "); f; f = strtok(NULL, " "), ++field)
            if (lineInBlock > 1 || field == 3) /* line 1: model, skins, decoy skin */
                sink = strtod(f, NULL);
    }
    fclose(in);
    (void)sink;
    printf("%ld\n", classes);
    return 0;
}
