// The device link: opening, retrying and closing the driver's devices and the shared areas.
#include <windows.h>

#include "driver/device_link.h"
#include "app/host_window.h"
#include "app/user_language.h"
#include "notify/status_poll.h"
#include "speaker/streams.h"
#include "speaker/watch.h"

HANDLE VoiceDevice;                   // "\\.\VVOICE": the watch thread reads from it
HANDLE ModemControlDevice;            // "\\.\VXMCOM": the status poll and the responses
HANDLE WatchThread;                   // cleared by the thread itself when it ends on a failed read
SpkLockMem *pSpkLockMem;              // the speakerphone block
LineStatusRecord *pLineStatusRecord;  // the line-status record

static HANDLE OpenDevice(LPCSTR name)
{
    HANDLE device = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    return device == INVALID_HANDLE_VALUE ? NULL : device;
}

// The watch thread clears its own handle when it ends on a failed read, at any moment: every access
// to the handle from either thread is one atomic exchange.
static void StartWatchThread(void)
{
    // Windows 95, 98 and Me refuse to create a thread without a place for its identifier; the
    // identifier itself is of no use here and is not kept.
    DWORD threadId;
    HANDLE thread = CreateThread(NULL, 0, WatchProc, NULL, 0, &threadId);
    InterlockedExchangePointer((PVOID volatile *)&WatchThread, thread);
}

int AllocateSharedBlocks(void)
{
    pSpkLockMem = (SpkLockMem *)VirtualAlloc(NULL, SPK_LOCK_MEM_REQUEST, MEM_COMMIT, PAGE_READWRITE);
    if (!pSpkLockMem)
        return 0;
    pLineStatusRecord = (LineStatusRecord *)VirtualAlloc(NULL, sizeof(LineStatusRecord), MEM_COMMIT,
                                                         PAGE_READWRITE);
    return pLineStatusRecord != NULL;
}

static void FreeLineStatusRecord(void)
{
    if (pLineStatusRecord) {
        VirtualFree(pLineStatusRecord, 0, MEM_RELEASE);
        pLineStatusRecord = NULL;
    }
}

void FreeSharedBlocks(void)
{
    if (pSpkLockMem) {
        // The headers point into the block: the devices let go of it before it is released.
        StopPlayback();
        StopRecord();
        // A device that refused to close may still hold headers queued into the block: then the
        // block stays allocated for the rest of the process, and only the pointer is forgotten.
        if (!pSpkLockMem->hWaveOut && !pSpkLockMem->hWaveIn)
            VirtualFree(pSpkLockMem, 0, MEM_RELEASE);
        pSpkLockMem = NULL;
    }
    FreeLineStatusRecord();
}

int StartDeviceLink(HWND hwnd)
{
    HostWindow = hwnd;
    ReadUserLanguage();
    LastStatusWord = 0;
    DialogKind = 0;
    // The stream guards exist before the block, and so before any thread or notice can use them.
    InitStreamGuards();
    AllocateSharedBlocks();

    VoiceDevice = OpenDevice(VOICE_DEVICE_NAME);
    if (!VoiceDevice) {
        SetTimer(hwnd, DEVICE_RETRY_TIMER, DEVICE_RETRY_PERIOD, DeviceRetryTick);
        return -1;
    }
    // The thread reads the block, the device and the window: all three are set by now.
    StartWatchThread();

    ModemControlDevice = OpenDevice(MODEM_CONTROL_DEVICE_NAME);
    if (!ModemControlDevice) {
        SetTimer(hwnd, DEVICE_RETRY_TIMER, DEVICE_RETRY_PERIOD, DeviceRetryTick);
        return -1;
    }
    SetTimer(hwnd, STATUS_POLL_TIMER, STATUS_POLL_PERIOD, StatusPollTick);
    return 0;
}

void CALLBACK DeviceRetryTick(HWND hwnd, UINT msg, UINT_PTR id, DWORD time)
{
    // Always the voice device first; a thread that ended on its own is not started again.
    if (!VoiceDevice) {
        VoiceDevice = OpenDevice(VOICE_DEVICE_NAME);
        if (!VoiceDevice)
            return;
        StartWatchThread();
    }
    if (!ModemControlDevice) {
        ModemControlDevice = OpenDevice(MODEM_CONTROL_DEVICE_NAME);
        if (!ModemControlDevice)
            return;
        SetTimer(hwnd, STATUS_POLL_TIMER, STATUS_POLL_PERIOD, StatusPollTick);
    }
    KillTimer(HostWindow, DEVICE_RETRY_TIMER);
}

void StopDeviceLink(void)
{
    // The stop signal goes into the block before the wait; the thread sees it once the driver
    // completes its pending read.
    if (pSpkLockMem)
        pSpkLockMem->Status = SPK_STATUS_STOP;
    KillTimer(HostWindow, STATUS_POLL_TIMER);

    // The handle is taken once, and the one waited for is the one closed, also when the thread ends
    // on a failed read during the wait (its box dismissed meanwhile) and clears the variable.
    HANDLE thread = (HANDLE)InterlockedExchangePointer((PVOID volatile *)&WatchThread, NULL);
    BOOL reader_left = FALSE;
    if (thread) {
        // A failed wait is no sign that the thread ended: like one that outlasts the time-out it is
        // terminated, so the block is never released under a read that may still be pending.
        if (WaitForSingleObject(thread, WATCH_STOP_WAIT) != WAIT_OBJECT_0 && !TerminateThread(thread, 0))
            reader_left = TRUE;
        CloseHandle(thread);
    }
    // The devices close only once no thread can be reading from them. A thread that neither ended
    // nor could be terminated may still be in its read into the block, and uses the device, the
    // block and the stream guards when the read returns: those stay for the rest of the process.
    if (VoiceDevice && !reader_left) {
        CloseHandle(VoiceDevice);
        VoiceDevice = NULL;
    }
    if (ModemControlDevice) {
        CloseHandle(ModemControlDevice);
        ModemControlDevice = NULL;
    }
    if (reader_left) {
        StopPlayback();
        StopRecord();
        FreeLineStatusRecord();
    } else {
        FreeSharedBlocks();
        DeleteStreamGuards();
    }
    CloseCallDialog();
}
