/* kernel32: the Windows directory, file attributes (read-only, hidden, directories), DeleteFileA,
 * CopyFileA with and without fail-if-exists, paths of 255 characters. Files are made in the Windows
 * directory by copying its win.ini, and removed again. */
#include "test.h"

static char windir[MAX_PATH], source[MAX_PATH], a[MAX_PATH], b[MAX_PATH], missing_dir[MAX_PATH];

static void path(char *out, const char *name) { wsprintfA(out, "%s\\%s", windir, name); }

/* The attributes a program sets and relies on; INVALID_FILE_ATTRIBUTES for a missing file. */
static DWORD kept(const char *name)
{
    DWORD attributes = GetFileAttributesA(name);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return attributes;
    return attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
}

static void remove_file(const char *name)
{
    SetFileAttributesA(name, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(name);
}

static void expect_error(BOOL result, DWORD error, const char *what, int line)
{
    winetest_ok(!result && GetLastError() == error, __FILE__, line, "%s: result %d, error %u, expected %u\n", what,
                result, (unsigned)GetLastError(), (unsigned)error);
}
#define expect_error(call, error) do { SET_ERROR(); expect_error((call), (error), #call, __LINE__); } while (0)

static void test_windows_directory(void)
{
    UINT n = GetWindowsDirectoryA(windir, sizeof(windir));
    ok(n > 3 && n == strlen(windir) && windir[1] == ':' && windir[2] == '\\', "Windows directory '%s' (%u)\n",
       windir, n);
    char small[4] = "abc";
    ok(GetWindowsDirectoryA(small, sizeof(small)) == n + 1, "a small buffer was not told the size needed\n");
    ok(!strcmp(small, "abc"), "a small buffer was written: '%s'\n", small);
    ok(GetWindowsDirectoryA(NULL, 0) == n + 1, "no buffer was not told the size needed\n");
    char exact[MAX_PATH];
    ok(GetWindowsDirectoryA(exact, n) == n + 1, "a buffer without room for the NUL was taken\n");
    ok(GetWindowsDirectoryA(exact, n + 1) == n && !strcmp(exact, windir), "a buffer of just the size failed\n");
    DWORD attributes = GetFileAttributesA(windir);
    ok(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY),
       "the Windows directory's attributes %#x\n", (unsigned)attributes);
    path(source, "win.ini");
    path(a, "conf_a.tmp");
    path(b, "conf_b.tmp");
    path(missing_dir, "conf_no_dir\\x.tmp");
    remove_file(a);
    remove_file(b);
}

static void test_attributes(void)
{
    ok(GetFileAttributesA(source) != INVALID_FILE_ATTRIBUTES, "no %s\n", source);
    SET_ERROR();
    ok(GetFileAttributesA(a) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND,
       "a missing file: error %u\n", (unsigned)GetLastError());
    SET_ERROR();
    ok(GetFileAttributesA(missing_dir) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_PATH_NOT_FOUND,
       "a file in a missing directory: error %u\n", (unsigned)GetLastError());
    expect_error(SetFileAttributesA(a, FILE_ATTRIBUTE_NORMAL), ERROR_FILE_NOT_FOUND);

    ok(CopyFileA(source, a, TRUE), "CopyFileA failed, error %u\n", (unsigned)GetLastError());
    /* Wine reports FILE_ATTRIBUTE_ARCHIVE on every file whatever was set (its ntdll derives the
     * attributes of a Unix file from stat): the exact values are checked in the world only. */
    ok(SetFileAttributesA(a, FILE_ATTRIBUTE_READONLY), "SetFileAttributesA failed\n");
    ok(kept(a) == FILE_ATTRIBUTE_READONLY, "attributes %#x, expected read-only\n", (unsigned)GetFileAttributesA(a));
    ok_windows(GetFileAttributesA(a) == FILE_ATTRIBUTE_READONLY, "attributes %#x, expected read-only\n",
               (unsigned)GetFileAttributesA(a));
    ok(SetFileAttributesA(a, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY), "SetFileAttributesA failed\n");
    ok(kept(a) == (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY), "attributes %#x\n",
       (unsigned)GetFileAttributesA(a));
    /* Names are case-insensitive, and '/' separates as '\\' does. */
    char upper[MAX_PATH], slashed[MAX_PATH];
    strcpy(upper, a);
    for (char *p = upper; *p; ++p)
        if (*p >= 'a' && *p <= 'z')
            *p = (char)(*p - 'a' + 'A');
    strcpy(slashed, a);
    for (char *p = slashed; *p; ++p)
        if (*p == '\\')
            *p = '/';
    ok(kept(upper) == (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY), "'%s' not found\n", upper);
    ok(kept(slashed) == (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY), "'%s' not found\n", slashed);
    /* FILE_ATTRIBUTE_NORMAL clears them all, and is what a file without attributes reports. */
    ok(SetFileAttributesA(a, FILE_ATTRIBUTE_NORMAL), "SetFileAttributesA(NORMAL) failed\n");
    ok(kept(a) == 0, "attributes %#x after FILE_ATTRIBUTE_NORMAL\n", (unsigned)GetFileAttributesA(a));
    ok_windows(GetFileAttributesA(a) == FILE_ATTRIBUTE_NORMAL, "attributes %#x, expected FILE_ATTRIBUTE_NORMAL\n",
               (unsigned)GetFileAttributesA(a));
    ok(SetFileAttributesA(a, FILE_ATTRIBUTE_ARCHIVE), "SetFileAttributesA(ARCHIVE) failed\n");
    ok(GetFileAttributesA(a) == FILE_ATTRIBUTE_ARCHIVE, "attributes %#x\n", (unsigned)GetFileAttributesA(a));
}

