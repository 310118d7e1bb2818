/* kernel32: FormatMessageA with the system's texts: into a buffer, into one it allocates, too small,
 * unknown ids and languages, inserts. */
#include "test.h"

#define FLAGS (FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS)

static int ends_with_crlf(const char *s, DWORD n) { return n >= 2 && s[n - 2] == '\r' && s[n - 1] == '\n'; }

void func_kernel32_format(void)
{
    char buf[512];
    /* Every error a read on the voice device can end with has a text: the read-failure box shows it. */
    static const DWORD codes[] = {ERROR_INVALID_FUNCTION, ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED,
                                  ERROR_INVALID_HANDLE, ERROR_NOT_ENOUGH_MEMORY, ERROR_GEN_FAILURE,
                                  ERROR_INVALID_PARAMETER, ERROR_OPERATION_ABORTED, ERROR_DEVICE_NOT_CONNECTED,
                                  21 /* ERROR_NOT_READY */, 22 /* ERROR_BAD_COMMAND */, 23 /* ERROR_CRC */,
                                  30 /* ERROR_READ_FAULT */, 38 /* ERROR_HANDLE_EOF */, 121 /* ERROR_SEM_TIMEOUT */,
                                  122 /* ERROR_INSUFFICIENT_BUFFER */, ERROR_MORE_DATA, ERROR_NOACCESS,
                                  1117 /* ERROR_IO_DEVICE */, 1450 /* ERROR_NO_SYSTEM_RESOURCES */};
    for (size_t i = 0; i < sizeof(codes) / sizeof(codes[0]); ++i) {
        memset(buf, 'x', sizeof(buf));
        DWORD n = FormatMessageA(FLAGS, NULL, codes[i], 0, buf, sizeof(buf), NULL);
        ok(n > 2 && n == strlen(buf) && ends_with_crlf(buf, n), "code %u: %u characters, '%s'\n",
           (unsigned)codes[i], (unsigned)n, n ? buf : "");
    }

    /* The system's own texts: Wine's (dlls/kernelbase/winerror.mc) are its own words. */
    FormatMessageA(FLAGS, NULL, ERROR_FILE_NOT_FOUND, 0, buf, sizeof(buf), NULL);
    ok_windows(!strcmp(buf, "The system cannot find the file specified.\r\n"), "ERROR_FILE_NOT_FOUND: '%s'\n", buf);
    FormatMessageA(FLAGS, NULL, ERROR_GEN_FAILURE, 0, buf, sizeof(buf), NULL);
    ok_windows(!strcmp(buf, "A device attached to the system is not functioning.\r\n"), "ERROR_GEN_FAILURE: '%s'\n",
               buf);

    /* A buffer the system allocates, freed with LocalFree. */
    char *text = NULL;
    DWORD n = FormatMessageA(FLAGS | FORMAT_MESSAGE_ALLOCATE_BUFFER, NULL, ERROR_ACCESS_DENIED, 0, (LPSTR)&text, 0,
                             NULL);
    ok(n > 2 && text != NULL && n == strlen(text) && ends_with_crlf(text, n), "allocated: %u, '%s'\n",
       (unsigned)n, text ? text : "");
    ok(LocalFree(text) == NULL, "LocalFree of the message failed\n");

    /* As a program formats a device's error: allocated, without FORMAT_MESSAGE_IGNORE_INSERTS, for a
     * text that has no inserts. */
    text = NULL;
    n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, NULL, ERROR_GEN_FAILURE, 0,
                       (LPSTR)&text, 0, NULL);
    ok(n > 2 && text != NULL && n == strlen(text) && ends_with_crlf(text, n), "without IGNORE_INSERTS: %u, '%s'\n",
       (unsigned)n, text ? text : "");
    LocalFree(text);

    /* Too small a buffer for the text and its NUL. */
    DWORD full = FormatMessageA(FLAGS, NULL, ERROR_FILE_NOT_FOUND, 0, buf, sizeof(buf), NULL);
    SET_ERROR();
    ok(FormatMessageA(FLAGS, NULL, ERROR_FILE_NOT_FOUND, 0, buf, full, NULL) == 0, "a buffer of %u fitted\n",
       (unsigned)full);
    ok(GetLastError() == ERROR_INSUFFICIENT_BUFFER, "error %u, expected ERROR_INSUFFICIENT_BUFFER\n",
       (unsigned)GetLastError());
    ok(FormatMessageA(FLAGS, NULL, ERROR_FILE_NOT_FOUND, 0, buf, full + 1, NULL) == full,
       "a buffer of exactly the text and its NUL did not fit\n");

    /* An id the system has no text for. */
    SET_ERROR();
    ok(FormatMessageA(FLAGS, NULL, 0x2FFF0, 0, buf, sizeof(buf), NULL) == 0, "a text for an unknown id\n");
    ok(GetLastError() == ERROR_MR_MID_NOT_FOUND, "error %u, expected ERROR_MR_MID_NOT_FOUND\n",
       (unsigned)GetLastError());
    text = (char *)1;
    SET_ERROR();
    ok(FormatMessageA(FLAGS | FORMAT_MESSAGE_ALLOCATE_BUFFER, NULL, 0x2FFF0, 0, (LPSTR)&text, 0, NULL) == 0 &&
           GetLastError() == ERROR_MR_MID_NOT_FOUND,
       "allocating for an unknown id: error %u\n", (unsigned)GetLastError());

    /* The language: neutral or the user's default finds the text; a language the system has no
     * texts in fails. */
    ok(FormatMessageA(FLAGS, NULL, ERROR_ACCESS_DENIED, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buf, sizeof(buf),
                      NULL) > 0,
       "no text in the user's default language\n");
    ok(FormatMessageA(FLAGS, NULL, ERROR_ACCESS_DENIED, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), buf,
                      sizeof(buf), NULL) > 0,
       "no text in English\n");
    SET_ERROR();
    n = FormatMessageA(FLAGS, NULL, ERROR_ACCESS_DENIED, MAKELANGID(0x3F, 0x3F), buf, sizeof(buf), NULL);
    ok(n == 0 && GetLastError() == ERROR_RESOURCE_LANG_NOT_FOUND, "an unknown language: %u characters, error %u\n",
       (unsigned)n, (unsigned)GetLastError());

    /* Inserts: with FORMAT_MESSAGE_IGNORE_INSERTS they stay as they are in the text. */
    memset(buf, 0, sizeof(buf));
    n = FormatMessageA(FLAGS, NULL, ERROR_BAD_EXE_FORMAT, 0, buf, sizeof(buf), NULL);
    ok(n > 0 && strstr(buf, "%1") != NULL, "ERROR_BAD_EXE_FORMAT with its insert: '%s'\n", buf);

    /* No buffer, and none to allocate: the buffer is looked at first, whether or not the id has a
     * text. */
    SET_ERROR();
    DWORD none = FormatMessageA(FLAGS, NULL, 0x2FFF0, 0, NULL, 0, NULL);
    ok(none == 0, "no buffer for an unknown id: %u characters\n", (unsigned)none);
    /* Wine 8 leaves the last error as it was here. */
    ok_windows(GetLastError() == ERROR_INSUFFICIENT_BUFFER, "no buffer for an unknown id: error %u\n",
               (unsigned)GetLastError());
    SET_ERROR();
    ok(FormatMessageA(FLAGS, NULL, ERROR_ACCESS_DENIED, 0, NULL, 0, NULL) == 0 &&
           GetLastError() == ERROR_INSUFFICIENT_BUFFER,
       "no buffer for a known id: error %u\n", (unsigned)GetLastError());

    /* A lone "%" at the end of a text with inserts is refused. */
    SET_ERROR();
    ok(FormatMessageA(FORMAT_MESSAGE_FROM_STRING, "50%", 0, 0, buf, sizeof(buf), NULL) == 0 &&
           GetLastError() == ERROR_INVALID_PARAMETER,
       "a trailing %%: error %u\n", (unsigned)GetLastError());

    /* Without FORMAT_MESSAGE_FROM_SYSTEM (nor a source) there is nothing to format. */
    SET_ERROR();
    ok(FormatMessageA(FORMAT_MESSAGE_IGNORE_INSERTS, NULL, ERROR_ACCESS_DENIED, 0, buf, sizeof(buf), NULL) == 0,
       "formatted without a source\n");
}
