// The link to the modem driver: its two devices, the two shared areas, the watch thread, the timers.
#ifndef DRIVER_DEVICE_LINK_H
#define DRIVER_DEVICE_LINK_H

#include <windows.h>

#include "driver/line_status.h"
#include "speaker/spk_lock_mem.h"

#define VOICE_DEVICE_NAME "\\\\.\\VVOICE"
#define MODEM_CONTROL_DEVICE_NAME "\\\\.\\VXMCOM"

#define STATUS_POLL_TIMER 1
#define STATUS_POLL_PERIOD 1000
#define DEVICE_RETRY_TIMER 2
#define DEVICE_RETRY_PERIOD 60000
#define WATCH_STOP_WAIT 2000

extern HANDLE VoiceDevice;                      // "\\.\VVOICE", NULL while not open
extern HANDLE ModemControlDevice;               // "\\.\VXMCOM", NULL while not open
extern HANDLE WatchThread;                      // NULL while there is no thread
extern SpkLockMem *pSpkLockMem;                 // the speakerphone block, NULL while not allocated
extern LineStatusRecord *pLineStatusRecord;     // NULL while not allocated

int StartDeviceLink(HWND hwnd);
void CALLBACK DeviceRetryTick(HWND hwnd, UINT msg, UINT_PTR id, DWORD time);
void StopDeviceLink(void);
int AllocateSharedBlocks(void);
void FreeSharedBlocks(void);

#endif
