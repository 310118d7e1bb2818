// The call dialogs: they fill themselves from the line-status record when they open and turn the
// user's button presses into responses to the driver.
#include <windows.h>

#include <string.h>

#include "driver/device_link.h"
#include "driver/line_status.h"
#include "notify/call_dialogs.h"
#include "notify/status_poll.h"
#include "res/resource.h"

void FormatHoldTime(LPSTR text, DWORD seconds)
{
    // Minutes take as many digits as they need: 6000 seconds show as 100:00.
    wsprintfA(text, "%02d:%02d", (int)(seconds / 60), (int)(seconds % 60));
}

static_assert(CALLER_ID_SIZE < CALLER_ID_BUFFER_SIZE, "a whole caller field and its NUL fit the buffer");

// The caller shown by both dialogs: the driver's identity when the call has one, else the default.
static void FillCallerIdBuffer(void)
{
    const LineStatusRecord *record = pLineStatusRecord;
    if (!record || (record->StatusWord & CALL_STATE_MASK) != CALL_INCOMING_ID) {
        memcpy(CallerIdBuffer, CALLER_ID_NOT_AVAILABLE, sizeof(CALLER_ID_NOT_AVAILABLE));
        return;
    }
    // The field is 100 bytes: an identity that fills it without a NUL is shown whole, terminated in
    // the larger buffer, and nothing past the field is read.
    int n = 0;
    while (n < CALLER_ID_SIZE && record->CallerId[n] != '\0') {
        CallerIdBuffer[n] = record->CallerId[n];
        n++;
    }
    CallerIdBuffer[n] = '\0';
}

// The user's answer to an incoming call: sent once, and the dialog closes whatever became of it.
static void AnswerIncomingCall(HWND hwnd, DWORD code)
{
    if (IsDlgButtonChecked(hwnd, IDC_NO_MORE_PROMPTS) == BST_CHECKED)
        code |= RESPONSE_NO_MORE_PROMPTS;
    SendCallResponse(code);
    DestroyWindow(hwnd);
    CurrentDialog = NULL;
}

INT_PTR CALLBACK IncomingCallDialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG:
        FillCallerIdBuffer();
        SetDlgItemTextA(hwnd, IDC_CALLER_ID, CallerIdBuffer);
        CountdownSeconds = INCOMING_CALL_TIMEOUT;
        CountdownRunning = TRUE;
        return TRUE;

    case WM_COMMAND:
        // Only a click on one of the two buttons answers; a click on the check box only ticks it.
        if (wParam == IDC_ACCEPT) {
            AnswerIncomingCall(hwnd, RESPONSE_ACCEPT);
            return TRUE;
        }
        if (wParam == IDC_IGNORE) {
            AnswerIncomingCall(hwnd, RESPONSE_IGNORE);
            return TRUE;
        }
        return FALSE;

    default:
        return FALSE;
    }
}

INT_PTR CALLBACK OnHoldDialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG: {
        // The caller is the one the last incoming-call dialog left; the record is not consulted.
        SetDlgItemTextA(hwnd, IDC_CALLER_ID, CallerIdBuffer);
        DWORD hold = pLineStatusRecord ? pLineStatusRecord->HoldSeconds : HOLD_TIME_NOT_AVAILABLE;
        CountdownSeconds = hold;
        CountdownRunning = hold != HOLD_TIME_NOT_AVAILABLE;
        if (hold == HOLD_TIME_NOT_AVAILABLE) {
            SetDlgItemTextA(hwnd, IDC_HOLD_TIME, HOLD_TIME_NA_TEXT);
        } else {
            char text[HOLD_TIME_TEXT_SIZE];
            FormatHoldTime(text, hold);
            SetDlgItemTextA(hwnd, IDC_HOLD_TIME, text);
        }
        return TRUE;
    }

    case WM_COMMAND:
        // Every command is swallowed; only "Back On-Line" answers, and never with the no-prompt flag.
        if (wParam == IDC_BACK_ONLINE) {
            SendCallResponse(RESPONSE_BACK_ONLINE);
            DestroyWindow(hwnd);
            CurrentDialog = NULL;
        }
        return TRUE;

    default:
        return FALSE;
    }
}
