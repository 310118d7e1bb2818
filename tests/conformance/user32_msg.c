/* user32: the message queue (sent before posted before WM_QUIT and WM_TIMER), timers (one pending
 * WM_TIMER per timer, KillTimer drops a pending tick, a TIMERPROC is called by DispatchMessageA), and
 * keystrokes another program posts: the characters TranslateMessage makes of them, and where
 * DefWindowProcA takes a character typed with Alt. */
#include "test.h"

static UINT log_msgs[32];
static WPARAM log_params[32];
static int nlog;
static DWORD proc_calls;
static UINT_PTR proc_id;
static HWND proc_hwnd;

static void note(UINT msg, WPARAM wParam)
{
    if (nlog < 32) {
        log_msgs[nlog] = msg;
        log_params[nlog] = wParam;
        ++nlog;
    }
}

static LRESULT logging_hook(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, int *handled)
{
    if (msg == WM_TIMER || (msg >= WM_USER && msg < WM_USER + 100)) {
        note(msg, wParam);
        *handled = 1;
        return msg == WM_USER + 2 ? 0x1234 : 0;
    }
    return 0;
}

static void CALLBACK timer_proc(HWND hwnd, UINT msg, UINT_PTR id, DWORD time)
{
    ++proc_calls;
    proc_id = id;
    proc_hwnd = hwnd;
}

static UINT_PTR timer_from_thread;

static DWORD WINAPI set_timer_from_thread(LPVOID param)
{
    timer_from_thread = SetTimer((HWND)param, 11, 30, NULL);
    return 0;
}

/* Takes the next message, which must be there already: a marker is posted behind whatever is
 * expected, so GetMessageA never waits for long. */
static MSG next(void)
{
    MSG msg;
    memset(&msg, 0, sizeof(msg));
    GetMessageA(&msg, NULL, 0, 0);
    return msg;
}

static HWND target;
static LRESULT sent_answer;
static DWORD WINAPI send_from_thread(LPVOID param)
{
    sent_answer = SendMessageA(target, WM_USER + 2, 7, 0);
    return 0;
}

