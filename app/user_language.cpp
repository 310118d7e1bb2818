// The user's language, from the locale in the registry.
#include <windows.h>

#include <string.h>

#include "app/user_language.h"

#define LOCALE_VALUE_SIZE 20

DWORD UserLanguage;  // primary language number; English until the registry says otherwise

// The blanks of the C locale: space, tab, line feed, vertical tab, form feed, carriage return.
static int IsBlank(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

static int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The unsigned base-16 conversion of the 32-bit program, the same in every build: blanks skipped, an
// optional sign, an optional 0x, digits up to the first other character (none: 0). A sign negates
// the number in 32 bits; a number too large for 32 bits saturates, whatever its sign.
static DWORD ParseHex32(const char *text)
{
    while (IsBlank(*text))
        text++;
    int negative = *text == '-';
    if (*text == '-' || *text == '+')
        text++;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X') && HexDigit(text[2]) >= 0)
        text += 2;
    DWORD number = 0;
    for (; HexDigit(*text) >= 0; text++) {
        if (number > 0x0FFFFFFF)
            return 0xFFFFFFFF;
        number = number * 16 + (DWORD)HexDigit(*text);
    }
    return negative ? 0 - number : number;
}

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
        UserLanguage = ParseHex32(text) & 0xFF;
    }
    RegCloseKey(key);
}
