// The watch thread: one read at a time on the voice device, the whole speakerphone block as buffer.
#include <windows.h>

#include "app/host_window.h"
#include "driver/device_link.h"
#include "speaker/streams.h"
#include "speaker/watch.h"

char WatchTrace[WATCH_TRACE_SIZE];  // the thread's last step, kept for a debugger

static void ShowReadFailure(void)
{
    DWORD error = GetLastError();
    LPSTR text = NULL;
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, NULL, error,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPSTR)&text, 0, NULL);
    // The system may have no text for the code: then the code itself is all there is to show.
    char fallback[48];
    if (!text)
        wsprintfA(fallback, "Error %lu", (unsigned long)error);
    MessageBoxA(NULL, text ? text : fallback, "GetLastError", MB_ICONINFORMATION);
    LocalFree(text);
}

DWORD WINAPI WatchProc(LPVOID param)
{
    wsprintfA(WatchTrace, "WatchProc enter");
    for (;;) {
        // The device, the block and the window are fetched afresh on every pass.
        DWORD transferred;
        if (!ReadFile(VoiceDevice, pSpkLockMem, SPK_READ_LENGTH, &transferred, NULL)) {
            ShowReadFailure();
            // The shut-down may be looking at the handle right now: it is cleared in one exchange.
            InterlockedExchangePointer((PVOID volatile *)&WatchThread, NULL);
            return 0;
        }
        if (pSpkLockMem->Status == SPK_STATUS_REQUESTS) {
            wsprintfA(WatchTrace, "WatchProc pD=%d, rD=%d", (int)pSpkLockMem->pD, (int)pSpkLockMem->rD);
            // Every change stops both streams before starting the wanted ones, playback first.
            StopPlayback();
            StopRecord();
            if (pSpkLockMem->pD & SPK_PLAY_WANTED)
                StartPlayback(HostWindow);
            if (pSpkLockMem->rD & SPK_REC_WANTED)
                StartRecord(HostWindow);
            continue;
        }
        wsprintfA(WatchTrace, "pSpkLockMem->Status != 1");
        if (pSpkLockMem->Status == SPK_STATUS_STOP)
            return 0;
    }
}
