/* user32: modeless dialogs from the suite's own templates: creation order, WM_SETFONT, WM_INITDIALOG,
 * WS_VISIBLE, controls, texts, automatic check boxes, BM_CLICK, geometry, z-order, closing. */
#include "test.h"

#include "conformance.h"

static UINT order[16];
static int norder;
static int visible_at_init = -1, controls_at_font = -1, controls_at_init = -1;
static WPARAM init_focus;
static LPARAM init_param;
static HFONT font_given;
static WPARAM last_command;
static LPARAM last_command_from;
static int commands;

static INT_PTR CALLBACK dialog_proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_SETFONT:
        if (norder < 16)
            order[norder++] = msg;
        font_given = (HFONT)wParam;
        controls_at_font = GetDlgItem(hwnd, IDOK) != NULL;
        return FALSE;
    case WM_INITDIALOG:
        if (norder < 16)
            order[norder++] = msg;
        visible_at_init = IsWindowVisible(hwnd);
        controls_at_init = GetDlgItem(hwnd, IDOK) != NULL && GetDlgItem(hwnd, IDC_CHECK) != NULL;
        init_focus = wParam;
        init_param = lParam;
        return TRUE;
    case WM_COMMAND:
        last_command = wParam;
        last_command_from = lParam;
        ++commands;
        return TRUE;
    case WM_DESTROY:
        if (norder < 16)
            order[norder++] = msg;
        return FALSE;
    }
    return FALSE;
}

static void pump_posted(void) { conformance_pump(30); }

