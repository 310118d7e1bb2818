// The call dialogs' procedures: the incoming-call dialogs (101, 103) and the on-hold dialog (102).
#ifndef NOTIFY_CALL_DIALOGS_H
#define NOTIFY_CALL_DIALOGS_H

#include <windows.h>

#define CALLER_ID_NOT_AVAILABLE "Caller ID information is not available"
#define HOLD_TIME_NA_TEXT "NA"
// "%02d:%02d" of the largest count: eight digits of minutes, a colon, two of seconds and the NUL.
#define HOLD_TIME_TEXT_SIZE 16

INT_PTR CALLBACK IncomingCallDialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK OnHoldDialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Minutes and seconds of an on-hold time, as the on-hold dialog shows them.
void FormatHoldTime(LPSTR text, DWORD seconds);

#endif
