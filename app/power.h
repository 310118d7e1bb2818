// The suspend veto: the host window's answer to WM_POWERBROADCAST.
#ifndef APP_POWER_H
#define APP_POWER_H

#include <windows.h>

LRESULT HandlePowerBroadcast(HWND hwnd, WPARAM wParam, LPARAM lParam);
int IsDialUpConnected(void);

#endif