static void test_order(void)
{
    HWND hwnd = conformance_window(0, 0, 10, 10, NULL, logging_hook);
    target = hwnd;
    conformance_pump(20);

    /* Posted messages come in the order they were posted; a thread message has no window. */
    ok(PostMessageA(hwnd, WM_USER + 1, 1, 0), "PostMessageA failed\n");
    ok(PostMessageA(hwnd, WM_USER + 1, 2, 0), "PostMessageA failed\n");
    ok(PostMessageA(NULL, WM_USER + 3, 3, 0), "PostMessageA to the thread failed\n");
    MSG a = next(), b = next(), c = next();
    ok(a.hwnd == hwnd && a.message == WM_USER + 1 && a.wParam == 1, "first %#x %u\n", a.message, (unsigned)a.wParam);
    ok(b.message == WM_USER + 1 && b.wParam == 2, "second %#x %u\n", b.message, (unsigned)b.wParam);
    ok(c.hwnd == NULL && c.message == WM_USER + 3 && c.wParam == 3, "thread message %p %#x\n", (void *)c.hwnd,
       c.message);

    /* A message sent from another thread is handled inside GetMessageA before any posted one, and
     * the sender gets the window procedure's answer. */
    nlog = 0;
    PostMessageA(hwnd, WM_USER + 1, 4, 0);
    DWORD tid;
    HANDLE t = CreateThread(NULL, 0, send_from_thread, NULL, 0, &tid);
    ok(WaitForSingleObject(t, 200) == WAIT_TIMEOUT, "the sender did not wait for the window's thread\n");
    MSG d = next();
    ok(nlog == 1 && log_msgs[0] == WM_USER + 2 && log_params[0] == 7,
       "the sent message was not handled first: %d handled, first %#x\n", nlog, nlog ? log_msgs[0] : 0);
    ok(d.message == WM_USER + 1 && d.wParam == 4, "GetMessageA returned %#x %u, expected the posted one\n",
       d.message, (unsigned)d.wParam);
    ok(WaitForSingleObject(t, 1000) == WAIT_OBJECT_0, "the sender did not finish\n");
    ok(sent_answer == 0x1234, "the sender got %#x, expected the procedure's answer 0x1234\n", (unsigned)sent_answer);
    CloseHandle(t);

    /* Another thread of the process may set a timer on the window: it ticks on the window's thread. */
    t = CreateThread(NULL, 0, set_timer_from_thread, hwnd, 0, &tid);
    ok(WaitForSingleObject(t, 1000) == WAIT_OBJECT_0, "the timer's thread did not finish\n");
    CloseHandle(t);
    ok(timer_from_thread == 11, "SetTimer from another thread answered %u, error %u\n",
       (unsigned)timer_from_thread, (unsigned)GetLastError());
    MSG other = next();
    ok(other.hwnd == hwnd && other.message == WM_TIMER && other.wParam == 11,
       "the other thread's timer gave %#x %u\n", other.message, (unsigned)other.wParam);
    ok(KillTimer(hwnd, 11), "KillTimer of the other thread's timer failed\n");

    /* An expired timer waits behind posted messages; WM_QUIT comes after the posted messages and,
     * as in Wine's server (get_message in server/queue.c checks the quit flag before timers), before a
     * pending WM_TIMER. */
    ok(SetTimer(hwnd, 5, 50, NULL) == 5, "SetTimer did not answer the timer's id\n");
    Sleep(200);
    PostMessageA(hwnd, WM_USER + 1, 5, 0);
    PostQuitMessage(42);
    PostMessageA(hwnd, WM_USER + 1, 6, 0);
    MSG e = next(), f = next();
    ok(e.message == WM_USER + 1 && e.wParam == 5 && f.message == WM_USER + 1 && f.wParam == 6,
       "posted messages did not come first: %#x %#x\n", e.message, f.message);
    MSG quit;
    BOOL got = GetMessageA(&quit, NULL, 0, 0);
    ok(!got && quit.message == WM_QUIT && quit.wParam == 42, "expected WM_QUIT 42, got %d %#x %u\n", got,
       quit.message, (unsigned)quit.wParam);
    MSG timer = next();
    ok(timer.message == WM_TIMER && timer.hwnd == hwnd && timer.wParam == 5 && timer.lParam == 0,
       "expected the pending WM_TIMER 5, got %#x %u\n", timer.message, (unsigned)timer.wParam);
    /* Four periods passed, yet one tick was pending and no other is. */
    PostMessageA(hwnd, WM_USER + 1, 7, 0);
    MSG g = next();
    ok(g.message == WM_USER + 1 && g.wParam == 7, "a second tick was pending: %#x\n", g.message);
    KillTimer(hwnd, 5);
    /* The ticks keep the timer's phase: 250 ms into a 100 ms timer, the pending tick is taken, and the
     * next one is due at 300 ms, not a whole period after the late one. */
    SetTimer(hwnd, 5, 100, NULL);
    Sleep(250);
    MSG late = next();
    DWORD before = GetTickCount();
    MSG h = next();
    ok(late.message == WM_TIMER && h.message == WM_TIMER && h.wParam == 5, "expected two ticks, got %#x %#x\n",
       late.message, h.message);
    ok(GetTickCount() - before <= 80, "the next tick came %u ms after a late one, not at the timer's phase\n",
       (unsigned)(GetTickCount() - before));

    /* KillTimer drops the pending tick; a second KillTimer finds no timer. */
    Sleep(100);
    ok(KillTimer(hwnd, 5), "KillTimer failed\n");
    ok(!KillTimer(hwnd, 5), "KillTimer of a killed timer succeeded\n");
    PostMessageA(hwnd, WM_USER + 1, 8, 0);
    nlog = 0;
    conformance_pump(120);
    ok(nlog == 1 && log_msgs[0] == WM_USER + 1, "after KillTimer: %d messages, first %#x\n", nlog,
       nlog ? log_msgs[0] : 0);

    /* Setting a timer again replaces it (and its pending tick). */
    SetTimer(hwnd, 6, 50, NULL);
    Sleep(80);
    ok(SetTimer(hwnd, 6, 1000, NULL) == 6, "SetTimer again did not answer the id\n");
    nlog = 0;
    conformance_pump(150);
    ok(nlog == 0, "a replaced timer's pending tick arrived (%d messages)\n", nlog);
    KillTimer(hwnd, 6);

    /* A timer with a procedure: the message carries it, and DispatchMessageA calls it, not the window. */
    SetTimer(hwnd, 9, 30, timer_proc);
    MSG m;
    for (;;) {
        GetMessageA(&m, NULL, 0, 0);
        if (m.message == WM_TIMER && m.hwnd == hwnd)
            break;
        DispatchMessageA(&m);
    }
    ok(m.wParam == 9 && m.lParam != 0, "WM_TIMER %u carried no procedure\n", (unsigned)m.wParam);
    /* Wine's WM_TIMER carries a handle of its own for the procedure (a winproc handle, see
     * alloc_winproc in Wine's win32u), not the procedure's address that SetTimer's documentation gives. */
    ok_windows(m.lParam == (LPARAM)timer_proc, "WM_TIMER carried %p, expected the procedure\n", (void *)m.lParam);
    nlog = 0;
    proc_calls = 0;
    DispatchMessageA(&m);
    ok(proc_calls == 1 && proc_id == 9 && proc_hwnd == hwnd, "the procedure ran %u times, id %u\n",
       (unsigned)proc_calls, (unsigned)proc_id);
    ok(nlog == 0, "the window procedure saw the timer of a procedure\n");
    KillTimer(hwnd, 9);

    /* Failures. */
    HWND bogus = (HWND)(ULONG_PTR)0xdead0;
    SET_ERROR();
    ok(!PostMessageA(bogus, WM_USER, 0, 0) && GetLastError() == ERROR_INVALID_WINDOW_HANDLE,
       "PostMessageA to no window: error %u\n", (unsigned)GetLastError());
    SET_ERROR();
    ok(SendMessageA(bogus, WM_USER, 0, 0) == 0 && GetLastError() == ERROR_INVALID_WINDOW_HANDLE,
       "SendMessageA to no window: error %u\n", (unsigned)GetLastError());
    SET_ERROR();
    ok(SetTimer(bogus, 1, 10, NULL) == 0, "SetTimer on no window succeeded\n");
    /* Wine 8's NtUserSetTimer leaves the last error as it was for a window that does not exist. */
    ok_windows(GetLastError() == ERROR_INVALID_WINDOW_HANDLE, "SetTimer on no window: error %u\n",
               (unsigned)GetLastError());
    DestroyWindow(hwnd);
}

