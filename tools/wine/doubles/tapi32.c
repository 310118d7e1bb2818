/* tapi32.dll double for the program under Wine: the telephony library as the scenario has it. With
 * WITH_LOCATION_FUNCTION, the location query answers as the world's does (sim/kernel32_system.cpp):
 * country "1", city "555" and 0 when a dialing location exists, TAPIERR_REQUESTFAILED (-16) when the
 * controller says there is none (VXD_TELEPHONY=no-location in the program's environment) or a code
 * buffer is missing. The library of TAPI 2.0 and later (Windows 98 and later, NT 4) exports it under
 * the ANSI name tapiGetLocationInfoA and, for the programs written for TAPI 1.4, under the generic
 * name tapiGetLocationInfo; built with GENERIC_NAME_ONLY it is Windows 95's library (TAPI 1.4), which
 * has only the generic name. The controller puts the build that matches the system it tells the
 * program beside it, as each system has its own tapi32.dll. Without WITH_LOCATION_FUNCTION the
 * library lacks the function ("no function"). A library that is not there at all is Wine's
 * per-program override disabling tapi32. Loaded from the program's directory through Wine's
 * per-program DLL override. */
#include <windows.h>
#include <string.h>

#ifdef WITH_LOCATION_FUNCTION
static LONG LocationInfo(LPSTR country, LPSTR city)
{
    char mode[32] = "location";
    GetEnvironmentVariableA("VXD_TELEPHONY", mode, sizeof(mode));
    if (strcmp(mode, "location") != 0 || !country || !city)
        return -16;
    strcpy(country, "1");
    strcpy(city, "555");
    return 0;
}

__declspec(dllexport) LONG WINAPI tapiGetLocationInfo(LPSTR country, LPSTR city)
{
    return LocationInfo(country, city);
}

#ifndef GENERIC_NAME_ONLY
__declspec(dllexport) LONG WINAPI tapiGetLocationInfoA(LPSTR country, LPSTR city)
{
    return LocationInfo(country, city);
}
#endif
#else
/* A library of the name, without the function. */
__declspec(dllexport) LONG WINAPI lineShutdown(HANDLE app)
{
    (void)app;
    return 0;
}
#endif
