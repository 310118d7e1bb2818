// The suspend veto: while the driver sets its no-suspend bit, requests to suspend are refused;
// outside the NT family of major version 5 they pass while exactly one dial-up connection is active.
#include <windows.h>
#include <ras.h>

#include <stdint.h>
#include <string.h>

#include "app/power.h"
#include "driver/device_link.h"
#include "driver/line_status.h"

// One connection entry in its classic form: the size, the handle and the three names. The
// remote-access service tells the forms of the entry apart by dwSize; the platform headers now
// declare a larger RASCONNA, so the classic form is laid out here. It is 412 bytes in the 32-bit
// program; with a 64-bit handle the same form is 424 bytes, and that is what the 64-bit build passes.
typedef struct tagClassicRasConn {
    DWORD dwSize;
    HRASCONN hrasconn;
    CHAR szEntryName[RAS_MaxEntryName + 1];
    CHAR szDeviceType[RAS_MaxDeviceType + 1];
    CHAR szDeviceName[RAS_MaxDeviceName + 1];
} ClassicRasConn;

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(ClassicRasConn) == 412, "the classic entry of the 32-bit systems");
#else
static_assert(sizeof(ClassicRasConn) == 424, "the classic entry with a 64-bit handle");
#endif

LRESULT HandlePowerBroadcast(HWND hwnd, WPARAM wParam, LPARAM lParam)
{
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExA(&version);

    if (wParam != PBT_APMQUERYSUSPEND)
        return DefWindowProcA(hwnd, WM_POWERBROADCAST, wParam, lParam);
    // The status word is the one the poll stored last; a record that was never read is all zero.
    if (!pLineStatusRecord || !(pLineStatusRecord->StatusWord & STATUS_NO_SUSPEND))
        return DefWindowProcA(hwnd, WM_POWERBROADCAST, wParam, lParam);
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion == 5)
        return BROADCAST_QUERY_DENY;
    // Elsewhere the request passes while exactly one dial-up connection is active.
    if (IsDialUpConnected() == 1)
        return DefWindowProcA(hwnd, WM_POWERBROADCAST, wParam, lParam);
    return BROADCAST_QUERY_DENY;
}

int IsDialUpConnected(void)
{
    HGLOBAL memory = GlobalAlloc(GMEM_ZEROINIT, sizeof(ClassicRasConn));
    if (!memory)
        return 0;
    ClassicRasConn *entry = (ClassicRasConn *)GlobalLock(memory);
    if (!entry) {
        GlobalFree(memory);
        return 0;
    }
    entry->dwSize = sizeof(ClassicRasConn);
    DWORD size = sizeof(ClassicRasConn);
    DWORD connections = 0;

    // Room for one entry only: with two or more connections the call reports the buffer too
    // small, and that counts as not connected.
    DWORD result = RasEnumConnectionsA((LPRASCONNA)entry, &size, &connections);

    GlobalUnlock(memory);
    GlobalFree(memory);
    if (result != 0)
        return 0;
    return connections != 0 ? 1 : 0;
}