static void test_creation(HWND owner)
{
    SET_ERROR();
    ok(CreateDialogParamA(conformance_instance(), MAKEINTRESOURCEA(IDD_MISSING), owner, dialog_proc, 0) == NULL,
       "a dialog was made from a missing template\n");
    ok(GetLastError() == ERROR_RESOURCE_NAME_NOT_FOUND, "error %u, expected ERROR_RESOURCE_NAME_NOT_FOUND\n",
       (unsigned)GetLastError());
    SET_ERROR();
    ok(CreateDialogParamA(conformance_instance(), MAKEINTRESOURCEA(IDD_VISIBLE), (HWND)(ULONG_PTR)0xdead0,
                          dialog_proc, 0) == NULL,
       "a dialog was made with an owner that is no window\n");
    ok(GetLastError() == ERROR_INVALID_WINDOW_HANDLE, "error %u, expected ERROR_INVALID_WINDOW_HANDLE\n",
       (unsigned)GetLastError());

    norder = 0;
    HWND dlg = CreateDialogParamA(conformance_instance(), MAKEINTRESOURCEA(IDD_VISIBLE), owner, dialog_proc, 0x77);
    ok(dlg != NULL, "CreateDialogParamA failed, error %u\n", (unsigned)GetLastError());
    ok(norder == 2 && order[0] == WM_SETFONT && order[1] == WM_INITDIALOG,
       "the procedure saw %d messages (%#x, %#x), expected WM_SETFONT then WM_INITDIALOG\n", norder, order[0],
       order[1]);
    ok(controls_at_font == 0, "the controls existed before WM_SETFONT\n");
    ok(controls_at_init == 1, "the controls did not exist at WM_INITDIALOG\n");
    ok(visible_at_init == 0, "the dialog was visible during WM_INITDIALOG\n");
    ok(init_param == 0x77, "WM_INITDIALOG carried %#x, expected the init parameter\n", (unsigned)init_param);
    ok(init_focus == (WPARAM)GetDlgItem(dlg, IDOK), "WM_INITDIALOG's wParam is not the first tab stop\n");
    ok(font_given != NULL && (HFONT)SendMessageA(dlg, WM_GETFONT, 0, 0) == font_given,
       "WM_GETFONT does not answer the template's font\n");
    ok((HFONT)SendDlgItemMessageA(dlg, IDOK, WM_GETFONT, 0, 0) == font_given,
       "the controls did not get the dialog's font\n");
    ok(IsWindowVisible(dlg), "a WS_VISIBLE template's dialog is not visible\n");
    ok(GetWindowLongA(dlg, GWL_STYLE) & WS_VISIBLE, "no WS_VISIBLE in the dialog's style\n");
    ok((GetWindowLongA(dlg, GWL_STYLE) & WS_CAPTION) == WS_CAPTION, "no caption in the dialog's style\n");
    char text[64];
    ok(GetWindowTextA(dlg, text, sizeof(text)) && !strcmp(text, "Conformance Visible"), "caption '%s'\n", text);
    ok(FindWindowA("#32770", "Conformance Visible") == dlg, "FindWindowA does not find the dialog by class\n");

    /* Controls by id; a missing id fails with its error. */
    HWND check = GetDlgItem(dlg, IDC_CHECK);
    ok(check != NULL && IsWindow(check), "no check box\n");
    ok(GetWindowLongA(check, GWL_STYLE) & WS_CHILD, "the check box is not a child\n");
    ok(GetDlgItem(dlg, IDC_TEXT) != NULL, "no text control\n");
    SET_ERROR();
    ok(GetDlgItem(dlg, 4321) == NULL, "a control nobody has was found\n");
    /* Wine 8's GetDlgItem leaves the last error as it was; Windows sets ERROR_CONTROL_ID_NOT_FOUND
     * (as ReactOS's GetDlgItem does) and ERROR_INVALID_WINDOW_HANDLE for no dialog. */
    ok_windows(GetLastError() == ERROR_CONTROL_ID_NOT_FOUND, "error %u, expected ERROR_CONTROL_ID_NOT_FOUND\n",
               (unsigned)GetLastError());
    SET_ERROR();
    ok(GetDlgItem((HWND)(ULONG_PTR)0xdead0, IDOK) == NULL, "GetDlgItem of no dialog found a control\n");
    ok_windows(GetLastError() == ERROR_INVALID_WINDOW_HANDLE, "GetDlgItem of no dialog: error %u\n",
               (unsigned)GetLastError());
    ok(GetWindowTextA(check, text, sizeof(text)) && !strcmp(text, "Check me"), "check box text '%s'\n", text);

    /* Texts. */
    ok(SetDlgItemTextA(dlg, IDC_TEXT, "Changed text"), "SetDlgItemTextA failed\n");
    ok(GetWindowTextA(GetDlgItem(dlg, IDC_TEXT), text, sizeof(text)) && !strcmp(text, "Changed text"),
       "text '%s'\n", text);
    ok(SetDlgItemTextA(dlg, IDC_TEXT, ""), "SetDlgItemTextA of an empty text failed\n");
    ok(GetWindowTextA(GetDlgItem(dlg, IDC_TEXT), text, sizeof(text)) == 0, "text '%s' after emptying\n", text);
    SET_ERROR();
    ok(!SetDlgItemTextA(dlg, 4321, "x"), "SetDlgItemTextA of a missing control succeeded\n");

    /* Automatic check box: BM_CLICK toggles it and tells the dialog at once with BN_CLICKED. */
    ok(IsDlgButtonChecked(dlg, IDC_CHECK) == BST_UNCHECKED, "the check box starts checked\n");
    commands = 0;
    SendMessageA(check, BM_CLICK, 0, 0);
    ok(IsDlgButtonChecked(dlg, IDC_CHECK) == BST_CHECKED, "BM_CLICK did not check the box\n");
    ok(commands == 1 && last_command == MAKEWPARAM(IDC_CHECK, BN_CLICKED) && last_command_from == (LPARAM)check,
       "the dialog heard %d commands, last %#x from %p\n", commands, (unsigned)last_command,
       (void *)last_command_from);
    SendDlgItemMessageA(dlg, IDC_CHECK, BM_CLICK, 0, 0);
    ok(IsDlgButtonChecked(dlg, IDC_CHECK) == BST_UNCHECKED, "a second BM_CLICK did not uncheck it\n");
    SendDlgItemMessageA(dlg, IDC_CHECK, BM_SETCHECK, BST_CHECKED, 0);
    ok(IsDlgButtonChecked(dlg, IDC_CHECK) == BST_CHECKED, "BM_SETCHECK did not check it\n");
    ok(SendDlgItemMessageA(dlg, IDC_CHECK, BM_GETCHECK, 0, 0) == BST_CHECKED, "BM_GETCHECK disagrees\n");
    commands = 0;
    SendDlgItemMessageA(dlg, IDC_PUSH, BM_CLICK, 0, 0);
    ok(commands == 1 && last_command == MAKEWPARAM(IDC_PUSH, BN_CLICKED), "a push button's BM_CLICK: %#x\n",
       (unsigned)last_command);
    ok(IsDlgButtonChecked(dlg, IDC_PUSH) == BST_UNCHECKED, "a push button is checked\n");
    SendDlgItemMessageA(dlg, IDC_PUSH, BM_SETCHECK, BST_CHECKED, 0);
    ok(IsDlgButtonChecked(dlg, IDC_PUSH) == BST_UNCHECKED, "a push button took a check\n");
    ok(IsDlgButtonChecked(dlg, 4321) == 0, "a missing button is checked\n");
    SendDlgItemMessageA(dlg, IDC_CHECK, BM_SETCHECK, BST_INDETERMINATE, 0);
    ok(IsDlgButtonChecked(dlg, IDC_CHECK) == BST_CHECKED, "a two-state box took a third state\n");
    /* The template's fixed texts carry the id 65535. */
    ok(GetDlgItem(dlg, 0xFFFF) != NULL, "no control of id 65535\n");

    /* Geometry: 200 x 100 dialog units of "MS Sans Serif" 8 (base units 6 x 13: 300 x 163 pixels)
     * inside a 3-pixel modal frame and a 19-pixel caption, at 10, 10 dialog units in the owner's
     * client area. Wine draws the template's font with a substitute of other base units (see
     * tools/wine/fidelity.md): the pixels are checked in the world only. */
    RECT r, owner_rect, ok_rect;
    GetWindowRect(dlg, &r);
    GetWindowRect(owner, &owner_rect);
    GetWindowRect(GetDlgItem(dlg, IDOK), &ok_rect);
    ok_windows(r.right - r.left == 306 && r.bottom - r.top == 188, "dialog of %dx%d pixels\n",
               (int)(r.right - r.left), (int)(r.bottom - r.top));
    ok_windows(ok_rect.right - ok_rect.left == 75 && ok_rect.bottom - ok_rect.top == 23, "OK button of %dx%d\n",
               (int)(ok_rect.right - ok_rect.left), (int)(ok_rect.bottom - ok_rect.top));
    ok_windows(r.left == owner_rect.left + 15 - 3 && r.top == owner_rect.top + 16 - 3 - 19,
               "dialog at %d,%d for an owner at %d,%d\n", (int)r.left, (int)r.top, (int)owner_rect.left,
               (int)owner_rect.top);
    ok(ok_rect.left > r.left && ok_rect.right < r.right && ok_rect.top > r.top && ok_rect.bottom < r.bottom,
       "the OK button is not inside its dialog\n");

    /* SetWindowPos with HWND_TOPMOST: moved, same size, topmost; the controls move with it. */
    ok(SetWindowPos(dlg, HWND_TOPMOST, 100, 120, 0, 0, SWP_NOSIZE), "SetWindowPos failed\n");
    RECT moved, ok_moved;
    GetWindowRect(dlg, &moved);
    GetWindowRect(GetDlgItem(dlg, IDOK), &ok_moved);
    ok(moved.left == 100 && moved.top == 120, "moved to %d,%d\n", (int)moved.left, (int)moved.top);
    ok(moved.right - moved.left == r.right - r.left && moved.bottom - moved.top == r.bottom - r.top,
       "SWP_NOSIZE changed the size\n");
    ok(ok_moved.left - moved.left == ok_rect.left - r.left && ok_moved.top - moved.top == ok_rect.top - r.top,
       "the OK button did not move with its dialog\n");
    ok(GetWindowLongA(dlg, GWL_EXSTYLE) & WS_EX_TOPMOST, "HWND_TOPMOST did not make the dialog topmost\n");

    /* WM_CLOSE's default handling posts IDCANCEL's BN_CLICKED (from the Cancel button). */
    commands = 0;
    PostMessageA(dlg, WM_CLOSE, 0, 0);
    pump_posted();
    ok(commands == 1 && last_command == MAKEWPARAM(IDCANCEL, BN_CLICKED) &&
           last_command_from == (LPARAM)GetDlgItem(dlg, IDCANCEL),
       "WM_CLOSE gave %d commands, last %#x\n", commands, (unsigned)last_command);
    ok(IsWindow(dlg), "WM_CLOSE destroyed a dialog whose procedure handles IDCANCEL\n");

    /* Destroying the dialog destroys its controls. */
    norder = 0;
    ok(DestroyWindow(dlg), "DestroyWindow failed\n");
    ok(!IsWindow(dlg) && !IsWindow(check), "the dialog or its check box survived\n");
    ok(norder == 1 && order[0] == WM_DESTROY, "the procedure saw %d messages at destruction\n", norder);
}

