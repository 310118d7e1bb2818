/* The conformance suite's harness, in the style of Wine's include/wine/test.h: each area is a
 * function func_AREA() of checks; ok() counts a check, skip() a check not made, todo_world() a
 * check the world is known to fail until a pending mend lands. The same sources build for Windows
 * (mingw-w64, run under Wine) and for the host against the world's Win32. */
#ifndef CONFORMANCE_TEST_H
#define CONFORMANCE_TEST_H

#include <windows.h>
#include <mmsystem.h>
#include <ras.h>
#include <raserror.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Nonzero when the suite runs under Wine (ntdll exports wine_get_version). */
extern int winetest_wine;

void winetest_ok(int condition, const char *file, int line, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
void winetest_skip(const char *file, int line, const char *format, ...) __attribute__((format(printf, 3, 4)));
void winetest_todo(int condition, const char *file, int line, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

#define ok(condition, ...) winetest_ok(!!(condition), __FILE__, __LINE__, __VA_ARGS__)
#define skip(...) winetest_skip(__FILE__, __LINE__, __VA_ARGS__)
/* A fact of Windows that Wine is known to get wrong (the call site says where Wine differs): checked
 * in the world, not evaluated under Wine, where it counts as skipped. */
#define ok_windows(condition, ...)                                                                     \
    do {                                                                                           \
        if (winetest_wine)                                                                         \
            winetest_skip(__FILE__, __LINE__, "Wine differs: " __VA_ARGS__);                       \
        else                                                                                       \
            winetest_ok(!!(condition), __FILE__, __LINE__, __VA_ARGS__);                           \
    } while (0)
/* A fact the world is known to get wrong until a mend on another branch lands: counted as todo in the
 * world (a pass there is a failure, so the mark is removed when the mend lands), checked under Wine. */
#define todo_world(condition, ...)                                                                     \
    do {                                                                                           \
        if (winetest_wine)                                                                         \
            winetest_ok(!!(condition), __FILE__, __LINE__, __VA_ARGS__);                           \
        else                                                                                       \
            winetest_todo(!!(condition), __FILE__, __LINE__, __VA_ARGS__);                         \
    } while (0)

/* Helpers shared by the areas (main.c). */
HINSTANCE conformance_instance(void);
/* Registers (once) and creates a plain top-level window of the suite's class, hidden, at x, y with
 * the size w x h; its procedure hands every message to `hook` first when one is set. */
typedef LRESULT (*conformance_hook)(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, int *handled);
HWND conformance_window(int x, int y, int w, int h, HWND owner, conformance_hook hook);
/* The same window with a style other than WS_POPUP (still hidden: no WS_VISIBLE). */
HWND conformance_window_style(DWORD style, int x, int y, int w, int h, HWND owner, conformance_hook hook);
/* Dispatches the calling thread's messages for `ms` milliseconds (at least everything already
 * posted: posted messages go before the timer that ends the wait). */
void conformance_pump(DWORD ms);

#define SET_ERROR() SetLastError(0xdeadbeef)

/* The running system, as GetVersionExA reports it: Windows 95, 98 or Me (platform 1); Windows 95
 * itself (4.0); Windows 98 (4.10); the NT family before 5.0. The facts that differ between versions
 * are checked on the versions they concern. */
int conformance_win9x(void);
int conformance_win95(void);
int conformance_win98(void);
int conformance_nt_before5(void);

#ifdef __cplusplus
}
#endif

#endif
