// The once-a-second status poll and the notification state it shares with the call dialogs.
#include <windows.h>

#include "app/host_window.h"
#include "app/user_language.h"
#include "driver/device_link.h"
#include "driver/line_status.h"
#include "notify/call_dialogs.h"
#include "notify/status_poll.h"
#include "notify/warning_texts.h"
#include "res/resource.h"

HWND CurrentDialog;                          // the open call dialog, or NULL
DWORD DialogKind;                            // which kind of dialog is current
DWORD CountdownSeconds;                      // seconds left on the open dialog
BOOL CountdownRunning;                       // whether the open dialog counts down at all
DWORD LastStatusWord;                        // the status word at the last change
char CallerIdBuffer[CALLER_ID_BUFFER_SIZE];  // the caller shown by the dialogs
static BOOL WarningOpen;                     // a line-current warning is on screen

// Step 1: one second off the open dialog's countdown; an incoming call left unanswered is ignored.
static void CountDown(void)
{
    if (!CurrentDialog || !CountdownRunning)
        return;
    // A countdown that starts at 0 expires at once instead of wrapping round to four billion.
    if (CountdownSeconds > 0)
        CountdownSeconds--;
    if (DialogKind == DIALOG_KIND_ON_HOLD) {
        char text[HOLD_TIME_TEXT_SIZE];
        FormatHoldTime(text, CountdownSeconds);
        SetDlgItemTextA(CurrentDialog, IDC_HOLD_TIME, text);
    }
    if (CountdownSeconds != 0)
        return;
    // An on-hold dialog runs out silently: the service provider hangs up by itself.
    if (DialogKind == DIALOG_KIND_INCOMING) {
        DWORD code = RESPONSE_IGNORE;
        if (IsDlgButtonChecked(CurrentDialog, IDC_NO_MORE_PROMPTS) == BST_CHECKED)
            code |= RESPONSE_NO_MORE_PROMPTS;
        SendCallResponse(code);
    }
    CloseCallDialog();
}

// Step 3. The message box runs a modal loop in which this timer keeps firing: the ticks nested in
// it go on counting down and opening and closing dialogs, but open no second warning on top.
static void ShowLineCurrentWarning(void)
{
    if (WarningOpen)
        return;
    WarningOpen = TRUE;
    MessageBoxA(NULL, LineCurrentWarningText(UserLanguage), WARNING_CAPTION, MB_OK | MB_TOPMOST);
    WarningOpen = FALSE;
}

void CALLBACK StatusPollTick(HWND hwnd, UINT msg, UINT_PTR id, DWORD time)
{
    CountDown();

    if (!ModemControlDevice || !pLineStatusRecord)
        return;
    if (!ReadLineStatus())
        return;

    // The no-suspend bit is not part of the line-current test; the Modem-On-Hold bit is.
    DWORD masked = pLineStatusRecord->StatusWord & ~(DWORD)STATUS_NO_SUSPEND;
    if (masked == STATUS_LINE_CURRENT)
        ShowLineCurrentWarning();

    // A shut-down inside the warning has freed the record; ticks inside it may have refilled it.
    if (!pLineStatusRecord)
        return;
    DWORD word = pLineStatusRecord->StatusWord;
    if (word == LastStatusWord)
        return;
    LastStatusWord = word;

    // The call state comes from this tick's own read: after a warning it is 0x100, no call event.
    BOOL moh_supported = (masked & STATUS_MOH_SUPPORTED) != 0;
    DWORD call_state = masked & ~(DWORD)STATUS_MOH_SUPPORTED;
    switch (call_state) {
    case CALL_IDLE:
        DialogKind = DIALOG_KIND_ON_HOLD;
        CloseCallDialog();
        break;
    case CALL_INCOMING:
    case CALL_INCOMING_ID:
        DialogKind = DIALOG_KIND_INCOMING;
        CloseCallDialog();
        ShowCallDialog(moh_supported ? IDD_INCOMING_CALL_MOH : IDD_INCOMING_CALL, IncomingCallDialogProc);
        break;
    case CALL_ON_HOLD:
        DialogKind = DIALOG_KIND_ON_HOLD;
        CloseCallDialog();
        ShowCallDialog(IDD_ON_HOLD, OnHoldDialogProc);
        break;
    default:
        break;
    }
}

void CloseCallDialog(void)
{
    if (CurrentDialog) {
        DestroyWindow(CurrentDialog);
        CurrentDialog = NULL;
    }
}

void ShowCallDialog(int template_id, DLGPROC proc)
{
    // The dialog's WM_INITDIALOG runs inside the creation.
    CurrentDialog = CreateDialogParamA(ProgramInstance, MAKEINTRESOURCEA(template_id), HostWindow, proc, 0);
    if (!CurrentDialog)
        return;
    ShowWindow(CurrentDialog, SW_SHOW);

    // Centred on the primary screen at its own size, above every window that is not top-most.
    RECT rect = {0, 0, 0, 0};
    GetWindowRect(CurrentDialog, &rect);
    int x = (GetSystemMetrics(SM_CXSCREEN) + rect.left - rect.right) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) + rect.top - rect.bottom) / 2;
    SetWindowPos(CurrentDialog, HWND_TOPMOST, x, y, 0, 0, SWP_NOSIZE);
}
