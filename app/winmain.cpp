// Process entry and the hidden host window.
#include <windows.h>
#include <mmsystem.h>

#include "app/chores.h"
#include "app/host_window.h"
#include "app/power.h"
#include "driver/device_link.h"
#include "speaker/streams.h"

HINSTANCE ProgramInstance;  // this module
HWND HostWindow;            // the hidden window every subsystem talks through

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow)
{
    WNDCLASSA wc;
    wc.style = 0;
    wc.lpfnWndProc = HostWindowProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = hInstance;
    wc.hIcon = LoadIconA(hInstance, "GENERIC");
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszMenuName = NULL;
    wc.lpszClassName = HOST_WINDOW_CLASS;
    if (!RegisterClassA(&wc))
        return 0;

    ProgramInstance = hInstance;
    // WM_CREATE, and with it the whole start-up, runs inside this call.
    HWND hwnd = CreateWindowExA(0, HOST_WINDOW_CLASS, HOST_WINDOW_CLASS, WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                NULL, NULL, hInstance, NULL);
    if (!hwnd)
        return 0;

    // The show command is ignored: the window stays hidden however the process was started.
    ShowWindow(hwnd, SW_HIDE);
    UpdateWindow(hwnd);

    // No dialog-message filtering: the modeless call dialogs get no keyboard handling from here.
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}

LRESULT CALLBACK HostWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_CREATE:
        // Nothing here may stop the creation: the program keeps running on its retry timer.
        StartDeviceLink(hwnd);
        CheckTelephonyLocation();
        RestoreControlApplet();
        return 0;

    case WM_DESTROY:
        StopDeviceLink();
        PostQuitMessage(0);
        return 0;

    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;

    case WM_POWERBROADCAST:
        return HandlePowerBroadcast(hwnd, wParam, lParam);

    case MM_WOM_OPEN:
    case MM_WOM_CLOSE:
    case MM_WOM_DONE:
    case MM_WIM_OPEN:
    case MM_WIM_CLOSE:
    case MM_WIM_DATA:
        RouteWaveMessage(msg, wParam, lParam);
        return DefWindowProcA(hwnd, msg, wParam, lParam);

    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

void RouteWaveMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    // wParam is the device that sent the notice, lParam the header it has finished with: the
    // handlers need both to tell a fresh notice from one left over by a stream since restarted.
    switch (msg) {
    case MM_WOM_DONE:
        OnPlaybackDone((HWAVEOUT)wParam, (LPWAVEHDR)lParam);
        break;
    case MM_WIM_DATA:
        OnRecordData((HWAVEIN)wParam, (LPWAVEHDR)lParam);
        break;
    default:
        // MM_WOM_OPEN, MM_WOM_CLOSE, MM_WIM_OPEN, MM_WIM_CLOSE: nothing to do.
        break;
    }
}