static void test_delete(void)
{
    ok(SetFileAttributesA(a, FILE_ATTRIBUTE_READONLY), "SetFileAttributesA failed\n");
    expect_error(DeleteFileA(a), ERROR_ACCESS_DENIED);
    ok(GetFileAttributesA(a) != INVALID_FILE_ATTRIBUTES, "a read-only file was deleted\n");
    ok(SetFileAttributesA(a, FILE_ATTRIBUTE_HIDDEN), "SetFileAttributesA failed\n");
    ok(DeleteFileA(a), "deleting a hidden file failed, error %u\n", (unsigned)GetLastError());
    ok(GetFileAttributesA(a) == INVALID_FILE_ATTRIBUTES, "the file is still there\n");
    expect_error(DeleteFileA(a), ERROR_FILE_NOT_FOUND);
    expect_error(DeleteFileA(missing_dir), ERROR_PATH_NOT_FOUND);
    expect_error(DeleteFileA(windir), ERROR_ACCESS_DENIED);
}

static void test_copy(void)
{
    ok(CopyFileA(source, a, TRUE), "CopyFileA failed, error %u\n", (unsigned)GetLastError());
    expect_error(CopyFileA(source, a, TRUE), ERROR_FILE_EXISTS);
    ok(CopyFileA(source, a, FALSE), "CopyFileA over an existing file failed, error %u\n", (unsigned)GetLastError());
    /* The copy takes the source's attributes. */
    ok(SetFileAttributesA(a, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE), "SetFileAttributesA failed\n");
    ok(CopyFileA(a, b, FALSE), "copying a read-only file failed, error %u\n", (unsigned)GetLastError());
    ok(GetFileAttributesA(b) == (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE), "the copy's attributes %#x\n",
       (unsigned)GetFileAttributesA(b));
    /* "This function fails with ERROR_ACCESS_DENIED if the destination file already exists and has
     * the FILE_ATTRIBUTE_HIDDEN or FILE_ATTRIBUTE_READONLY attribute set" (CopyFile's documentation).
     * Wine replaces such a file when the Unix permissions let it (always so for root, as on CI). */
    SET_ERROR();
    BOOL copied = CopyFileA(source, b, FALSE);
    ok_windows(!copied && GetLastError() == ERROR_ACCESS_DENIED, "a read-only target: %d, error %u\n", copied,
               (unsigned)GetLastError());
    SetFileAttributesA(b, FILE_ATTRIBUTE_READONLY);
    expect_error(CopyFileA(source, b, TRUE), ERROR_FILE_EXISTS);
    ok(SetFileAttributesA(b, FILE_ATTRIBUTE_HIDDEN), "SetFileAttributesA failed\n");
    SET_ERROR();
    copied = CopyFileA(source, b, FALSE);
    ok_windows(!copied && GetLastError() == ERROR_ACCESS_DENIED, "a hidden target: %d, error %u\n", copied,
               (unsigned)GetLastError());
    /* As CreateFile's: a hidden or system file is replaced only by one that has those attributes too. */
    ok(SetFileAttributesA(b, FILE_ATTRIBUTE_SYSTEM), "SetFileAttributesA failed\n");
    SET_ERROR();
    copied = CopyFileA(source, b, FALSE);
    ok_windows(!copied && GetLastError() == ERROR_ACCESS_DENIED, "a system target: %d, error %u\n", copied,
               (unsigned)GetLastError());
    ok(SetFileAttributesA(a, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), "SetFileAttributesA failed\n");
    ok(CopyFileA(a, b, FALSE), "a hidden system file over a system one failed, error %u\n", (unsigned)GetLastError());
    /* The replaced file takes the source's attributes, as CreateFile with CREATE_ALWAYS gives them; Wine
     * keeps the hidden attribute off a file it replaces. */
    ok_windows(kept(b) == (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), "the copy's attributes %#x\n",
               (unsigned)GetFileAttributesA(b));
    ok(SetFileAttributesA(b, FILE_ATTRIBUTE_NORMAL), "SetFileAttributesA failed\n");
    ok(CopyFileA(source, b, FALSE), "copying over a normal file failed, error %u\n", (unsigned)GetLastError());
    /* Directories, missing sources and targets, the file onto itself. */
    SET_ERROR();
    copied = CopyFileA(windir, b, FALSE);
    ok(!copied && GetLastError() == ERROR_ACCESS_DENIED, "a directory as the source: %d, error %u\n", copied,
       (unsigned)GetLastError());
    expect_error(CopyFileA(source, windir, FALSE), ERROR_ACCESS_DENIED);
    path(b, "conf_none.tmp");
    expect_error(CopyFileA(b, a, FALSE), ERROR_FILE_NOT_FOUND);
    expect_error(CopyFileA(missing_dir, a, FALSE), ERROR_PATH_NOT_FOUND);
    expect_error(CopyFileA(source, missing_dir, FALSE), ERROR_PATH_NOT_FOUND);
    path(b, "conf_b.tmp");
    ok(SetFileAttributesA(a, FILE_ATTRIBUTE_NORMAL), "SetFileAttributesA failed\n");
    expect_error(CopyFileA(a, a, FALSE), ERROR_SHARING_VIOLATION);
    remove_file(a);
    remove_file(b);
    ok(GetFileAttributesA(a) == INVALID_FILE_ATTRIBUTES && GetFileAttributesA(b) == INVALID_FILE_ATTRIBUTES,
       "the suite's files were not removed\n");
}

