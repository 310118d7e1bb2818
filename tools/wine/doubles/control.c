/* control.exe double, beside the program: what the program's WinExec of the telephony control panel
 * starts (the program's directory is searched first). It only stays until the controller, which
 * reports it as `exec`, ends it: Wine's own control.exe may be gone before anyone looks. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command, int show)
{
    (void)instance, (void)previous, (void)command, (void)show;
    Sleep(60000);
    return 0;
}
