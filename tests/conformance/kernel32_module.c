/* kernel32: LoadLibraryA, GetProcAddress and FreeLibrary: a library loaded by name, with or without
 * its extension, counted references, and the failures a program must handle. */
#include "test.h"

void func_kernel32_module(void)
{
    ok(GetModuleHandleA(NULL) != NULL, "GetModuleHandleA(NULL) gave no module\n");

    SET_ERROR();
    ok(LoadLibraryA("conf_no_such_library.dll") == NULL, "a missing library was loaded\n");
    ok(GetLastError() == ERROR_MOD_NOT_FOUND, "error %u, expected ERROR_MOD_NOT_FOUND\n", (unsigned)GetLastError());

    /* The telephony library, as the program binds it at run time. */
    HMODULE tapi = LoadLibraryA("TAPI32.DLL");
    ok(tapi != NULL, "TAPI32.DLL did not load, error %u\n", (unsigned)GetLastError());
    if (!tapi)
        return;
    HMODULE again = LoadLibraryA("tapi32");
    ok(again == tapi, "the name without its extension gave another module\n");
    char full[MAX_PATH];
    GetWindowsDirectoryA(full, MAX_PATH);
    strcat(full, "\\system32\\Tapi32.dll");
    HMODULE third = LoadLibraryA(full);
    ok(third == tapi, "the full path %s gave another module\n", full);
    /* Windows 95's telephony library (TAPI 1.4) has only the generic names; the ANSI and Unicode
     * pairs came with TAPI 2.0, which keeps the generic name as the ANSI version. */
    if (conformance_win95()) {
        SET_ERROR();
        ok_windows(GetProcAddress(tapi, "tapiGetLocationInfoA") == NULL && GetLastError() == ERROR_PROC_NOT_FOUND,
                   "Windows 95's library has tapiGetLocationInfoA: error %u\n", (unsigned)GetLastError());
    } else {
        ok(GetProcAddress(tapi, "tapiGetLocationInfoA") != NULL, "no tapiGetLocationInfoA, error %u\n",
           (unsigned)GetLastError());
    }
    ok(GetProcAddress(tapi, "tapiGetLocationInfo") != NULL, "no tapiGetLocationInfo, error %u\n",
       (unsigned)GetLastError());
    SET_ERROR();
    ok(GetProcAddress(tapi, "conf_no_such_function") == NULL, "a missing function was found\n");
    ok(GetLastError() == ERROR_PROC_NOT_FOUND, "error %u, expected ERROR_PROC_NOT_FOUND\n", (unsigned)GetLastError());
    SET_ERROR();
    ok(GetProcAddress(tapi, "tapigetlocationinfoa") == NULL && GetLastError() == ERROR_PROC_NOT_FOUND,
       "function names are not case-sensitive: error %u\n", (unsigned)GetLastError());
    SET_ERROR();
    ok(GetProcAddress(tapi, (LPCSTR)(ULONG_PTR)0xFFF0) == NULL && GetLastError() == ERROR_PROC_NOT_FOUND,
       "a missing ordinal: error %u\n", (unsigned)GetLastError());
    ok(FreeLibrary(third), "FreeLibrary of the third reference failed\n");
    ok(FreeLibrary(again), "FreeLibrary of the second reference failed\n");
    ok(GetProcAddress(tapi, "tapiGetLocationInfo") != NULL, "one FreeLibrary of two unloaded the library\n");
    ok(FreeLibrary(tapi), "FreeLibrary of the first reference failed\n");
    /* Every reference freed: the module is gone. */
    SET_ERROR();
    ok(!FreeLibrary(tapi) && GetLastError() == ERROR_MOD_NOT_FOUND, "an unloaded module was freed: error %u\n",
       (unsigned)GetLastError());
    SET_ERROR();
    ok(GetProcAddress((HMODULE)(ULONG_PTR)0x12340000, "tapiGetLocationInfoA") == NULL &&
           GetLastError() == ERROR_MOD_NOT_FOUND,
       "GetProcAddress on no module: error %u\n", (unsigned)GetLastError());
    /* No module is the program's own, which has no such export. */
    SET_ERROR();
    ok(GetProcAddress(NULL, "tapiGetLocationInfoA") == NULL && GetLastError() == ERROR_PROC_NOT_FOUND,
       "GetProcAddress on the program itself: error %u\n", (unsigned)GetLastError());
    SET_ERROR();
    ok(!FreeLibrary((HMODULE)(ULONG_PTR)0x12340000) && GetLastError() == ERROR_MOD_NOT_FOUND,
       "FreeLibrary of no module: error %u\n", (unsigned)GetLastError());
}