static void test_hidden(HWND owner)
{
    HWND dlg = CreateDialogParamA(conformance_instance(), MAKEINTRESOURCEA(IDD_HIDDEN), owner, dialog_proc, 0);
    ok(dlg != NULL, "CreateDialogParamA failed, error %u\n", (unsigned)GetLastError());
    ok(!IsWindowVisible(dlg), "a template without WS_VISIBLE gave a visible dialog\n");
    HWND alone = CreateDialogParamA(conformance_instance(), MAKEINTRESOURCEA(IDD_HIDDEN), NULL, dialog_proc, 0);
    RECT r;
    GetWindowRect(alone, &r);
    /* At 0, 0 of no owner the frame would stick out of the screen: the dialog is kept on it. */
    ok(r.left == 0 && r.top == 0, "a dialog at 0, 0 of the screen is at %d,%d\n", (int)r.left, (int)r.top);
    DestroyWindow(alone);
    ok(ShowWindow(dlg, SW_SHOWNORMAL) == FALSE, "ShowWindow answered that it was visible\n");
    ok(IsWindowVisible(dlg), "shown, yet not visible\n");
    /* Without a Cancel button WM_CLOSE still posts IDCANCEL's BN_CLICKED, from no control: the
     * documented default ("Posts the BN_CLICKED notification ... specifying IDCANCEL"). */
    commands = 0;
    PostMessageA(dlg, WM_CLOSE, 0, 0);
    pump_posted();
    ok(commands == 1 && last_command == MAKEWPARAM(IDCANCEL, BN_CLICKED) && last_command_from == 0,
       "WM_CLOSE without a Cancel button: %d commands, last %#x from %p\n", commands, (unsigned)last_command,
       (void *)last_command_from);

    /* An owner's destruction destroys its dialog first. */
    norder = 0;
    DestroyWindow(owner);
    ok(!IsWindow(dlg), "the dialog outlived its owner\n");
    ok(norder == 1 && order[0] == WM_DESTROY, "the dialog's procedure saw %d messages\n", norder);
}

void func_user32_dialog(void)
{
    HWND owner = conformance_window(50, 60, 400, 300, NULL, NULL);
    test_creation(owner);
    test_hidden(owner);
}
