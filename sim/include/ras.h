// The remote access subset the program uses, for the host build.
#ifndef SIM_RAS_H
#define SIM_RAS_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

DECLARE_HANDLE(HRASCONN);
#define RAS_MaxEntryName 256
#define RAS_MaxDeviceType 16
#define RAS_MaxDeviceName 128

/* The classic entry: dwSize, handle, entry name, device type and device name (412 bytes on 32-bit). */
typedef struct tagRASCONNA {
    DWORD dwSize;
    HRASCONN hrasconn;
    CHAR szEntryName[RAS_MaxEntryName + 1];
    CHAR szDeviceType[RAS_MaxDeviceType + 1];
    CHAR szDeviceName[RAS_MaxDeviceName + 1];
} RASCONNA, *LPRASCONNA;

#include <raserror.h>

DWORD WINAPI RasEnumConnectionsA(LPRASCONNA lprasconn, LPDWORD lpcb, LPDWORD lpcConnections);

#ifdef __cplusplus
}
#endif

#endif
