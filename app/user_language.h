// The user's language, read once at start from the locale in the registry.
#ifndef APP_USER_LANGUAGE_H
#define APP_USER_LANGUAGE_H

#include <windows.h>

#define LANGUAGE_ENGLISH 9
#define LANGUAGE_JAPANESE 0x11
#define LANGUAGE_KOREAN 0x12

extern DWORD UserLanguage;  // primary language number of the user's locale, 0 to 255

void ReadUserLanguage(void);

#endif
