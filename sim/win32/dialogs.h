// The dialog manager of the world (the user32 dialog area): dialog templates from the program's
// resources, modeless dialogs with their controls, the "#32770", "Button" and "Static" classes.
//
// Geometry, as Windows 2000 and XP draw a classic dialog at 96 dots per inch:
// - "MS Sans Serif" 8 has the dialog base units 6 x 13: a dialog unit is MulDiv(x, 6, 4) pixels across
//   and MulDiv(y, 13, 8) down, rounded to the nearest pixel as MapDialogRect does.
// - A dialog with a caption and a modal frame gets SM_CXDLGFRAME = SM_CYDLGFRAME = 3 pixels of frame
//   on each side and SM_CYCAPTION = 19 pixels of caption above its client area; a resizable frame
//   (WS_THICKFRAME) is SM_CXFRAME = 4, a thin border SM_CXBORDER = 1.
//
// Trace: a call dialog is announced ("dialog") when it is first drawn, that is once it is visible and
// its thread has gone back to waiting for messages: by then ShowCallDialog has moved it to its final,
// centred position. A control's text set after that is traced as "text"; "closed" follows when the
// dialog is destroyed. A dialog destroyed before it was ever drawn is announced as it is destroyed,
// so every "closed" has its "dialog".
#ifndef SIM_DIALOGS_H
#define SIM_DIALOGS_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>


namespace sim {

// One control of a dialog template (DLGITEMTEMPLATE). Texts are UTF-8.
struct DialogItem {
    DWORD style = 0, exstyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    WORD id = 0;
    WORD class_atom = 0;          // 0x80 Button, 0x82 Static, ...; 0 when the class is a name
    std::string class_name;       // "Button", "Static", ... (also filled for an atom)
    std::string title;            // empty when the title is an ordinal
    WORD title_ordinal = 0;       // a resource id instead of a text, 0 if none
    std::vector<uint8_t> data;    // creation data
};

// A dialog template (DLGTEMPLATE). Texts are UTF-8.
struct DialogTemplate {
    DWORD style = 0, exstyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::string menu;             // empty for none; "#N" for an ordinal
    std::string class_name;       // empty for the dialog class "#32770"
    std::string title;
    WORD font_size = 0;           // with DS_SETFONT
    std::string font_name;
    std::vector<DialogItem> items;
};

// Parses an RT_DIALOG resource; throws std::runtime_error on a truncated or malformed template and on
// the extended (DIALOGEX) form, which the program does not use.
DialogTemplate ParseDialogTemplate(const uint8_t *data, size_t size);

// Dialog units to pixels for "MS Sans Serif" 8.
int DialogUnitsToPixelsX(int x);
int DialogUnitsToPixelsY(int y);
// The window rectangle for a client rectangle (AdjustWindowRectEx without a menu).
void AdjustForFrame(RECT &rect, DWORD style, DWORD exstyle);

// Registers "#32770", "Button" and "Static"; done by the first CreateDialogParamA as well.
void RegisterDialogClasses();

// What is on the screen, for the scripted user (world/user.cpp): the open call dialog (the most
// recent visible one, or null), its control with that id (null if none), and what kind of control
// a window is.
HWND TopCallDialog();
HWND CallDialogControl(HWND dialog, int id);
bool IsButtonWindow(HWND hwnd);
bool IsCheckBoxWindow(HWND hwnd);

// The message a button gets from the world for the user's action (wParam: a UserInput);
// class-private, and never sent by the program.
enum UserInput { kUserClick = 0, kUserCheck = 1, kUserUncheck = 2 };
constexpr UINT kButtonUserInput = WM_USER + 0x3F00;

}  // namespace sim

#endif
