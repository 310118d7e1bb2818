/* kernel32: GetVersionExA takes exactly the two structure sizes. */
#include "test.h"

void func_kernel32_version(void)
{
    OSVERSIONINFOA info;
    memset(&info, 0xAB, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    ok(sizeof(info) == 148, "OSVERSIONINFOA is %u bytes\n", (unsigned)sizeof(info));
    ok(GetVersionExA(&info), "GetVersionExA failed, error %u\n", (unsigned)GetLastError());
    ok(info.dwOSVersionInfoSize == sizeof(info), "the size field changed to %u\n", (unsigned)info.dwOSVersionInfoSize);
    ok(info.dwPlatformId == VER_PLATFORM_WIN32_NT || info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS,
       "platform %u\n", (unsigned)info.dwPlatformId);
    ok(info.dwMajorVersion >= 4, "major version %u\n", (unsigned)info.dwMajorVersion);
    ok(memchr(info.szCSDVersion, 0, sizeof(info.szCSDVersion)) != NULL, "the service pack text has no NUL\n");
    if (info.dwPlatformId == VER_PLATFORM_WIN32_NT)
        ok(HIWORD(info.dwBuildNumber) == 0, "an NT build number %#x with a high word\n", (unsigned)info.dwBuildNumber);
    else
        ok((info.dwBuildNumber >> 24) == info.dwMajorVersion, "a 9x build number %#x\n",
           (unsigned)info.dwBuildNumber);

    OSVERSIONINFOEXA ex;
    memset(&ex, 0xAB, sizeof(ex));
    ex.dwOSVersionInfoSize = sizeof(ex);
    ok(sizeof(ex) == 156, "OSVERSIONINFOEXA is %u bytes\n", (unsigned)sizeof(ex));
    /* Windows 95, 98 and Me know only OSVERSIONINFOA ("Windows: Unsupported"). */
    if (conformance_win9x()) {
        SET_ERROR();
        ok_windows(!GetVersionExA((LPOSVERSIONINFOA)&ex) && GetLastError() == ERROR_INSUFFICIENT_BUFFER,
                   "Windows 9x took OSVERSIONINFOEXA: error %u\n", (unsigned)GetLastError());
    } else {
        ok(GetVersionExA((LPOSVERSIONINFOA)&ex), "GetVersionExA(EX) failed, error %u\n", (unsigned)GetLastError());
        ok(ex.dwMajorVersion == info.dwMajorVersion && ex.dwMinorVersion == info.dwMinorVersion &&
               ex.dwPlatformId == info.dwPlatformId && ex.dwBuildNumber == info.dwBuildNumber,
           "the two structures disagree\n");
        ok(ex.wProductType >= VER_NT_WORKSTATION && ex.wProductType <= VER_NT_SERVER, "product type %u\n",
           (unsigned)ex.wProductType);
        ok(!strcmp(ex.szCSDVersion, info.szCSDVersion), "service packs '%s' and '%s'\n", ex.szCSDVersion,
           info.szCSDVersion);
    }

    static const DWORD wrong[] = {0, 1, sizeof(OSVERSIONINFOA) - 1, sizeof(OSVERSIONINFOA) + 1,
                                  sizeof(OSVERSIONINFOEXA) - 1, sizeof(OSVERSIONINFOEXA) + 1};
    for (size_t i = 0; i < sizeof(wrong) / sizeof(wrong[0]); ++i) {
        memset(&ex, 0, sizeof(ex));
        ex.dwOSVersionInfoSize = wrong[i];
        SET_ERROR();
        BOOL r = GetVersionExA((LPOSVERSIONINFOA)&ex);
        ok(!r && GetLastError() == ERROR_INSUFFICIENT_BUFFER, "size %u: %d, error %u\n", (unsigned)wrong[i], r,
           (unsigned)GetLastError());
        ok(ex.dwMajorVersion == 0, "size %u: the structure was filled\n", (unsigned)wrong[i]);
    }
}