/* Posts a keystroke to the window, takes it from the queue as a message loop does and translates it:
 * TranslateMessage's answer, and in *made the message it posted (message 0 when none). */
static BOOL translate(HWND hwnd, UINT msg, WPARAM vk, LPARAM lParam, MSG *made)
{
    PostMessageA(hwnd, msg, vk, lParam);
    MSG key = next();
    ok(key.message == msg && key.wParam == vk, "took %#x %#x back, not the keystroke\n", key.message,
       (unsigned)key.wParam);
    BOOL translated = TranslateMessage(&key);
    PostMessageA(hwnd, WM_USER + 9, 0, 0);
    MSG m = next();
    memset(made, 0, sizeof(*made));
    if (m.message != WM_USER + 9) {
        *made = m;
        m = next();
        ok(m.message == WM_USER + 9, "a second message %#x %#x followed\n", m.message, (unsigned)m.wParam);
    }
    return translated;
}

/* Scan code in bits 16-23, KF_ALTDOWN in bit 29, a repeat count of 1. */
#define KEY_LPARAM(scan, alt) ((LPARAM)(1 | ((scan) << 16) | ((alt) ? (KF_ALTDOWN << 16) : 0)))

static UINT menu_msgs[16];
static WPARAM menu_wparams[16];
static LPARAM menu_lparams[16];
static int nmenu;

static LRESULT menu_hook(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, int *handled)
{
    switch (msg) {
    case WM_CHAR:
    case WM_SYSCHAR:
    case WM_SYSCOMMAND:
    case WM_ENTERMENULOOP:
    case WM_INITMENU:
    case WM_MENUCHAR:
    case WM_MENUSELECT:
    case WM_EXITMENULOOP:
        if (nmenu < 16) {
            menu_msgs[nmenu] = msg;
            menu_wparams[nmenu] = wParam;
            menu_lparams[nmenu] = lParam;
            ++nmenu;
        }
        break;
    }
    return 0; /* and on to DefWindowProcA */
}

