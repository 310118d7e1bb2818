/* user32: window classes, creation and destruction, texts, visibility, placement. */
#include "test.h"

/* The messages of creation and destruction each window saw, in order: (window number, message). */
static struct {
    int window;
    UINT msg;
} seen[64];
static int nseen;
static HWND numbered[8];
static LONG create_style;
static LPVOID create_param;
static LRESULT create_answer;  /* what WM_CREATE answers */

static int number_of(HWND hwnd)
{
    for (int i = 0; i < 8; ++i)
        if (numbered[i] == hwnd)
            return i;
    return -1;
}

static LRESULT CALLBACK logging_proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if ((msg == WM_NCCREATE || msg == WM_CREATE || msg == WM_DESTROY || msg == WM_NCDESTROY) && nseen < 64) {
        seen[nseen].window = number_of(hwnd);
        seen[nseen].msg = msg;
        ++nseen;
    }
    if (msg == WM_CREATE) {
        const CREATESTRUCTA *cs = (const CREATESTRUCTA *)lParam;
        create_style = cs->style;
        create_param = cs->lpCreateParams;
        return create_answer;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

static HWND make(int number, const char *title, DWORD style, HWND parent)
{
    /* The handle is known only once CreateWindowExA returns: creation messages come as window -1. */
    HWND hwnd = CreateWindowExA(0, "ConfLogging", title, style, 10 * number, 20, 100, 50, parent, NULL,
                                conformance_instance(), NULL);
    numbered[number] = hwnd;
    return hwnd;
}

static int seen_index(int window, UINT msg)
{
    for (int i = 0; i < nseen; ++i)
        if (seen[i].window == window && seen[i].msg == msg)
            return i;
    return -1;
}

static void test_classes(void)
{
    WNDCLASSA wc;
    memset(&wc, 0, sizeof(wc));
    wc.lpfnWndProc = logging_proc;
    wc.hInstance = conformance_instance();
    wc.hIcon = LoadIconA(NULL, IDI_APPLICATION);
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszClassName = "ConfLogging";
    ok(wc.hIcon != NULL, "LoadIconA(NULL, IDI_APPLICATION) gave no icon\n");
    ok(wc.hCursor != NULL, "LoadCursorA(NULL, IDC_ARROW) gave no cursor\n");
    ok(wc.hbrBackground != NULL, "GetStockObject(WHITE_BRUSH) gave no brush\n");
    ATOM atom = RegisterClassA(&wc);
    ok(atom != 0, "RegisterClassA failed, error %u\n", (unsigned)GetLastError());
    SET_ERROR();
    ok(RegisterClassA(&wc) == 0, "a second RegisterClassA of the same class succeeded\n");
    ok(GetLastError() == ERROR_CLASS_ALREADY_EXISTS, "error %u, expected ERROR_CLASS_ALREADY_EXISTS\n",
       (unsigned)GetLastError());
    wc.lpszClassName = "CONFLOGGING";
    SET_ERROR();
    ok(RegisterClassA(&wc) == 0, "class names are not case-insensitive\n");
    ok(GetLastError() == ERROR_CLASS_ALREADY_EXISTS, "error %u, expected ERROR_CLASS_ALREADY_EXISTS\n",
       (unsigned)GetLastError());

    /* Extra bytes: a negative count is refused everywhere; more than 40 only by Windows 95, which
     * names no error code for it (Wine has no such limit). */
    wc.lpszClassName = "ConfExtra";
    wc.cbWndExtra = -1;
    SET_ERROR();
    ok(RegisterClassA(&wc) == 0 && GetLastError() == ERROR_INVALID_PARAMETER,
       "a negative window extra was taken: error %u\n", (unsigned)GetLastError());
    wc.cbWndExtra = 0;
    wc.cbClsExtra = -1;
    SET_ERROR();
    ok(RegisterClassA(&wc) == 0 && GetLastError() == ERROR_INVALID_PARAMETER,
       "a negative class extra was taken: error %u\n", (unsigned)GetLastError());
    wc.cbClsExtra = 0;
    for (int which = 0; which < 2; ++which) {
        wc.lpszClassName = which ? "ConfClassExtra" : "ConfWindowExtra";
        wc.cbWndExtra = which ? 0 : 44;
        wc.cbClsExtra = which ? 44 : 0;
        ATOM extra = RegisterClassA(&wc);
        if (conformance_win95())
            ok_windows(extra == 0, "Windows 95 took %s extra bytes of 44\n", which ? "class" : "window");
        else
            ok(extra != 0, "%s extra bytes of 44 were refused, error %u\n", which ? "class" : "window",
               (unsigned)GetLastError());
    }
    wc.lpszClassName = "ConfExtra40";
    wc.cbWndExtra = wc.cbClsExtra = 40;
    ok(RegisterClassA(&wc) != 0, "40 extra bytes each were refused, error %u\n", (unsigned)GetLastError());
    wc.cbWndExtra = wc.cbClsExtra = 0;
    wc.lpszClassName = "ConfLogging";

    SET_ERROR();
    HWND hwnd = CreateWindowExA(0, "ConfNoSuchClass", "", WS_POPUP, 0, 0, 10, 10, NULL, NULL,
                                conformance_instance(), NULL);
    ok(hwnd == NULL, "a window of an unknown class was created\n");
    /* Wine 8 answers ERROR_CLASS_DOES_NOT_EXIST (1411) from its class lookup in win32u; Windows
     * reports ERROR_CANNOT_FIND_WND_CLASS (1407) for CreateWindowEx of a class never registered. */
    ok_windows(GetLastError() == ERROR_CANNOT_FIND_WND_CLASS, "error %u, expected ERROR_CANNOT_FIND_WND_CLASS\n",
               (unsigned)GetLastError());
    SET_ERROR();
    hwnd = CreateWindowExA(0, "ConfLogging", "", WS_CHILD, 0, 0, 10, 10, (HWND)(ULONG_PTR)0xdead0, NULL,
                           conformance_instance(), NULL);
    ok(hwnd == NULL, "a child of no window was created\n");
    ok(GetLastError() == ERROR_INVALID_WINDOW_HANDLE, "error %u, expected ERROR_INVALID_WINDOW_HANDLE\n",
       (unsigned)GetLastError());

    /* The module's own icon group by name; a missing one fails with its error code. */
    ok(LoadIconA(conformance_instance(), "CONFICON") != NULL, "the module's icon group was not found\n");
    SET_ERROR();
    ok(LoadIconA(conformance_instance(), "NOSUCHICON") == NULL, "a missing icon group was found\n");
    /* After the icon group the animated icon is looked for, and the module has none of that type. */
    ok(GetLastError() == ERROR_RESOURCE_TYPE_NOT_FOUND, "error %u, expected ERROR_RESOURCE_TYPE_NOT_FOUND\n",
       (unsigned)GetLastError());
}

static void test_create(void)
{
    static int param;
    nseen = 0;
    numbered[0] = NULL;
    HWND hwnd = CreateWindowExA(0, "ConfLogging", "first", WS_POPUP, 10, 20, 100, 50, NULL, NULL,
                                conformance_instance(), &param);
    numbered[0] = hwnd;
    ok(hwnd != NULL, "CreateWindowExA failed, error %u\n", (unsigned)GetLastError());
    ok(nseen == 2 && seen[0].msg == WM_NCCREATE && seen[1].msg == WM_CREATE,
       "creation sent %d messages, first %#x; expected WM_NCCREATE then WM_CREATE\n", nseen,
       nseen ? seen[0].msg : 0);
    ok(create_param == &param, "WM_CREATE carried %p, expected the creation parameter %p\n", create_param,
       (void *)&param);
    ok((create_style & WS_POPUP) != 0, "WM_CREATE's style %#x lacks WS_POPUP\n", (unsigned)create_style);
    ok(IsWindow(hwnd), "IsWindow is false for a created window\n");
    ok(!IsWindowVisible(hwnd), "a window without WS_VISIBLE is visible\n");

    RECT r;
    ok(GetWindowRect(hwnd, &r), "GetWindowRect failed\n");
    ok(r.left == 10 && r.top == 20 && r.right == 110 && r.bottom == 70, "rectangle (%d,%d)-(%d,%d)\n",
       (int)r.left, (int)r.top, (int)r.right, (int)r.bottom);
    ok(GetWindowLongA(hwnd, GWL_STYLE) & WS_POPUP, "GWL_STYLE %#x lacks WS_POPUP\n",
       (unsigned)GetWindowLongA(hwnd, GWL_STYLE));
    ok(!(GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST), "a new window is topmost\n");

    /* Texts. */
    char text[64];
    ok(GetWindowTextA(hwnd, text, sizeof(text)) == 5 && !strcmp(text, "first"), "title '%s'\n", text);
    ok(SetWindowTextA(hwnd, "renamed title"), "SetWindowTextA failed\n");
    ok(GetWindowTextA(hwnd, text, sizeof(text)) == 13 && !strcmp(text, "renamed title"), "title '%s'\n", text);
    ok(GetWindowTextA(hwnd, text, 5) == 4 && !strcmp(text, "rena"), "a 5-byte buffer got '%s'\n", text);
    ok(SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0) == 13, "WM_GETTEXTLENGTH %d\n",
       (int)SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0));
    ok(FindWindowA("ConfLogging", "renamed title") == hwnd, "FindWindowA by class and title missed it\n");
    ok(FindWindowA("conflogging", NULL) == hwnd, "FindWindowA by class (any case) missed it\n");
    ok(FindWindowA("ConfLogging", "no such title") == NULL, "FindWindowA found a title nobody has\n");

    /* Visibility: ShowWindow answers whether the window was visible before. */
    ok(ShowWindow(hwnd, SW_SHOWNORMAL) == FALSE, "ShowWindow of a hidden window answered TRUE\n");
    ok(IsWindowVisible(hwnd), "shown, yet not visible\n");
    ok(GetWindowLongA(hwnd, GWL_STYLE) & WS_VISIBLE, "shown, yet no WS_VISIBLE\n");
    ok(ShowWindow(hwnd, SW_SHOWNORMAL) != FALSE, "ShowWindow of a visible window answered FALSE\n");
    ok(ShowWindow(hwnd, SW_HIDE) != FALSE, "hiding a visible window answered FALSE\n");
    ok(!IsWindowVisible(hwnd), "hidden, yet visible\n");
    ok(UpdateWindow(hwnd), "UpdateWindow failed\n");

    /* Placement: SWP_NOSIZE keeps the size, SWP_NOMOVE the position, HWND_TOPMOST sets the style. */
    ok(SetWindowPos(hwnd, HWND_TOPMOST, 30, 40, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE), "SetWindowPos failed\n");
    GetWindowRect(hwnd, &r);
    ok(r.left == 30 && r.top == 40 && r.right == 130 && r.bottom == 90, "moved to (%d,%d)-(%d,%d)\n",
       (int)r.left, (int)r.top, (int)r.right, (int)r.bottom);
    ok(GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST, "HWND_TOPMOST did not make it topmost\n");
    ok(SetWindowPos(hwnd, NULL, 0, 0, 60, 30, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE), "resize failed\n");
    GetWindowRect(hwnd, &r);
    ok(r.left == 30 && r.top == 40 && r.right == 90 && r.bottom == 70, "resized to (%d,%d)-(%d,%d)\n",
       (int)r.left, (int)r.top, (int)r.right, (int)r.bottom);
    ok(GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST, "SWP_NOZORDER changed the z-order\n");
    ok(SetWindowPos(hwnd, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE),
       "SetWindowPos(HWND_NOTOPMOST) failed\n");
    ok(!(GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST), "HWND_NOTOPMOST left it topmost\n");
    ok(GetSystemMetrics(SM_CXSCREEN) > 0 && GetSystemMetrics(SM_CYSCREEN) > 0, "screen %dx%d\n",
       GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));

    /* A WM_CREATE that answers -1 fails the creation, and the window is gone. */
    nseen = 0;
    create_answer = -1;
    HWND refused = CreateWindowExA(0, "ConfLogging", "refused", WS_POPUP, 0, 0, 10, 10, NULL, NULL,
                                   conformance_instance(), NULL);
    create_answer = 0;
    ok(refused == NULL, "a window whose WM_CREATE answered -1 was created\n");
    ok(nseen >= 3 && seen[nseen - 1].msg == WM_NCDESTROY, "the refused window's last message was %#x\n",
       nseen ? seen[nseen - 1].msg : 0);
    ok(FindWindowA("ConfLogging", "refused") == NULL, "the refused window is still there\n");

    /* WM_CLOSE's default handling destroys the window. */
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    ok(!IsWindow(hwnd), "WM_CLOSE through DefWindowProcA did not destroy the window\n");
}

