// The once-a-second status poll, the line-current warning and the notification state.
#ifndef NOTIFY_STATUS_POLL_H
#define NOTIFY_STATUS_POLL_H

#include <windows.h>

#define DIALOG_KIND_ON_HOLD 0
#define DIALOG_KIND_INCOMING 4
#define INCOMING_CALL_TIMEOUT 20
#define NO_COUNTDOWN 0xFFFF
#define CALLER_ID_BUFFER_SIZE 128

extern HWND CurrentDialog;        // the open call dialog, or NULL
extern DWORD DialogKind;          // DIALOG_KIND_INCOMING or DIALOG_KIND_ON_HOLD
extern DWORD CountdownSeconds;    // seconds left on the open dialog's countdown
extern BOOL CountdownRunning;     // FALSE while the open dialog counts nothing down (NO_COUNTDOWN)
extern DWORD LastStatusWord;      // the status word stored at the last change
extern char CallerIdBuffer[CALLER_ID_BUFFER_SIZE];

void CALLBACK StatusPollTick(HWND hwnd, UINT msg, UINT_PTR id, DWORD time);
void CloseCallDialog(void);
void ShowCallDialog(int template_id, DLGPROC proc);

#endif
