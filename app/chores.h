// The start-up chores: the telephony dialing location and the control-panel applet restore.
#ifndef APP_CHORES_H
#define APP_CHORES_H

#include <windows.h>

// Telephony results, as the telephony library reports them.
#define LINEERR_OPERATIONUNAVAIL ((LONG)0x80000049)
#define TAPIERR_REQUESTFAILED (-16L)

#define TAPI_LIBRARY_NAME "TAPI32.DLL"
#define TAPI_LOCATION_FUNCTION "tapiGetLocationInfoA"
// The same function under the name it has in the telephony library of Windows 95, which predates
// the ANSI and Unicode pairs (its later libraries keep the name, as the ANSI version).
#define TAPI_LOCATION_FUNCTION_GENERIC "tapiGetLocationInfo"
#define TELEPHONY_CONTROL_PANEL "control.exe telephon.cpl"
#define TAPI_CODE_SIZE 20

// The applet and its spare copy, under the Windows directory.
#define APPLET_SPARE_FORMAT "%s\\system32\\vxmport.cp_"
#define APPLET_TARGET_FORMAT "%s\\system32\\vxmport.cpl"
#define APPLET_PATH_SIZE 256

int CheckTelephonyLocation(void);
LONG BindTapiLocationInfo(LPSTR lpszCountryCode, LPSTR lpszCityCode);
void RestoreControlApplet(void);

#endif
