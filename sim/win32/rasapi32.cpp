// rasapi32: the active dial-up connections, as RasEnumConnectionsA reports them.
#include <windows.h>
#include <ras.h>

#include <cstdio>
#include <cstring>

#include "system.h"
#include "world.h"

namespace sim {
namespace {

int dialup_connections = 0;  // active connections
int dialup_queries = 0;

// The entry sizes this system accepts in dwSize: the classic 32-bit entry (a 4-byte handle) and
// the host's own RASCONNA, the same entry with the host's handle.
constexpr DWORD kClassicEntrySize = 412;

// The later forms of the entry, in the host's layout: the phone-book path and sub-entry (WINVER
// 0x401), then the entry's GUID (0x500). The remote-access service of Windows 95, 98 and NT 4
// knows only the classic form and answers ERROR_INVALID_SIZE to these; Me, 2000 and later take
// them.
struct RasConn401 {
    RASCONNA classic;
    CHAR szPhonebook[MAX_PATH];
    DWORD dwSubEntry;
};
struct RasConn500 {
    RasConn401 earlier;
    DWORD guidEntry[4];  // a GUID
};

bool KnownEntrySize(DWORD size)
{
    if (size == kClassicEntrySize || size == sizeof(RASCONNA))
        return true;
    bool later_forms = !IsWindows95() && !IsWindows98() && !IsNtBefore5();
    return later_forms && (size == sizeof(RasConn401) || size == sizeof(RasConn500));
}

// Writes entry `index` in the layout that `size` names: the handle follows dwSize, aligned to its
// own width, and the three names follow the handle.
void FillEntry(unsigned char *entry, DWORD size, int index)
{
    std::memset(entry, 0, size);
    std::memcpy(entry, &size, sizeof(DWORD));
    size_t handle_size = size == kClassicEntrySize ? 4 : sizeof(HRASCONN);
    uint64_t handle = 0x5000 + static_cast<uint64_t>(index) * 4;
    std::memcpy(entry + handle_size, &handle, handle_size);
    char *names = reinterpret_cast<char *>(entry + 2 * handle_size);
    std::snprintf(names, RAS_MaxEntryName + 1, "Connection %d", index + 1);
    std::snprintf(names + RAS_MaxEntryName + 1, RAS_MaxDeviceType + 1, "modem");
    std::snprintf(names + RAS_MaxEntryName + 1 + RAS_MaxDeviceType + 1, RAS_MaxDeviceName + 1,
                  "Modem %d", index + 1);
}

}  // namespace

void SetDialUpConnections(int connections) { dialup_connections = connections < 0 ? 0 : connections; }
int DialUpQueries() { return dialup_queries; }

}  // namespace sim

using namespace sim;

DWORD WINAPI RasEnumConnectionsA(LPRASCONNA lprasconn, LPDWORD lpcb, LPDWORD lpcConnections)
{
    PlatformCall call("RasEnumConnectionsA");
    YieldPoint();
    ++dialup_queries;
    if (auto error = call.Fault())
        return *error;
    if (!lpcb || !lpcConnections)
        return ERROR_INVALID_PARAMETER;
    DWORD count = static_cast<DWORD>(dialup_connections);
    // No buffer: the caller asks for the size needed.
    if (!lprasconn) {
        *lpcConnections = 0;
        *lpcb = count * static_cast<DWORD>(sizeof(RASCONNA));
        return count ? ERROR_BUFFER_TOO_SMALL : ERROR_SUCCESS;
    }
    DWORD size = lprasconn->dwSize;
    if (!KnownEntrySize(size))
        return ERROR_INVALID_SIZE;
    DWORD needed = count * size;
    if (*lpcb < needed) {
        *lpcb = needed;
        *lpcConnections = 0;
        return ERROR_BUFFER_TOO_SMALL;
    }
    auto *entries = reinterpret_cast<unsigned char *>(lprasconn);
    for (DWORD i = 0; i < count; ++i)
        FillEntry(entries + i * size, size, static_cast<int>(i));
    *lpcb = needed;
    *lpcConnections = count;
    return ERROR_SUCCESS;
}
