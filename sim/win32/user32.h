// Windows, message queues and timers of the world (the user32 area), for the other areas of sim/.
#ifndef SIM_USER32_H
#define SIM_USER32_H

#include <windows.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "world.h"

namespace sim {

struct Window {
    HWND handle = nullptr;
    std::string cls;            // class name as registered
    std::string title;          // window text (for controls: their text)
    WNDPROC proc = nullptr;
    DWORD style = 0, exstyle = 0;
    HWND parent = nullptr;      // for WS_CHILD windows
    HWND owner = nullptr;       // for owned top-level windows
    HMENU menu = nullptr;       // for children: the control id
    SimThread *thread = nullptr;
    bool visible = false;
    bool topmost = false;
    RECT rect{};                // screen coordinates
    int order = 0;              // creation order, for deterministic searches
    // Dialogs and controls (filled by the dialog manager).
    DLGPROC dlgproc = nullptr;
    LRESULT msgresult = 0;      // DWLP_MSGRESULT
    int dialog_template = 0;    // resource id of the dialog it was built from, 0 if none
    int check = 0;              // BST_CHECKED state of a check box
    HFONT font = nullptr;       // the font a control was given with WM_SETFONT
    // Hooks the areas set: when the window's visibility changes, and as it is destroyed.
    std::function<void(Window &)> on_shown;
    std::function<void(Window &)> on_destroy;
    std::function<void(Window &)> on_pos;  // after SetWindowPos
    bool destroying = false;
};

// The program's module handle, as the loader gives it to WinMain.
inline HINSTANCE const kProgramInstance = (HINSTANCE)(uintptr_t)0x400000;

// Built-in window classes ("Button", "Static", "#32770") come from the area that implements them.
void RegisterSystemClass(const std::string &name, WNDPROC proc);

Window *FindWin(HWND hwnd);                 // null for a handle that is not (or no longer) a window
std::vector<Window *> AllWindows();         // in creation order
Window *FindTopLevel(const std::string &cls, const std::string &title);  // empty: any
HWND CreateWin(DWORD exstyle, const std::string &cls, const std::string &title, DWORD style, RECT rect,
               HWND parent, HMENU menu, LPVOID param);

// Calls a window procedure (program code): never from a world event.
LRESULT CallProc(Window *w, UINT msg, WPARAM wParam, LPARAM lParam);

// From a world event: delivers a message to the window's thread as another process would.
void PostFromWorld(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// From a world event: sends a message that the window's thread handles the next time it looks at its
// queue (sent messages go before posted ones); `done` receives the window's answer.
void SendFromWorld(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, std::function<void(LRESULT)> done);

// A message loop on the calling thread until stop() holds: what modal loops (message boxes) run.
// Returns false if WM_QUIT arrived (it is posted again for the outer loop, as Windows does).
bool ModalLoop(const std::function<bool()> &stop);

// The scripted user dismisses the message box opened last (with that caption, UTF-8, when one is
// given); false when there is no such box.
bool DismissMessageBox(const std::optional<std::string> &caption);
bool DismissInnermostMessageBox();

// A thread was terminated: its message boxes close (traced "messagebox-closed") and its windows are
// destroyed with it, without a message (no code of that thread runs again).
void DestroyThreadWindows(SimThread *t);

int ScreenWidth();
int ScreenHeight();
void SetScreen(int width, int height);

}  // namespace sim

#endif
