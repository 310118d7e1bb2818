/* kernel32: threads, waits and their time-outs, exit codes, TerminateThread, critical sections,
 * the last error per thread. */
#include "test.h"

static volatile LONG after_sleep;
static DWORD seen_id, seen_error;
static LPVOID seen_param;
static CRITICAL_SECTION section;
static volatile LONG in_section;

static DWORD WINAPI sleeper(LPVOID param)
{
    seen_param = param;
    seen_id = GetCurrentThreadId();
    SetLastError(55);
    Sleep(300);
    seen_error = GetLastError();
    after_sleep = 1;
    return 42;
}

static DWORD WINAPI enterer(LPVOID param)
{
    EnterCriticalSection(&section);
    in_section = 1;
    LeaveCriticalSection(&section);
    return 0;
}

static void test_threads(void)
{
    static int param;
    DWORD id = 0;
    after_sleep = 0;
    SetLastError(1234);
    HANDLE t = CreateThread(NULL, 0, sleeper, &param, 0, &id);
    ok(t != NULL, "CreateThread failed, error %u\n", (unsigned)GetLastError());
    ok(id != 0 && id != GetCurrentThreadId(), "thread id %u\n", (unsigned)id);
    DWORD start = GetTickCount();
    ok(WaitForSingleObject(t, 100) == WAIT_TIMEOUT, "the wait did not time out\n");
    DWORD waited = GetTickCount() - start;
    ok(waited >= 90 && waited < 290, "a 100 ms wait took %u ms\n", (unsigned)waited);
    DWORD code = 0;
    ok(GetExitCodeThread(t, &code) && code == STILL_ACTIVE, "a running thread's exit code %u\n", (unsigned)code);
    ok(WaitForSingleObject(t, 0) == WAIT_TIMEOUT, "a zero wait on a running thread did not time out\n");
    ok(WaitForSingleObject(t, INFINITE) == WAIT_OBJECT_0, "the thread did not end\n");
    ok(after_sleep == 1, "the thread did not finish\n");
    ok(GetExitCodeThread(t, &code) && code == 42, "exit code %u, expected 42\n", (unsigned)code);
    ok(WaitForSingleObject(t, 0) == WAIT_OBJECT_0, "an ended thread is not signalled\n");
    ok(seen_param == &param, "the thread got %p, expected its parameter\n", seen_param);
    ok(seen_id == id, "the thread's own id %u is not the one CreateThread gave (%u)\n", (unsigned)seen_id,
       (unsigned)id);
    ok(seen_error == 55, "the thread's last error was %u after Sleep\n", (unsigned)seen_error);
    ok(GetLastError() == 1234, "another thread changed this thread's last error to %u\n", (unsigned)GetLastError());
    ok(CloseHandle(t), "CloseHandle failed\n");
    SET_ERROR();
    ok(!CloseHandle(t) && GetLastError() == ERROR_INVALID_HANDLE, "a closed handle closed again: error %u\n",
       (unsigned)GetLastError());
    SET_ERROR();
    ok(WaitForSingleObject(t, 0) == WAIT_FAILED && GetLastError() == ERROR_INVALID_HANDLE,
       "a wait on a closed handle: error %u\n", (unsigned)GetLastError());
    SET_ERROR();
    ok(!GetExitCodeThread(t, &code) && GetLastError() == ERROR_INVALID_HANDLE,
       "GetExitCodeThread of a closed handle: error %u\n", (unsigned)GetLastError());
    SET_ERROR();
    ok(!TerminateThread(t, 1) && GetLastError() == ERROR_INVALID_HANDLE,
       "TerminateThread of a closed handle: error %u\n", (unsigned)GetLastError());

    /* Without a place for the identifier: Windows 95, 98 and Me refuse ("This parameter may not be
     * NULL"); NT creates the thread and returns no identifier. Wine creates it on every version. */
    SET_ERROR();
    t = CreateThread(NULL, 0, sleeper, NULL, 0, NULL);
    if (conformance_win9x())
        ok_windows(t == NULL && GetLastError() == ERROR_INVALID_PARAMETER,
                   "a thread without an identifier's place: %p, error %u\n", t, (unsigned)GetLastError());
    else
        ok(t != NULL, "a thread without an identifier's place was refused, error %u\n", (unsigned)GetLastError());
    if (t) {
        ok(WaitForSingleObject(t, 1000) == WAIT_OBJECT_0, "the thread without an identifier did not end\n");
        CloseHandle(t);
    }

    /* A terminated thread ends at once with the given code and never runs again. */
    after_sleep = 0;
    t = CreateThread(NULL, 0, sleeper, NULL, 0, &id);
    Sleep(50);
    ok(TerminateThread(t, 9), "TerminateThread failed, error %u\n", (unsigned)GetLastError());
    ok(WaitForSingleObject(t, 1000) == WAIT_OBJECT_0, "the terminated thread is not signalled\n");
    ok(GetExitCodeThread(t, &code) && code == 9, "exit code %u, expected 9\n", (unsigned)code);
    Sleep(400);
    ok(after_sleep == 0, "the terminated thread ran on\n");
    CloseHandle(t);

    /* Sleep takes at least about its time on the tick count. */
    start = GetTickCount();
    Sleep(100);
    waited = GetTickCount() - start;
    ok(waited >= 90 && waited < 290, "Sleep(100) took %u ms\n", (unsigned)waited);
}

static void test_critical_section(void)
{
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);  /* re-entrant on its own thread */
    in_section = 0;
    DWORD id;
    HANDLE t = CreateThread(NULL, 0, enterer, NULL, 0, &id);
    ok(WaitForSingleObject(t, 100) == WAIT_TIMEOUT, "the other thread got in while the section was held\n");
    ok(in_section == 0, "the other thread got in while the section was held\n");
    LeaveCriticalSection(&section);
    ok(WaitForSingleObject(t, 100) == WAIT_TIMEOUT, "one Leave of two released the section\n");
    LeaveCriticalSection(&section);
    ok(WaitForSingleObject(t, 1000) == WAIT_OBJECT_0, "the other thread never got in\n");
    ok(in_section == 1, "the other thread did not run its section\n");
    CloseHandle(t);
    DeleteCriticalSection(&section);
}

void func_kernel32_thread(void)
{
    test_threads();
    test_critical_section();
}