/* A path of 255 characters (what fits a 256-byte buffer with its NUL) works as any other. */
static void test_long_path(void)
{
    char name[MAX_PATH + 8];
    size_t dir = strlen(windir) + 1;
    memset(name, 0, sizeof(name));
    strcpy(name, windir);
    strcat(name, "\\");
    for (size_t i = dir; i < 255; ++i)
        name[i] = (char)('a' + i % 26);
    ok(strlen(name) == 255, "a path of %u characters\n", (unsigned)strlen(name));
    ok(CopyFileA(source, name, TRUE), "copying to a path of 255 characters failed, error %u\n",
       (unsigned)GetLastError());
    ok(GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES, "no attributes for a path of 255 characters\n");
    ok(SetFileAttributesA(name, FILE_ATTRIBUTE_READONLY), "SetFileAttributesA failed\n");
    expect_error(DeleteFileA(name), ERROR_ACCESS_DENIED);
    ok(SetFileAttributesA(name, FILE_ATTRIBUTE_NORMAL), "SetFileAttributesA failed\n");
    ok(DeleteFileA(name), "deleting a path of 255 characters failed, error %u\n", (unsigned)GetLastError());
    ok(GetFileAttributesA(name) == INVALID_FILE_ATTRIBUTES, "the long file is still there\n");
}

void func_kernel32_file(void)
{
    test_windows_directory();
    test_attributes();
    test_delete();
    test_copy();
    test_long_path();
}
