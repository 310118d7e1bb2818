/* The conformance suite's runner: every area in turn (or the areas named on the command line), a
 * summary line per area and one for the whole suite, as Wine's test runner prints them. */
#include "test.h"

#include <stdlib.h>

#define AREAS(X)                                                                                   \
    X(user32_win) X(user32_msg) X(user32_dialog) X(user32_msgbox) X(kernel32_thread)               \
    X(kernel32_mem) X(kernel32_format) X(kernel32_file) X(kernel32_version) X(kernel32_module)     \
    X(advapi32_reg) X(rasapi32) X(winmm_wave)

#define DECLARE(name) void func_##name(void);
AREAS(DECLARE)
#define ENTRY(name) {#name, func_##name},
static const struct {
    const char *name;
    void (*func)(void);
} areas[] = {AREAS(ENTRY)};

int winetest_wine;

/* The counts of the area that runs now; checks are made on the suite's main thread only. */
static int executed, failures, todos, skipped;

static void report(const char *file, int line, const char *what, const char *format, va_list args)
{
    const char *base = strrchr(file, '/');
    printf("%s:%d: %s", base ? base + 1 : file, line, what);
    vprintf(format, args);
    fflush(stdout);
}

void winetest_ok(int condition, const char *file, int line, const char *format, ...)
{
    ++executed;
    if (condition)
        return;
    ++failures;
    va_list args;
    va_start(args, format);
    report(file, line, "Test failed: ", format, args);
    va_end(args);
}

void winetest_todo(int condition, const char *file, int line, const char *format, ...)
{
    ++executed;
    va_list args;
    va_start(args, format);
    if (condition) {
        ++failures;
        report(file, line, "Test succeeded inside todo block: ", format, args);
    } else {
        ++todos;
        report(file, line, "Test marked todo: ", format, args);
    }
    va_end(args);
}

void winetest_skip(const char *file, int line, const char *format, ...)
{
    ++skipped;
    va_list args;
    va_start(args, format);
    report(file, line, "Tests skipped: ", format, args);
    va_end(args);
}

HINSTANCE conformance_instance(void) { return GetModuleHandleA(NULL); }

static OSVERSIONINFOA os_version(void)
{
    OSVERSIONINFOA info;
    memset(&info, 0, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    GetVersionExA(&info);
    return info;
}

int conformance_win9x(void) { return os_version().dwPlatformId == VER_PLATFORM_WIN32_WINDOWS; }

int conformance_win95(void)
{
    OSVERSIONINFOA v = os_version();
    return v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && v.dwMajorVersion == 4 && v.dwMinorVersion == 0;
}

int conformance_win98(void)
{
    OSVERSIONINFOA v = os_version();
    return v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && v.dwMajorVersion == 4 && v.dwMinorVersion == 10;
}

int conformance_nt_before5(void)
{
    OSVERSIONINFOA v = os_version();
    return v.dwPlatformId == VER_PLATFORM_WIN32_NT && v.dwMajorVersion < 5;
}

/* ---- the suite's window class ---- */

static struct {
    HWND hwnd;
    conformance_hook hook;
} hooks[64];
static conformance_hook pending_hook;  /* for the messages that come before CreateWindowExA returns */

static conformance_hook hook_of(HWND hwnd)
{
    for (int i = 0; i < 64; ++i)
        if (hooks[i].hwnd == hwnd)
            return hooks[i].hook;
    return pending_hook;
}

static LRESULT CALLBACK conformance_proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    conformance_hook hook = hook_of(hwnd);
    if (hook) {
        int handled = 0;
        LRESULT r = hook(hwnd, msg, wParam, lParam, &handled);
        if (handled)
            return r;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

HWND conformance_window(int x, int y, int w, int h, HWND owner, conformance_hook hook)
{
    return conformance_window_style(WS_POPUP, x, y, w, h, owner, hook);
}

HWND conformance_window_style(DWORD style, int x, int y, int w, int h, HWND owner, conformance_hook hook)
{
    static int registered;
    if (!registered) {
        WNDCLASSA wc;
        memset(&wc, 0, sizeof(wc));
        wc.lpfnWndProc = conformance_proc;
        wc.hInstance = conformance_instance();
        wc.lpszClassName = "ConformanceWindow";
        registered = RegisterClassA(&wc) != 0;
    }
    pending_hook = hook;
    HWND hwnd = CreateWindowExA(0, "ConformanceWindow", "conformance", style, x, y, w, h, owner, NULL,
                                conformance_instance(), NULL);
    pending_hook = NULL;
    for (int i = 0; hwnd && i < 64; ++i) {
        if (!hooks[i].hwnd || !IsWindow(hooks[i].hwnd)) {
            hooks[i].hwnd = hwnd;
            hooks[i].hook = hook;
            break;
        }
    }
    return hwnd;
}

void conformance_pump(DWORD ms)
{
    static HWND pump;
    if (!pump || !IsWindow(pump))
        pump = conformance_window(0, 0, 1, 1, NULL, NULL);
    SetTimer(pump, 0xC0F, ms, NULL);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0)) {
        if (msg.hwnd == pump && msg.message == WM_TIMER && msg.wParam == 0xC0F)
            break;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (msg.message == WM_QUIT)
        PostQuitMessage((int)msg.wParam);
    KillTimer(pump, 0xC0F);
}

static int wanted(int argc, char **argv, const char *name)
{
    if (argc < 2)
        return 1;
    for (int i = 1; i < argc; ++i)
        if (!strcmp(argv[i], name))
            return 1;
    return 0;
}

int conformance_main(int argc, char **argv)
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    winetest_wine = ntdll && GetProcAddress(ntdll, "wine_get_version") != NULL;
    OSVERSIONINFOA v = os_version();
    printf("conformance: %s, Windows %u.%u platform %u\n", winetest_wine ? "under Wine" : "in the world",
           (unsigned)v.dwMajorVersion, (unsigned)v.dwMinorVersion, (unsigned)v.dwPlatformId);
    int all_executed = 0, all_failures = 0, all_todos = 0, all_skipped = 0, ran = 0;
    for (size_t i = 0; i < sizeof(areas) / sizeof(areas[0]); ++i) {
        if (!wanted(argc, argv, areas[i].name))
            continue;
        executed = failures = todos = skipped = 0;
        DWORD start = GetTickCount();
        areas[i].func();
        printf("%s: %d tests executed (%d marked as todo, %d failures), %d skipped. (%u ms)\n", areas[i].name,
               executed, todos, failures, skipped, (unsigned)(GetTickCount() - start));
        fflush(stdout);
        all_executed += executed;
        all_failures += failures;
        all_todos += todos;
        all_skipped += skipped;
        ++ran;
    }
    if (!ran) {
        printf("conformance: no area named; the areas are:");
        for (size_t i = 0; i < sizeof(areas) / sizeof(areas[0]); ++i)
            printf(" %s", areas[i].name);
        printf("\n");
        return 2;
    }
    printf("all: %d tests executed (%d marked as todo, %d failures), %d skipped.\n", all_executed, all_todos,
           all_failures, all_skipped);
    fflush(stdout);
    return all_failures ? 1 : 0;
}
