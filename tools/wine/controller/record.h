/* The line-status record the driver double reports, as a status line of vudizeri-wine-lines changes
 * it: "WORD CALLER HOLD", where CALLER is "-" (keep the caller), "." (an explicitly empty caller: all
 * 100 bytes cleared) or the caller's bytes in hex (the 100 bytes cleared, then at most 100 copied,
 * no NUL added at 100), and HOLD is "-" (keep) or the seconds. WORD becomes the status. The world's
 * driver double changes its record the same way (sim::DriverSetStatus); tests/test_wine_lines.cpp
 * holds the two together. Plain C, for the controller and the host tests alike. */
#ifndef VXDOUBLE_RECORD_H
#define VXDOUBLE_RECORD_H

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define VXD_RECORD_SIZE 112

static int VxdHexDigit(char c) { return c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= '0' && c <= '9' ? c - '0' : -1; }

/* Returns 0 for a line that is not "WORD CALLER HOLD" (the record is then left alone). */
static int VxdApplyStatus(unsigned char *record, const char *fields)
{
    unsigned long status;
    char caller[256], hold[32];
    if (sscanf(fields, "%lu %255s %31s", &status, caller, hold) != 3)
        return 0;
    if (strcmp(caller, "-") != 0) {
        memset(record, 0, 100);
        size_t n = strcmp(caller, ".") == 0 ? 0 : strlen(caller) / 2;
        for (size_t i = 0; i < n && i < 100; ++i) {
            int hi = VxdHexDigit(caller[2 * i]), lo = VxdHexDigit(caller[2 * i + 1]);
            if (hi < 0 || lo < 0)
                return 0;
            record[i] = (unsigned char)(hi * 16 + lo);
        }
    }
    if (strcmp(hold, "-") != 0) {
        unsigned int seconds = (unsigned int)strtoul(hold, NULL, 10);
        memcpy(record + 100, &seconds, 4);
    }
    unsigned int word = (unsigned int)status;
    memcpy(record + 104, &word, 4);
    return 1;
}

#endif
