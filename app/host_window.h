// Process entry, the hidden host window and the routing of its messages.
#ifndef APP_HOST_WINDOW_H
#define APP_HOST_WINDOW_H

#include <windows.h>

#define HOST_WINDOW_CLASS "Tarvo VudIzeri"

extern HINSTANCE ProgramInstance;  // this module: the call dialogs' templates are loaded from it
extern HWND HostWindow;            // recorded first thing in WM_CREATE, never changed afterwards

LRESULT CALLBACK HostWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Hands a wave notice, with the device and header it names, to the stream it belongs to.
void RouteWaveMessage(UINT msg, WPARAM wParam, LPARAM lParam);

#endif
