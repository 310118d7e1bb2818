/* rasapi32.dll double for the program under Wine: RasEnumConnectionsA reporting as many active
 * dial-up connections as the controller says (VXD_DIALUP in the environment it gives the program),
 * with the world's rules (sim/rasapi32.cpp): the classic entry of 412 bytes (a 4-byte handle) or the
 * build's own classic entry with its natural handle, else ERROR_INVALID_SIZE; a buffer too small for
 * every entry: ERROR_BUFFER_TOO_SMALL with the size needed and no entry. Wine's own library always
 * reports none. Loaded from the program's directory through Wine's per-program DLL override. */
#include <windows.h>
#include <raserror.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define CLASSIC_ENTRY_SIZE 412
#define RAS_ENTRY_NAME 256
#define RAS_DEVICE_TYPE 16
#define RAS_DEVICE_NAME 128

/* The classic entry with this build's handle: 412 bytes on i686, 424 on x86_64. */
typedef struct {
    DWORD dwSize;
    HANDLE hrasconn;
    CHAR szEntryName[RAS_ENTRY_NAME + 1];
    CHAR szDeviceType[RAS_DEVICE_TYPE + 1];
    CHAR szDeviceName[RAS_DEVICE_NAME + 1];
} NaturalEntry;

static void FillEntry(unsigned char *entry, DWORD size, DWORD index)
{
    memset(entry, 0, size);
    memcpy(entry, &size, sizeof(DWORD));
    size_t handle_size = size == CLASSIC_ENTRY_SIZE ? 4 : sizeof(HANDLE);
    ULONGLONG handle = 0x5000 + (ULONGLONG)index * 4;
    memcpy(entry + handle_size, &handle, handle_size);
    char *names = (char *)(entry + 2 * handle_size);
    snprintf(names, RAS_ENTRY_NAME + 1, "Connection %lu", (unsigned long)index + 1);
    snprintf(names + RAS_ENTRY_NAME + 1, RAS_DEVICE_TYPE + 1, "modem");
    snprintf(names + RAS_ENTRY_NAME + 1 + RAS_DEVICE_TYPE + 1, RAS_DEVICE_NAME + 1, "Modem %lu", (unsigned long)index + 1);
}

__declspec(dllexport) DWORD WINAPI RasEnumConnectionsA(void *buffer, LPDWORD cb, LPDWORD connections)
{
    if (!cb || !connections)
        return ERROR_INVALID_PARAMETER;
    char text[16] = "0";
    GetEnvironmentVariableA("VXD_DIALUP", text, sizeof(text));
    DWORD count = (DWORD)strtoul(text, NULL, 10);
    if (!buffer) {
        *connections = 0;
        *cb = count * (DWORD)sizeof(NaturalEntry);
        return count ? ERROR_BUFFER_TOO_SMALL : ERROR_SUCCESS;
    }
    DWORD size;
    memcpy(&size, buffer, sizeof(size));
    if (size != CLASSIC_ENTRY_SIZE && size != sizeof(NaturalEntry))
        return ERROR_INVALID_SIZE;
    DWORD needed = count * size;
    if (*cb < needed) {
        *cb = needed;
        *connections = 0;
        return ERROR_BUFFER_TOO_SMALL;
    }
    for (DWORD i = 0; i < count; ++i)
        FillEntry((unsigned char *)buffer + i * size, size, i);
    *cb = needed;
    *connections = count;
    return ERROR_SUCCESS;
}
