/* kernel32: VirtualAlloc (whole pages, zeroed) and VirtualFree; the GlobalAlloc family; LocalFree. */
#include "test.h"

static int all_zero(const unsigned char *p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (p[i])
            return 0;
    return 1;
}

static void test_virtual(void)
{
    unsigned char *p = VirtualAlloc(NULL, 33460, MEM_COMMIT, PAGE_READWRITE);
    ok(p != NULL, "VirtualAlloc failed, error %u\n", (unsigned)GetLastError());
    if (!p)
        return;
    /* A new region starts on the allocation granularity, 64 KiB. */
    ok(((ULONG_PTR)p & 0xFFFF) == 0, "%p is not on the 64 KiB allocation granularity\n", (void *)p);
    /* 33,460 bytes are committed as 9 whole pages: all of them readable, writable and zero. */
    ok(all_zero(p, 9 * 4096), "the pages are not zero-filled\n");
    p[9 * 4096 - 1] = 1;
    ok(p[9 * 4096 - 1] == 1, "the last byte of the last page is not writable\n");
    unsigned char *q = VirtualAlloc(NULL, 1, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    ok(q != NULL && q != p && all_zero(q, 4096), "a one-byte allocation is not a zeroed page\n");
    ok(((ULONG_PTR)q & 0xFFFF) == 0, "%p is not on the 64 KiB allocation granularity\n", (void *)q);
    ok(VirtualFree(q, 0, MEM_RELEASE), "VirtualFree failed, error %u\n", (unsigned)GetLastError());

    SET_ERROR();
    ok(VirtualAlloc(NULL, 0, MEM_COMMIT, PAGE_READWRITE) == NULL && GetLastError() == ERROR_INVALID_PARAMETER,
       "VirtualAlloc of no bytes: error %u\n", (unsigned)GetLastError());
    SET_ERROR();
    ok(VirtualAlloc(NULL, 4096, MEM_COMMIT, 0) == NULL && GetLastError() == ERROR_INVALID_PARAMETER,
       "VirtualAlloc without a protection: error %u\n", (unsigned)GetLastError());
    SET_ERROR();
    ok(!VirtualFree(p, 4096, MEM_RELEASE) && GetLastError() == ERROR_INVALID_PARAMETER,
       "MEM_RELEASE with a size: error %u\n", (unsigned)GetLastError());
    SET_ERROR();
    ok(!VirtualFree(p + 4096, 0, MEM_RELEASE) && GetLastError() == ERROR_INVALID_ADDRESS,
       "MEM_RELEASE not at the base: error %u\n", (unsigned)GetLastError());
    ok(VirtualFree(p, 0, MEM_RELEASE), "VirtualFree failed, error %u\n", (unsigned)GetLastError());
}

static void test_global(void)
{
    HGLOBAL fixed = GlobalAlloc(GPTR, 100);
    ok(fixed != NULL, "GlobalAlloc(GPTR) failed\n");
    ok(GlobalLock(fixed) == (LPVOID)fixed, "a fixed block's lock is not its handle\n");
    ok(all_zero((const unsigned char *)fixed, 100), "GMEM_ZEROINIT did not zero the block\n");
    ok(GlobalUnlock(fixed), "unlocking a fixed block answered FALSE\n");
    ok(GlobalFree(fixed) == NULL, "GlobalFree of a fixed block failed\n");

    HGLOBAL moveable = GlobalAlloc(GHND, 412);
    ok(moveable != NULL, "GlobalAlloc(GHND) failed\n");
    unsigned char *m = GlobalLock(moveable);
    ok(m != NULL && (HGLOBAL)m != moveable, "a moveable block's pointer is its handle\n");
    ok(m && all_zero(m, 412), "GHND did not zero the block\n");
    ok(GlobalLock(moveable) == m, "a second lock gave another pointer\n");
    SET_ERROR();
    ok(GlobalUnlock(moveable) != FALSE, "still locked once, yet GlobalUnlock answered FALSE\n");
    SET_ERROR();
    ok(GlobalUnlock(moveable) == FALSE && GetLastError() == NO_ERROR,
       "the last unlock: error %u, expected NO_ERROR\n", (unsigned)GetLastError());
    SET_ERROR();
    ok(GlobalUnlock(moveable) == FALSE && GetLastError() == ERROR_NOT_LOCKED,
       "unlocking an unlocked block: error %u, expected ERROR_NOT_LOCKED\n", (unsigned)GetLastError());
    ok(GlobalFree(moveable) == NULL, "GlobalFree of a moveable block failed\n");
    /* A freed handle is handed back with ERROR_INVALID_HANDLE, and cannot be locked. */
    SET_ERROR();
    ok(GlobalFree(moveable) == moveable && GetLastError() == ERROR_INVALID_HANDLE,
       "freeing a freed block: error %u\n", (unsigned)GetLastError());
    ok(GlobalLock(moveable) == NULL, "a freed block was locked\n");

    /* A moveable block of no bytes is discarded: it cannot be locked. */
    HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);
    ok(empty != NULL, "GlobalAlloc of a discarded block failed\n");
    ok(GlobalLock(empty) == NULL, "a discarded block was locked\n");
    ok(GlobalFree(empty) == NULL, "GlobalFree of a discarded block failed\n");

    ok(GlobalFree(NULL) == NULL, "GlobalFree(NULL) failed\n");
    ok(LocalFree(NULL) == NULL, "LocalFree(NULL) failed\n");
}

void func_kernel32_mem(void)
{
    test_virtual();
    test_global();
}
