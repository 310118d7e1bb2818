/* advapi32: opening a key of the current user, reading a value with the size and error rules of
 * RegQueryValueExA, closing. */
#include "test.h"

void func_advapi32_reg(void)
{
    HKEY key = NULL;
    LSTATUS r = RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel\\International", &key);
    ok(r == ERROR_SUCCESS && key != NULL, "RegOpenKeyA failed: %d\n", (int)r);
    if (r != ERROR_SUCCESS)
        return;
    HKEY other = NULL;
    ok(RegOpenKeyA(HKEY_CURRENT_USER, "CONTROL PANEL\\international", &other) == ERROR_SUCCESS,
       "key names are not case-insensitive\n");
    ok(RegCloseKey(other) == ERROR_SUCCESS, "RegCloseKey failed\n");
    /* A failed open leaves no key behind. */
    other = (HKEY)(ULONG_PTR)0xdead;
    ok(RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel\\No Such Key", &other) == ERROR_FILE_NOT_FOUND,
       "a missing key did not answer ERROR_FILE_NOT_FOUND\n");
    ok(other == NULL, "a failed open left %p as the key\n", (void *)other);
    /* A backslash at the end names the same key. */
    other = NULL;
    ok(RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel\\International\\", &other) == ERROR_SUCCESS && other != NULL,
       "a trailing backslash was refused\n");
    RegCloseKey(other);
    /* No parent key is no handle at all. */
    other = (HKEY)(ULONG_PTR)0xdead;
    r = RegOpenKeyA(NULL, "Control Panel\\International", &other);
    ok(r == ERROR_INVALID_HANDLE, "a NULL parent key answered %d, not ERROR_INVALID_HANDLE\n", (int)r);
    /* Wine 8 leaves the key as it was when the parent is NULL. */
    ok_windows(other == NULL, "a NULL parent key left %p as the key\n", (void *)other);
    /* An empty or missing subkey opens the key itself. */
    other = NULL;
    ok(RegOpenKeyA(key, NULL, &other) == ERROR_SUCCESS && other == key, "a NULL subkey gave %p for %p\n",
       (void *)other, (void *)key);
    other = NULL;
    ok(RegOpenKeyA(key, "", &other) == ERROR_SUCCESS && other == key, "an empty subkey gave %p for %p\n",
       (void *)other, (void *)key);
    ok(RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel\\International", NULL) == ERROR_INVALID_PARAMETER,
       "no result pointer did not answer ERROR_INVALID_PARAMETER\n");

    /* The locale: a string of eight hex digits and its NUL. */
    DWORD type = 0, size = 0;
    ok(RegQueryValueExA(key, "Locale", NULL, &type, NULL, &size) == ERROR_SUCCESS, "the size query failed\n");
    ok(type == REG_SZ && size == 9, "Locale is type %u of %u bytes\n", (unsigned)type, (unsigned)size);
    BYTE data[32];
    memset(data, 'x', sizeof(data));
    size = sizeof(data);
    ok(RegQueryValueExA(key, "Locale", NULL, &type, data, &size) == ERROR_SUCCESS, "the read failed\n");
    ok(size == 9 && data[8] == 0 && strlen((char *)data) == 8, "read %u bytes '%s'\n", (unsigned)size, data);
    ok(data[9] == 'x', "the read wrote past the value\n");
    size = sizeof(data);
    ok(RegQueryValueExA(key, "LOCALE", NULL, NULL, data, &size) == ERROR_SUCCESS && size == 9,
       "value names are not case-insensitive, or no type pointer fails\n");
    ok(RegQueryValueExA(key, "Locale", NULL, &type, NULL, NULL) == ERROR_SUCCESS,
       "a query of the type alone failed\n");
    /* Too small: ERROR_MORE_DATA and the size needed. */
    size = 4;
    ok(RegQueryValueExA(key, "Locale", NULL, &type, data, &size) == ERROR_MORE_DATA, "a 4-byte buffer fitted\n");
    ok(size == 9, "the size needed was given as %u\n", (unsigned)size);
    size = 8;
    ok(RegQueryValueExA(key, "Locale", NULL, &type, data, &size) == ERROR_MORE_DATA,
       "a buffer without room for the NUL fitted\n");
    /* Failures. */
    size = sizeof(data);
    ok(RegQueryValueExA(key, "Conformance No Such Value", NULL, &type, data, &size) == ERROR_FILE_NOT_FOUND,
       "a missing value did not answer ERROR_FILE_NOT_FOUND\n");
    DWORD reserved = 0;
    size = sizeof(data);
    ok(RegQueryValueExA(key, "Locale", &reserved, &type, data, &size) == ERROR_INVALID_PARAMETER,
       "a reserved pointer did not answer ERROR_INVALID_PARAMETER\n");
    ok(RegQueryValueExA(key, "Locale", NULL, &type, data, NULL) == ERROR_INVALID_PARAMETER,
       "data without a size did not answer ERROR_INVALID_PARAMETER\n");
    ok(RegCloseKey(key) == ERROR_SUCCESS, "RegCloseKey failed\n");
    size = sizeof(data);
    ok(RegQueryValueExA(key, "Locale", NULL, &type, data, &size) == ERROR_INVALID_HANDLE,
       "a closed key did not answer ERROR_INVALID_HANDLE\n");
    ok(RegCloseKey(key) == ERROR_INVALID_HANDLE, "closing a closed key did not answer ERROR_INVALID_HANDLE\n");
    /* A predefined key is read without being opened: a missing value is looked up, not refused. */
    size = sizeof(data);
    ok(RegQueryValueExA(HKEY_CURRENT_USER, "Conformance No Such Value", NULL, &type, data, &size) ==
           ERROR_FILE_NOT_FOUND,
       "a value of HKEY_CURRENT_USER itself was not looked up\n");
    /* A predefined key is always open: closing it succeeds. */
    ok(RegCloseKey(HKEY_CURRENT_USER) == ERROR_SUCCESS, "closing HKEY_CURRENT_USER failed\n");
}
