// The user's language, from the locale in the registry.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "app/user_language.h"

#define LOCALE_VALUE_SIZE 20

DWORD UserLanguage;  // primary language number; English until the registry says otherwise

void ReadUserLanguage(void)
{
    UserLanguage = LANGUAGE_ENGLISH;

    HKEY key;
    if (RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel\\International", &key) != ERROR_SUCCESS)
        return;

    BYTE value[LOCALE_VALUE_SIZE];
    DWORD size = sizeof(value);
    if (RegQueryValueExA(key, "Locale", NULL, NULL, value, &size) == ERROR_SUCCESS) {
        // The stored text need not end in a NUL: parse a terminated copy of the bytes read, so the
        // conversion never runs past the buffer.
        char text[LOCALE_VALUE_SIZE + 1];
        if (size > LOCALE_VALUE_SIZE)
            size = LOCALE_VALUE_SIZE;
        memcpy(text, value, size);
        text[size] = '\0';
        // A 32-bit conversion, as on the shipped program: values too large for it saturate.
        unsigned long long number = strtoull(text, NULL, 16);
        if (number > 0xFFFFFFFFull)
            number = 0xFFFFFFFFull;
        UserLanguage = (DWORD)(number & 0xFF);
    }
    RegCloseKey(key);
}
