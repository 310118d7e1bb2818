/* rasapi32: RasEnumConnectionsA's buffer and dwSize rules, with the classic entry as the program
 * sizes it by hand (412 bytes on 32-bit: dwSize, handle, entry name, device type, device name). */
#include "test.h"

typedef struct {
    DWORD dwSize;
    HRASCONN hrasconn;
    CHAR szEntryName[RAS_MaxEntryName + 1];
    CHAR szDeviceType[RAS_MaxDeviceType + 1];
    CHAR szDeviceName[RAS_MaxDeviceName + 1];
} classic_entry;

typedef struct {
    classic_entry classic;
    CHAR szPhonebook[MAX_PATH];
    DWORD dwSubEntry;
} later_entry;

void func_rasapi32(void)
{
    classic_entry entries[2];
    memset(entries, 0, sizeof(entries));
    ok(sizeof(classic_entry) == (sizeof(void *) == 4 ? 412 : 424), "the classic entry is %u bytes\n",
       (unsigned)sizeof(classic_entry));
    entries[0].dwSize = sizeof(classic_entry);
    DWORD cb = sizeof(entries), count = 99;
    DWORD r = RasEnumConnectionsA((LPRASCONNA)entries, &cb, &count);
    ok(r == ERROR_SUCCESS && count == 0, "no connections: %u, count %u\n", (unsigned)r, (unsigned)count);
    ok_windows(cb == 0, "no connections need %u bytes\n", (unsigned)cb);
    cb = sizeof(classic_entry);
    count = 99;
    r = RasEnumConnectionsA((LPRASCONNA)entries, &cb, &count);
    ok(r == ERROR_SUCCESS && count == 0, "one entry's buffer: %u, count %u\n", (unsigned)r, (unsigned)count);

    /* Wine's RasEnumConnectionsA is a stub (dlls/rasapi32/rasapi.c: no connections, nothing checked):
     * the size rules are checked in the world only. */
    entries[0].dwSize = 100;
    cb = sizeof(entries);
    ok_windows(RasEnumConnectionsA((LPRASCONNA)entries, &cb, &count) == ERROR_INVALID_SIZE,
               "a wrong dwSize did not answer ERROR_INVALID_SIZE\n");
    entries[0].dwSize = 0;
    ok_windows(RasEnumConnectionsA((LPRASCONNA)entries, &cb, &count) == ERROR_INVALID_SIZE,
               "a zero dwSize did not answer ERROR_INVALID_SIZE\n");
    /* The later forms of the entry (WINVER 0x401: phone book and sub-entry; 0x500: the entry's
     * GUID): Windows 95, 98 and NT 4 know only the classic one and answer ERROR_INVALID_SIZE; Me,
     * 2000 and later take them. */
    struct {
        later_entry entry;
        DWORD guidEntry[4]; /* a GUID */
    } later[2];
    memset(later, 0, sizeof(later));
    DWORD sizes[2] = {sizeof(later_entry), sizeof(later[0])};
    for (int i = 0; i < 2; ++i) {
        later[0].entry.classic.dwSize = sizes[i];
        cb = sizeof(later);
        count = 99;
        r = RasEnumConnectionsA((LPRASCONNA)later, &cb, &count);
        if (conformance_win95() || conformance_win98() || conformance_nt_before5())
            ok_windows(r == ERROR_INVALID_SIZE, "an entry of %u bytes: %u, expected ERROR_INVALID_SIZE\n",
                       (unsigned)sizes[i], (unsigned)r);
        else
            ok_windows(r == ERROR_SUCCESS && count == 0, "an entry of %u bytes: %u, count %u\n", (unsigned)sizes[i],
                       (unsigned)r, (unsigned)count);
    }

    entries[0].dwSize = sizeof(classic_entry);
    ok_windows(RasEnumConnectionsA((LPRASCONNA)entries, NULL, &count) == ERROR_INVALID_PARAMETER,
               "no size pointer did not answer ERROR_INVALID_PARAMETER\n");
    cb = sizeof(entries);
    ok_windows(RasEnumConnectionsA((LPRASCONNA)entries, &cb, NULL) == ERROR_INVALID_PARAMETER,
               "no count pointer did not answer ERROR_INVALID_PARAMETER\n");
    cb = 0;
    count = 99;
    ok_windows(RasEnumConnectionsA(NULL, &cb, &count) == ERROR_SUCCESS && cb == 0 && count == 0,
               "no buffer and no connection: size %u, count %u\n", (unsigned)cb, (unsigned)count);
}
