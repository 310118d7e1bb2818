/* user32: MessageBoxA's modal loop: it keeps dispatching the thread's timers, posted and sent
 * messages until the box is ended; boxes nest; the box is a dialog window others can find. */
#include "test.h"

static HWND host;
static int ticks, posted_seen, sent_seen;
static int dismiss_at = 3;
static int inner_result = -1, inner_seen_outer;
static WPARAM answer = IDOK;
static int quit_at;

/* Ends the open box with this caption as its button would. */
static int end_box(const char *caption, WPARAM id)
{
    HWND box = FindWindowA("#32770", caption);
    if (!box)
        return 0;
    SendMessageA(box, WM_COMMAND, id, 0);
    return 1;
}

static void CALLBACK tick(HWND hwnd, UINT msg, UINT_PTR id, DWORD time)
{
    ++ticks;
    if (ticks == quit_at)
        PostQuitMessage(17);
    if (ticks == dismiss_at)
        end_box("conformance box", answer);
}

static void CALLBACK nested_tick(HWND hwnd, UINT msg, UINT_PTR id, DWORD time)
{
    ++ticks;
    if (ticks == 1) {
        /* A box inside the box: the outer one's loop keeps running the timer meanwhile. */
        inner_result = MessageBoxA(NULL, "inner", "inner box", MB_OKCANCEL);
        end_box("outer box", IDOK);
    } else if (ticks == 3) {
        inner_seen_outer = FindWindowA("#32770", "outer box") != NULL;
        end_box("inner box", IDCANCEL);
    }
}

static LRESULT host_hook(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, int *handled)
{
    if (msg == WM_USER + 1) {
        ++posted_seen;
        *handled = 1;
    } else if (msg == WM_USER + 2) {
        ++sent_seen;
        *handled = 1;
        return 0x55;
    }
    return 0;
}

static LRESULT sent_answer;
static DWORD WINAPI sender(LPVOID param)
{
    /* Sent while the main thread sits in its box: handled by the box's loop. */
    sent_answer = SendMessageA(host, WM_USER + 2, 0, 0);
    HWND box = NULL;
    for (int i = 0; i < 100 && !(box = FindWindowA("#32770", "sent box")); ++i)
        Sleep(10);
    if (box)
        SendMessageA(box, WM_COMMAND, IDOK, 0);
    return 0;
}

void func_user32_msgbox(void)
{
    host = conformance_window(0, 0, 10, 10, NULL, host_hook);

    /* Timers fire inside the box; posted messages are dispatched there too. */
    ticks = 0;
    posted_seen = 0;
    SetTimer(host, 1, 50, tick);
    PostMessageA(host, WM_USER + 1, 0, 0);
    DWORD start = GetTickCount();
    int r = MessageBoxA(host, "text", "conformance box", MB_OK);
    KillTimer(host, 1);
    ok(r == IDOK, "MessageBoxA answered %d, expected IDOK\n", r);
    ok(ticks == 3, "%d ticks inside the box, expected 3\n", ticks);
    ok(posted_seen == 1, "a message posted before the box was dispatched %d times\n", posted_seen);
    ok(GetTickCount() - start >= 140, "the box ended after %u ms, before its third tick\n",
       (unsigned)(GetTickCount() - start));
    ok(FindWindowA("#32770", "conformance box") == NULL, "the box is still there\n");
    ok(IsWindow(host), "the box's owner went with it\n");

    /* The button that ends the box is its answer. */
    ticks = 0;
    answer = IDCANCEL;
    SetTimer(host, 1, 20, tick);
    r = MessageBoxA(NULL, "text", "conformance box", MB_OKCANCEL);
    KillTimer(host, 1);
    answer = IDOK;
    ok(r == IDCANCEL, "MessageBoxA answered %d, expected IDCANCEL\n", r);

    /* Boxes nest: the inner box runs its own loop, the outer one is still there meanwhile. */
    ticks = 0;
    SetTimer(host, 2, 30, nested_tick);
    r = MessageBoxA(NULL, "outer", "outer box", MB_OK);
    KillTimer(host, 2);
    ok(r == IDOK, "the outer box answered %d\n", r);
    ok(inner_result == IDCANCEL, "the inner box answered %d, expected IDCANCEL\n", inner_result);
    ok(inner_seen_outer, "the outer box was not there while the inner one was open\n");
    ok(ticks >= 3, "%d ticks, expected at least 3\n", ticks);

    /* A message sent from another thread is handled inside the box. */
    sent_seen = 0;
    DWORD tid;
    HANDLE t = CreateThread(NULL, 0, sender, NULL, 0, &tid);
    r = MessageBoxA(NULL, "text", "sent box", MB_OK);
    ok(r == IDOK, "the box answered %d\n", r);
    ok(WaitForSingleObject(t, 2000) == WAIT_OBJECT_0, "the sender did not end\n");
    CloseHandle(t);
    ok(sent_seen == 1 && sent_answer == 0x55, "the sent message was handled %d times, answer %#x\n", sent_seen,
       (unsigned)sent_answer);

    /* WM_QUIT inside the box ends its loop (as if OK were pressed) and is posted again for the
     * thread's own loop. */
    ticks = 0;
    quit_at = 2;
    dismiss_at = 100;
    SetTimer(host, 1, 20, tick);
    r = MessageBoxA(NULL, "text", "conformance box", MB_OK);
    KillTimer(host, 1);
    quit_at = 0;
    dismiss_at = 3;
    ok(ticks == 2, "%d ticks: the box did not end at WM_QUIT\n", ticks);
    ok(r == IDOK, "a box ended by WM_QUIT answered %d, expected IDOK\n", r);
    MSG msg;
    BOOL got = GetMessageA(&msg, NULL, 0, 0);
    ok(!got && msg.message == WM_QUIT && msg.wParam == 17, "expected WM_QUIT 17 again, got %d %#x\n", got,
       msg.message);
    DestroyWindow(host);
}