static void test_keys(void)
{
    HWND hwnd = conformance_window_style(WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, NULL, menu_hook);
    conformance_pump(20);
    MSG made;

    /* A key pressed makes its character (no shift key is down: lower case) with the keystroke's own
     * lParam; pressed with Alt it makes WM_SYSCHAR. The keypad's digits are left out: Wine makes them
     * a character only when the thread's keyboard state has NumLock on, which it is not here. */
    static const struct {
        WPARAM vk;
        UINT scan;
        WPARAM ch;
    } keys[] = {
        {'A', 0x1E, 'a'},          {'Z', 0x2C, 'z'},          {'1', 0x02, '1'},         {'0', 0x0B, '0'},
        {VK_SPACE, 0x39, ' '},     {VK_RETURN, 0x1C, '\r'},   {VK_ESCAPE, 0x01, 0x1B},  {VK_TAB, 0x0F, '\t'},
        {VK_BACK, 0x0E, '\b'},     {VK_OEM_1, 0x27, ';'},     {VK_OEM_PLUS, 0x0D, '='}, {VK_OEM_COMMA, 0x33, ','},
        {VK_OEM_MINUS, 0x0C, '-'}, {VK_OEM_PERIOD, 0x34, '.'}, {VK_OEM_2, 0x35, '/'},    {VK_OEM_3, 0x29, '`'},
        {VK_OEM_4, 0x1A, '['},     {VK_OEM_5, 0x2B, '\\'},    {VK_OEM_6, 0x1B, ']'},    {VK_OEM_7, 0x28, '\''},
        {VK_MULTIPLY, 0x37, '*'},  {VK_ADD, 0x4E, '+'},       {VK_SUBTRACT, 0x4A, '-'}, {VK_DECIMAL, 0x53, '.'},
        {VK_DIVIDE, 0x135, '/'}, /* the keypad's slash is an extended key */
    };
    for (size_t i = 0; i < sizeof(keys) / sizeof(keys[0]); ++i) {
        for (int alt = 0; alt < 2; ++alt) {
            UINT down = alt ? WM_SYSKEYDOWN : WM_KEYDOWN, expected = alt ? WM_SYSCHAR : WM_CHAR;
            LPARAM lParam = KEY_LPARAM(keys[i].scan, alt);
            BOOL r = translate(hwnd, down, keys[i].vk, lParam, &made);
            ok(r, "TranslateMessage of %#x %#x answered 0\n", down, (unsigned)keys[i].vk);
            ok(made.message == expected && made.hwnd == hwnd && made.wParam == keys[i].ch && made.lParam == lParam,
               "key %#x with alt %d made %#x %#x %#lx, expected %#x %#x %#lx\n", (unsigned)keys[i].vk, alt,
               made.message, (unsigned)made.wParam, (long)made.lParam, expected, (unsigned)keys[i].ch,
               (long)lParam);
        }
    }

    /* A key released, or one that makes no character, makes nothing, yet the answer is nonzero. */
    LPARAM up = KEY_LPARAM(0x1E, 0) | ((LPARAM)(KF_REPEAT | KF_UP) << 16);
    ok(translate(hwnd, WM_KEYUP, 'A', up, &made) && made.message == 0, "WM_KEYUP: made %#x\n", made.message);
    ok(translate(hwnd, WM_SYSKEYUP, 'A', up | ((LPARAM)KF_ALTDOWN << 16), &made) && made.message == 0,
       "WM_SYSKEYUP: made %#x\n", made.message);
    ok(translate(hwnd, WM_KEYDOWN, VK_F1, KEY_LPARAM(0x3B, 0), &made) && made.message == 0,
       "F1: made %#x\n", made.message);
    /* Any other message is not translated: zero. Wine's TranslateMessage answers nonzero for every
     * keyboard message, the character messages too (NtUserTranslateMessage in win32u/message.c). */
    ok(!translate(hwnd, WM_USER + 1, 'A', 0, &made) && made.message == 0, "WM_USER: made %#x\n", made.message);
    BOOL r = translate(hwnd, WM_CHAR, 'a', KEY_LPARAM(0x1E, 0), &made);
    ok(made.message == 0, "WM_CHAR: made %#x\n", made.message);
    ok_windows(!r, "TranslateMessage of WM_CHAR answered %d\n", r);

    /* Alt with a letter, through a message loop: the window menu takes it. The window has no menu bar
     * and no item of its window menu answers to the letter, so its owner is asked with WM_MENUCHAR
     * (the default answer, MNC_IGNORE, makes the beep) inside a menu loop that ends at once. */
    nmenu = 0;
    PostMessageA(hwnd, WM_SYSKEYDOWN, 'A', KEY_LPARAM(0x1E, 1));
    conformance_pump(50);
    static const UINT expected[] = {WM_SYSCHAR,  WM_SYSCOMMAND, WM_ENTERMENULOOP, WM_INITMENU,
                                    WM_MENUCHAR, WM_MENUSELECT, WM_EXITMENULOOP};
    int n = (int)(sizeof(expected) / sizeof(expected[0]));
    ok(nmenu == n, "%d menu messages, expected %d\n", nmenu, n);
    for (int i = 0; i < n && i < nmenu; ++i)
        ok(menu_msgs[i] == expected[i], "menu message %d: %#x, expected %#x\n", i, menu_msgs[i], expected[i]);
    if (nmenu == n) {
        ok(menu_wparams[0] == 'a' && menu_lparams[0] == KEY_LPARAM(0x1E, 1), "WM_SYSCHAR %#x %#lx\n",
           (unsigned)menu_wparams[0], (long)menu_lparams[0]);
        ok(menu_wparams[1] == SC_KEYMENU && menu_lparams[1] == 'a', "WM_SYSCOMMAND %#x %#lx\n",
           (unsigned)menu_wparams[1], (long)menu_lparams[1]);
        ok(menu_wparams[2] == FALSE, "WM_ENTERMENULOOP for a popup menu\n");
        HMENU menu = (HMENU)menu_wparams[3];
        ok(menu != NULL && (HMENU)menu_lparams[4] == menu, "WM_INITMENU %p, WM_MENUCHAR %p\n", (void *)menu,
           (void *)menu_lparams[4]);
        ok(LOWORD(menu_wparams[4]) == 'a' && (HIWORD(menu_wparams[4]) & MF_SYSMENU),
           "WM_MENUCHAR %#x: not the letter in the window menu\n", (unsigned)menu_wparams[4]);
        ok(menu_wparams[5] == MAKEWPARAM(0, 0xFFFF) && menu_lparams[5] == 0, "WM_MENUSELECT %#x %#lx: not closed\n",
           (unsigned)menu_wparams[5], (long)menu_lparams[5]);
    }

    /* Alt with Tab or Escape is the system's own: the window sees the character only. */
    for (int i = 0; i < 2; ++i) {
        nmenu = 0;
        PostMessageA(hwnd, WM_SYSKEYDOWN, i ? VK_ESCAPE : VK_TAB, KEY_LPARAM(i ? 0x01 : 0x0F, 1));
        conformance_pump(50);
        ok(nmenu == 1 && menu_msgs[0] == WM_SYSCHAR, "Alt with %s: %d messages, first %#x\n", i ? "Escape" : "Tab",
           nmenu, nmenu ? menu_msgs[0] : 0);
    }
    DestroyWindow(hwnd);

    /* A window without a window menu (WS_SYSMENU) and without a menu bar: no menu loop at all. */
    hwnd = conformance_window(0, 0, 10, 10, NULL, menu_hook);
    nmenu = 0;
    PostMessageA(hwnd, WM_SYSKEYDOWN, 'A', KEY_LPARAM(0x1E, 1));
    conformance_pump(50);
    ok(nmenu == 2 && menu_msgs[0] == WM_SYSCHAR && menu_msgs[1] == WM_SYSCOMMAND,
       "without a window menu: %d messages, the third %#x\n", nmenu, nmenu > 2 ? menu_msgs[2] : 0);
    DestroyWindow(hwnd);
}

void func_user32_msg(void)
{
    test_order();
    test_keys();
}
