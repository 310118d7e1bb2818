// The start-up chores: make sure a telephony dialing location exists, and, on the NT family of
// major version 5, put the driver's control-panel applet back from its spare copy.
#include <windows.h>

#include <string.h>

#include "app/chores.h"

// The one function of the telephony library the program needs. The library is bound by name at
// run time: a system without it must still start the program.
typedef LONG (WINAPI *TAPIGETLOCATIONINFOA)(LPSTR lpszCountryCode, LPSTR lpszCityCode);

#define TAPI_LIBRARY_FAILED ((HMODULE)(LONG_PTR)-1)
#define TAPI_FUNCTION_FAILED ((TAPIGETLOCATIONINFOA)(LONG_PTR)-1)

// The Windows directory is followed by this in either path.
#define APPLET_PATH_TAIL_LENGTH (sizeof("\\system32\\vxmport.cp_") - 1)

static HMODULE TapiLibrary;                      // NULL: not tried; TAPI_LIBRARY_FAILED: absent
static TAPIGETLOCATIONINFOA pTapiGetLocationInfo;  // NULL: not bound; TAPI_FUNCTION_FAILED: missing

int CheckTelephonyLocation(void)
{
    char countryCode[TAPI_CODE_SIZE];
    char cityCode[TAPI_CODE_SIZE];
    countryCode[0] = '\0';
    cityCode[0] = '\0';

    // No dialing location yet (or no telephony at all): let the user set one up. The codes
    // themselves are of no interest.
    if (BindTapiLocationInfo(countryCode, cityCode) != 0)
        WinExec(TELEPHONY_CONTROL_PANEL, SW_SHOWNORMAL);
    return 1;
}

LONG BindTapiLocationInfo(LPSTR lpszCountryCode, LPSTR lpszCityCode)
{
    if (!pTapiGetLocationInfo) {
        if (!TapiLibrary) {
            TapiLibrary = LoadLibraryA(TAPI_LIBRARY_NAME);
            if (!TapiLibrary)
                TapiLibrary = TAPI_LIBRARY_FAILED;
        }
        if (TapiLibrary != TAPI_LIBRARY_FAILED) {
            // GetProcAddress hands back a generic function pointer; go through the generic
            // function type to reach the real one.
            pTapiGetLocationInfo = (TAPIGETLOCATIONINFOA)(void (*)(void))GetProcAddress(
                TapiLibrary, TAPI_LOCATION_FUNCTION);
            if (!pTapiGetLocationInfo)
                pTapiGetLocationInfo = (TAPIGETLOCATIONINFOA)(void (*)(void))GetProcAddress(
                    TapiLibrary, TAPI_LOCATION_FUNCTION_GENERIC);
        }
        // The library stays loaded for the life of the process, bound or not.
        if (!pTapiGetLocationInfo) {
            pTapiGetLocationInfo = TAPI_FUNCTION_FAILED;
            return LINEERR_OPERATIONUNAVAIL;
        }
    }
    if (pTapiGetLocationInfo == TAPI_FUNCTION_FAILED)
        return TAPIERR_REQUESTFAILED;
    return pTapiGetLocationInfo(lpszCountryCode, lpszCityCode);
}

void RestoreControlApplet(void)
{
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA(&version))
        return;
    // The applet is restored on the NT family of major version 5 only, whatever the minor version.
    if (version.dwPlatformId != VER_PLATFORM_WIN32_NT || version.dwMajorVersion != 5)
        return;

    char windowsDir[APPLET_PATH_SIZE];
    char sparePath[APPLET_PATH_SIZE];
    char appletPath[APPLET_PATH_SIZE];
    UINT length = GetWindowsDirectoryA(windowsDir, sizeof(windowsDir));
    // A directory too long for both paths to fit is left alone: a cut path could name another
    // file, and the buffers must not be overrun. Such a system keeps whatever applet it has.
    if (length == 0 || length + APPLET_PATH_TAIL_LENGTH >= sizeof(sparePath))
        return;
    wsprintfA(sparePath, APPLET_SPARE_FORMAT, windowsDir);
    wsprintfA(appletPath, APPLET_TARGET_FORMAT, windowsDir);

    // Without the spare there is nothing to restore from, and the applet stays as it is.
    if (GetFileAttributesA(sparePath) == INVALID_FILE_ATTRIBUTES)
        return;

    // A read-only applet could be neither deleted nor overwritten. If the copy fails after the
    // delete, the spare is still in place and the next start tries again.
    DWORD attributes = GetFileAttributesA(appletPath);
    SetFileAttributesA(appletPath, attributes & ~(DWORD)FILE_ATTRIBUTE_READONLY);
    DeleteFileA(appletPath);
    CopyFileA(sparePath, appletPath, FALSE);
}
