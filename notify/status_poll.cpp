// The once-a-second status poll and the notification state it shares with the call dialogs.
#include <windows.h>

#include "driver/device_link.h"
#include "driver/line_status.h"
#include "notify/status_poll.h"

HWND CurrentDialog;                          // the open call dialog, or NULL
DWORD DialogKind;                            // which kind of dialog is current
DWORD CountdownSeconds;                      // seconds left on the open dialog
DWORD LastStatusWord;                        // the status word at the last change
char CallerIdBuffer[CALLER_ID_BUFFER_SIZE];  // the caller shown by the dialogs

void CALLBACK StatusPollTick(HWND hwnd, UINT msg, UINT_PTR id, DWORD time)
{
    if (!ModemControlDevice || !pLineStatusRecord)
        return;
    if (!ReadLineStatus())
        return;
}

void CloseCallDialog(void)
{
    if (CurrentDialog) {
        DestroyWindow(CurrentDialog);
        CurrentDialog = NULL;
    }
}
