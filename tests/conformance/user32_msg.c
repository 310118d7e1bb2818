/* user32: the message queue (sent before posted before WM_QUIT and WM_TIMER), timers (one pending
 * WM_TIMER per timer, KillTimer drops a pending tick, a TIMERPROC is called by DispatchMessageA). */
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

void func_user32_msg(void)
{
    test_order();
}