static void test_destroy_order(void)
{
    HWND owner = make(1, "owner", WS_POPUP, NULL);
    HWND child = make(2, "child", WS_CHILD, owner);
    HWND owned = make(3, "owned", WS_POPUP, owner);
    HWND grandchild = make(4, "grandchild", WS_CHILD, child);
    ok(owner && child && owned && grandchild, "creation failed\n");
    SetTimer(owner, 1, 100, NULL);
    nseen = 0;
    ok(DestroyWindow(owner), "DestroyWindow failed\n");
    int owned_destroy = seen_index(3, WM_DESTROY), owned_nc = seen_index(3, WM_NCDESTROY);
    int owner_destroy = seen_index(1, WM_DESTROY), owner_nc = seen_index(1, WM_NCDESTROY);
    int child_destroy = seen_index(2, WM_DESTROY), child_nc = seen_index(2, WM_NCDESTROY);
    int grand_destroy = seen_index(4, WM_DESTROY), grand_nc = seen_index(4, WM_NCDESTROY);
    ok(nseen == 8, "%d destruction messages, expected 8\n", nseen);
    ok(owned_destroy >= 0 && owned_nc > owned_destroy && owned_nc < owner_destroy,
       "the owned window was not destroyed first: %d %d, owner %d\n", owned_destroy, owned_nc, owner_destroy);
    ok(owner_destroy >= 0 && child_destroy > owner_destroy && grand_destroy > child_destroy,
       "WM_DESTROY not parent first: owner %d, child %d, grandchild %d\n", owner_destroy, child_destroy,
       grand_destroy);
    ok(grand_nc > grand_destroy && child_nc > grand_nc && owner_nc > child_nc && owner_nc == nseen - 1,
       "WM_NCDESTROY not children first: grandchild %d, child %d, owner %d\n", grand_nc, child_nc, owner_nc);
    ok(!IsWindow(owner) && !IsWindow(child) && !IsWindow(owned) && !IsWindow(grandchild),
       "a window outlived its owner or parent\n");
    SET_ERROR();
    ok(!DestroyWindow(owner), "a destroyed window was destroyed again\n");
    /* Wine's NtUserDestroyWindow answers ERROR_ACCESS_DENIED for every window that is not the calling
     * thread's, a destroyed one too; Windows validates the handle first. */
    ok_windows(GetLastError() == ERROR_INVALID_WINDOW_HANDLE, "error %u, expected ERROR_INVALID_WINDOW_HANDLE\n",
               (unsigned)GetLastError());
    SET_ERROR();
    ok(!KillTimer(owner, 1), "a destroyed window's timer was still there\n");

    /* Invalid handles. */
    HWND bogus = (HWND)(ULONG_PTR)0xdead0;
    SET_ERROR();
    ok(!ShowWindow(bogus, SW_SHOW) && GetLastError() == ERROR_INVALID_WINDOW_HANDLE,
       "ShowWindow of no window: error %u\n", (unsigned)GetLastError());
    SET_ERROR();
    RECT r;
    ok(!GetWindowRect(bogus, &r) && GetLastError() == ERROR_INVALID_WINDOW_HANDLE,
       "GetWindowRect of no window: error %u\n", (unsigned)GetLastError());
    SET_ERROR();
    ok(!SetWindowPos(bogus, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE) && GetLastError() == ERROR_INVALID_WINDOW_HANDLE,
       "SetWindowPos of no window: error %u\n", (unsigned)GetLastError());
    SET_ERROR();
    ok(!SetWindowTextA(bogus, "x") && GetLastError() == ERROR_INVALID_WINDOW_HANDLE,
       "SetWindowTextA of no window: error %u\n", (unsigned)GetLastError());
    char text[8];
    SET_ERROR();
    ok(GetWindowTextA(bogus, text, sizeof(text)) == 0 && GetLastError() == ERROR_INVALID_WINDOW_HANDLE,
       "GetWindowTextA of no window: error %u\n", (unsigned)GetLastError());
    ok(!IsWindow(bogus) && !IsWindow(NULL), "IsWindow of no window is true\n");
    ok(!IsWindowVisible(bogus), "IsWindowVisible of no window is true\n");
}

/* A window of another thread cannot be destroyed from here. */
static HWND other_thread_window;
static DWORD destroy_result, destroy_error;
static DWORD WINAPI destroy_other(LPVOID param)
{
    SetLastError(0xdeadbeef);
    destroy_result = DestroyWindow(other_thread_window);
    destroy_error = GetLastError();
    return 0;
}

static void test_destroy_other_thread(void)
{
    /* Wine lets another thread destroy a window (it sends its own thread a message to do so, see
     * NtUserDestroyWindow in Wine's win32u/window.c); Windows refuses, as DestroyWindow's
     * documentation says. Not tried under Wine: the window's thread would wait for the other. */
    if (winetest_wine) {
        skip("Wine differs: DestroyWindow from another thread\n");
        return;
    }
    other_thread_window = conformance_window(0, 0, 10, 10, NULL, NULL);
    DWORD tid;
    HANDLE t = CreateThread(NULL, 0, destroy_other, NULL, 0, &tid);
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
    ok(!destroy_result && destroy_error == ERROR_ACCESS_DENIED,
       "DestroyWindow from another thread: %u, error %u\n", (unsigned)destroy_result, (unsigned)destroy_error);
    ok(IsWindow(other_thread_window), "another thread destroyed the window\n");
    DestroyWindow(other_thread_window);
}

void func_user32_win(void)
{
    test_classes();
    test_create();
    test_destroy_order();
    test_destroy_other_thread();
}
