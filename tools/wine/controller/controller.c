/* vxcontrol.exe: plays a scenario (as the lines of vudizeri-wine-lines) in real time beside the real
 * program under Wine, and writes what it sees as the runner's trace (JSON Lines on standard output).
 *
 *   vxcontrol.exe LINES-FILE PROGRAM.EXE
 *
 * Driver events go through the driver double's control device; the user's actions through Win32
 * (the call dialog's buttons and check box, the message boxes, WM_CLOSE, WM_POWERBROADCAST); the
 * user's locale, the system's version and the doubles of the telephony and dial-up libraries into the
 * registry and the program's directory, the scenario's files into the Windows directory, before the
 * program starts. It reports what it can see of the program's chores too: the programs it starts
 * (`exec`, with the program's file name; they are ended at once) and, when the run ends, each of
 * the scenario's files as it is then (`file-final`); the files are removed afterwards. Time 0 is when the program's host
 * window or its first device open is seen, whichever is earlier; scenario times count from there. */
#include <windows.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "client.h"
#include "record.h"

#define HOST_CLASS "Tarvo VudIzeri"
#define MAX_EVENTS 512
#define MAX_WINDOWS 32
#define MAX_CONTROLS 24
#define POLL_MS 10
#define SETTLED_LOOKS 5   /* unchanged looks in a row before a dialog counts as placed */
#define MAX_PENDING 200   /* passes after which a dialog is reported wherever it is */
#define MAX_RETIRED 64
#define MAX_FILES 16
#define MAX_CHILDREN 16

typedef struct {
    long long at;
    char kind[16];
    long long a, b;
    char text[320];
    char extra[32];
} Step;

typedef struct {
    int id;
    HWND hwnd;
    char text[512];
    int check;  /* -1: not a check box */
} Control;

typedef struct {
    HWND hwnd;
    int kind;  /* 1 host window, 2 call dialog, 3 message box, 4 other */
    int visible;
    int template_id;
    int depth;
    int pending;        /* a call dialog seen but not reported: passes so far */
    int still;          /* looks in a row that found it where it was */
    int placed;         /* it has moved or gone on top since it was first seen */
    long long first_t;
    RECT last_rect;     /* where it was at the last pass, and whether on top */
    int last_topmost;
    char caption[256];
    Control controls[MAX_CONTROLS];
    int ncontrols;
    int alive;
} Seen;

static Step Steps[MAX_EVENTS];            /* the scenario's events, in file order */
static int StepCount, NextStep;
static char LocaleMode[16] = "value", LocaleValue[64];
static long long VoiceAt = 0, ControlAt = 0, EndAt = 0;  /* -1: never */
static int StopHangs;
static char Telephony[32] = "location";  /* location | no-location | no-function | no-library */
static int DialUp;                        /* active dial-up connections */
static struct {
    DWORD attributes;
    char hex[512];
    char path[MAX_PATH];
} Files[MAX_FILES];                       /* the scenario's files, as they are at the start */
static int FileCount;
static DWORD Children[MAX_CHILDREN];      /* programs the program started, seen and ended */
static int ChildCount;
static char Version[16];                  /* Wine's name for the system the program is to see */
static LONGLONG T0;                       /* system time of time 0, 100 ns units */
static int Started;                       /* time 0 is known */
static DWORD ProgramPid;
static HANDLE Program;
static Seen Windows[MAX_WINDOWS];
static int OpenBoxes;                     /* message boxes open now */
static HWND Retired[MAX_RETIRED];         /* windows seen and gone: never reported again */
static int RetiredCount, RetiredNext;
static int LastPlayState, LastRecState;
static unsigned char Record[VXD_RECORD_SIZE]; /* the record the driver reports */
static int LastPlayIndex, LastRecIndex;   /* the rings' indices at the last look */
static int PlayAdvances, RecAdvances;     /* buffers the rings moved on since their stream started */
static char LineFile[MAX_PATH];           /* what the far end says: 16-bit samples, said again and again */
static char TakenFile[MAX_PATH] = "line-out.raw"; /* what the driver took from the record area */
static FILE *TakenOut;
static long long TakenSamples, TakenLost;
static long long PlayMovedAt = -1, RecMovedAt = -1; /* when each ring last moved on (ms) */
static long long LastLookAt = -1;         /* the controller's previous look at the rings */
static int Underruns, Overruns;           /* times a ring stood still longer than its queued sound */

static LONGLONG SystemNow(void)
{
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    return ((LONGLONG)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
}

static long long Ms(LONGLONG system_time) { return (system_time - T0) / 10000; }
static long long NowMs(void) { return Ms(SystemNow()); }

/* A JSON string from UTF-8 text. */
static void PutString(const char *s)
{
    putchar('"');
    for (const unsigned char *p = (const unsigned char *)s; *p; ++p) {
        if (*p == '"' || *p == '\\')
            printf("\\%c", *p);
        else if (*p == '\n')
            printf("\\n");
        else if (*p == '\r')
            printf("\\r");
        else if (*p == '\t')
            printf("\\t");
        else if (*p < 0x20)
            printf("\\u%04x", *p);
        else
            putchar(*p);
    }
    putchar('"');
}

static void Head(long long t, const char *ev)
{
    printf("{\"t\":%lld,\"ev\":\"%s\"", t < 0 ? 0 : t, ev);
}

static void End(void)
{
    printf("}\n");
    fflush(stdout);
}

/* One direction's stream changed between running and closed: a stream that closes first reports how
 * far its ring moved on (the wave notices kept it going); the count starts afresh either way. */
static void ReportStream(long long t, const char *dir, int state, int last_state, int *advances, int *last_index)
{
    if ((state != 0) == (last_state != 0))
        return;
    if (!state) {
        Head(t, "ring");
        printf(",\"dir\":\"%s\",\"advances\":%d", dir, *advances);
        End();
    }
    Head(t, "stream");
    printf(",\"dir\":\"%s\",\"state\":\"%s\"", dir, state ? "running" : "closed");
    End();
    *advances = 0;
    *last_index = -1;
}

static void WindowTextUtf8(HWND hwnd, char *out, int size)
{
    WCHAR wide[512];
    int n = GetWindowTextW(hwnd, wide, 512);
    wide[n < 0 ? 0 : n] = 0;
    if (!WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, size, NULL, NULL))
        out[0] = 0;
}


/* The scenario's name of a system as Wine's per-program setting names it. A 64-bit program under
 * Wine is told XP as "winxp64" (the same NT 5 to the program). */
static void WineVersionName(const char *scenario_name)
{
    static const char *names[][2] = {{"95", "win95"}, {"98", "win98"},     {"me", "winme"},
                                     {"nt4", "nt40"}, {"2000", "win2k"},   {"xp", "winxp"},
                                     {"2003", "win2003"}, {"vista", "vista"}, {"7", "win7"}};
    for (size_t i = 0; i < sizeof(names) / sizeof(names[0]); ++i)
        if (strcmp(scenario_name, names[i][0]) == 0)
            snprintf(Version, sizeof(Version), "%s", names[i][1]);
    if (sizeof(void *) == 8 && strcmp(Version, "winxp") == 0)
        strcpy(Version, "winxp64");
}

static int ReadLines(const char *path)
{
    FILE *f = fopen(path, "r");
    if (!f)
        return 0;
    char line[1024];
    while (fgets(line, sizeof(line), f)) {
        line[strcspn(line, "\r\n")] = 0;
        char word[32], arg[256];
        if (sscanf(line, "locale %63s", LocaleValue) == 1 && strncmp(line, "locale ", 7) == 0)
            strcpy(LocaleMode, "value");
        else if (sscanf(line, "windows %15s", word) == 1)
            WineVersionName(word);
        else if (sscanf(line, "telephony %31s", Telephony) == 1)
            ;
        else if (sscanf(line, "dialup %d", &DialUp) == 1)
            ;
        else if (strncmp(line, "file ", 5) == 0 && FileCount < MAX_FILES) {
            int at = 0;
            if (sscanf(line, "file %lu %511s %n", &Files[FileCount].attributes, Files[FileCount].hex, &at) == 2 && at)
                snprintf(Files[FileCount++].path, MAX_PATH, "%s", line + at);
        } else if (strcmp(line, "locale-missing") == 0)
            strcpy(LocaleMode, "missing");
        else if (strcmp(line, "locale-nokey") == 0)
            strcpy(LocaleMode, "nokey");
        else if (sscanf(line, "device %31s %255s", word, arg) == 2) {
            long long at = strcmp(arg, "never") == 0 ? -1 : atoll(arg);
            if (strcmp(word, "voice") == 0)
                VoiceAt = at;
            else
                ControlAt = at;
        } else if (strncmp(line, "stop ", 5) == 0)
            StopHangs = strcmp(line + 5, "hang") == 0;
        else if (strncmp(line, "end ", 4) == 0)
            EndAt = atoll(line + 4);
        else if (strncmp(line, "line ", 5) == 0)
            snprintf(LineFile, sizeof(LineFile), "%s", line + 5);
        else if (strncmp(line, "taken ", 6) == 0)
            snprintf(TakenFile, sizeof(TakenFile), "%s", line + 6);
        else if (strncmp(line, "at ", 3) == 0 && StepCount < MAX_EVENTS) {
            Step *s = &Steps[StepCount++];
            memset(s, 0, sizeof(*s));
            sscanf(line, "at %lld %15s %lld", &s->at, s->kind, &s->a);
            if (strcmp(s->kind, "devices") == 0) {
                sscanf(line, "at %*d devices %31s %lld", s->extra, &s->b);
            } else if (strcmp(s->kind, "speaker") == 0) {
                sscanf(line, "at %*d speaker %lld %lld", &s->a, &s->b);
            } else if (strcmp(s->kind, "status") == 0) {
                /* "WORD CALLER HOLD", applied to the record as record.h says */
                const char *fields = strstr(line, " status ") + 8;
                snprintf(s->text, sizeof(s->text), "%s", fields);
            }
        }
    }
    fclose(f);
    return 1;
}

/* Time sorted, as the world plays them: a stable sort by time. */
static void SortSteps(void)
{
    for (int i = 1; i < StepCount; ++i)
        for (int j = i; j > 0 && Steps[j - 1].at > Steps[j].at; --j) {
            Step t = Steps[j];
            Steps[j] = Steps[j - 1];
            Steps[j - 1] = t;
        }
}

static void PrepareRegistry(void)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\International", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                        NULL) != ERROR_SUCCESS)
        return;
    if (strcmp(LocaleMode, "value") == 0)
        RegSetValueExA(key, "Locale", 0, REG_SZ, (const BYTE *)LocaleValue, (DWORD)strlen(LocaleValue) + 1);
    else
        RegDeleteValueA(key, "Locale");  /* no key and no value read the same to the program */
    RegCloseKey(key);
    /* The system version the program is told: Wine's per-program setting. */
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\vudizeri.exe", 0, NULL, 0, KEY_ALL_ACCESS,
                        NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    if (Version[0])
        RegSetValueExA(key, "Version", 0, REG_SZ, (const BYTE *)Version, (DWORD)strlen(Version) + 1);
    else
        RegDeleteValueA(key, "Version");
    RegCloseKey(key);
}

/* The doubles of the system's telephony and dial-up libraries beside the program, and Wine's
 * per-program order that loads them before its own (a disabled tapi32: "no library"); what they say
 * is in the program's environment. */
static void PrepareLibraries(const char *program)
{
    char dir[MAX_PATH], *name = NULL, path[MAX_PATH], source[MAX_PATH];
    if (!GetFullPathNameA(program, MAX_PATH, dir, &name) || !name)
        return;
    *name = 0;
    snprintf(path, MAX_PATH, "%srasapi32.dll", dir);
    snprintf(source, MAX_PATH, "%svxrasapi32.dll", dir);
    CopyFileA(source, path, FALSE);
    snprintf(path, MAX_PATH, "%stapi32.dll", dir);
    /* Windows 95 has its own library (TAPI 1.4): the location query under its generic name only. */
    const char *library = strcmp(Telephony, "no-function") == 0 ? "vxtapi32-nofunction.dll"
                          : strcmp(Version, "win95") == 0      ? "vxtapi32-95.dll"
                                                               : "vxtapi32.dll";
    snprintf(source, MAX_PATH, "%s%s", dir, library);
    if (strcmp(Telephony, "no-library") == 0)
        DeleteFileA(path);
    else
        CopyFileA(source, path, FALSE);
    char count[16];
    snprintf(count, sizeof(count), "%d", DialUp);
    SetEnvironmentVariableA("VXD_DIALUP", count);
    SetEnvironmentVariableA("VXD_TELEPHONY", Telephony);
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\vudizeri.exe\\DllOverrides", 0, NULL, 0,
                        KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    const char *tapi = strcmp(Telephony, "no-library") == 0 ? "" : "native";
    RegSetValueExA(key, "rasapi32", 0, REG_SZ, (const BYTE *)"native", 7);
    RegSetValueExA(key, "tapi32", 0, REG_SZ, (const BYTE *)tapi, (DWORD)strlen(tapi) + 1);
    RegCloseKey(key);
}

static void PrepareFiles(void)
{
    for (int i = 0; i < FileCount; ++i) {
        SetFileAttributesA(Files[i].path, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(Files[i].path);
        HANDLE f = CreateFileA(Files[i].path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (f == INVALID_HANDLE_VALUE) {
            fprintf(stderr, "vxcontrol: cannot make %s: %lu\n", Files[i].path, GetLastError());
            continue;
        }
        unsigned char record[VXD_RECORD_SIZE];
        size_t n = strcmp(Files[i].hex, ".") == 0 ? 0 : strlen(Files[i].hex) / 2;
        for (size_t k = 0; k < n; ++k) {
            record[0] = (unsigned char)(VxdHexDigit(Files[i].hex[2 * k]) * 16 + VxdHexDigit(Files[i].hex[2 * k + 1]));
            DWORD put = 0;
            WriteFile(f, record, 1, &put, NULL);
        }
        CloseHandle(f);
        SetFileAttributesA(Files[i].path, Files[i].attributes);
    }
}

/* Each of the scenario's files as the run left it; then it is removed. */
static void ReportFiles(long long t)
{
    for (int i = 0; i < FileCount; ++i) {
        DWORD attributes = GetFileAttributesA(Files[i].path);
        Head(t, "file-final");
        printf(",\"path\":");
        PutString(Files[i].path);
        printf(",\"exists\":%s", attributes == INVALID_FILE_ATTRIBUTES ? "false" : "true");
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            printf(",\"attributes\":%lu,\"content\":\"", attributes);
            HANDLE f = CreateFileA(Files[i].path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
            unsigned char c;
            DWORD got = 0;
            while (f != INVALID_HANDLE_VALUE && ReadFile(f, &c, 1, &got, NULL) && got == 1)
                printf("%02x", c);
            if (f != INVALID_HANDLE_VALUE)
                CloseHandle(f);
            printf("\"");
        }
        End();
        SetFileAttributesA(Files[i].path, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(Files[i].path);
    }
}

/* Programs the program started: reported by file name, and ended (nothing here needs them). */
static void WatchChildren(long long t)
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32 p;
    p.dwSize = sizeof(p);
    for (BOOL more = Process32First(snap, &p); more; more = Process32Next(snap, &p)) {
        if (p.th32ParentProcessID != ProgramPid || p.th32ProcessID == ProgramPid)
            continue;
        int seen = 0;
        for (int i = 0; i < ChildCount; ++i)
            seen = seen || Children[i] == p.th32ProcessID;
        if (seen || ChildCount >= MAX_CHILDREN)
            continue;
        /* Known by its image, and at the time it was created (it may take a second to run). */
        HANDLE child = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, p.th32ProcessID);
        char image[MAX_PATH] = "";
        DWORD length = MAX_PATH;
        if (!child || !QueryFullProcessImageNameA(child, 0, image, &length))
            snprintf(image, sizeof(image), "%s", p.szExeFile);
        const char *base = strrchr(image, '\\');
        char name[MAX_PATH];
        snprintf(name, sizeof(name), "%s", base ? base + 1 : image);
        CharLowerA(name);
        FILETIME created, exited, kernel, user;
        long long at = t;
        if (child && GetProcessTimes(child, &created, &exited, &kernel, &user))
            at = Ms(((LONGLONG)created.dwHighDateTime << 32) | created.dwLowDateTime);
        /* Wine starts its desktop (and a console host) from the first program that needs one: Wine's,
           not the program's, and needed. A child without a name yet is looked at again. */
        if (!name[0] || strcmp(name, "explorer.exe") == 0 || strcmp(name, "conhost.exe") == 0) {
            if (name[0])
                Children[ChildCount++] = p.th32ProcessID;
            if (child)
                CloseHandle(child);
            continue;
        }
        Children[ChildCount++] = p.th32ProcessID;
        Head(at, "exec");
        printf(",\"program\":");
        PutString(name);
        End();
        if (child) {
            TerminateProcess(child, 0);
            CloseHandle(child);
        }
    }
    CloseHandle(snap);
}

/* ---- what the program shows ---- */

typedef struct {
    HWND list[MAX_WINDOWS];
    int n;
} WindowList;

static BOOL CALLBACK CollectProc(HWND hwnd, LPARAM param)
{
    WindowList *l = (WindowList *)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == ProgramPid && l->n < MAX_WINDOWS)
        l->list[l->n++] = hwnd;
    return TRUE;
}

typedef struct {
    Seen *seen;
} ChildScan;

static BOOL CALLBACK ChildProc(HWND hwnd, LPARAM param)
{
    Seen *s = (Seen *)param;
    if (s->ncontrols >= MAX_CONTROLS)
        return FALSE;
    Control *c = &s->controls[s->ncontrols++];
    c->hwnd = hwnd;
    c->id = GetDlgCtrlID(hwnd);
    WindowTextUtf8(hwnd, c->text, sizeof(c->text));
    char cls[32];
    GetClassNameA(hwnd, cls, sizeof(cls));
    LONG style = GetWindowLongA(hwnd, GWL_STYLE) & 0xF;
    c->check = (lstrcmpiA(cls, "Button") == 0 && (style == BS_AUTOCHECKBOX || style == BS_CHECKBOX))
                   ? (int)SendMessageA(hwnd, BM_GETCHECK, 0, 0)
                   : -1;
    return TRUE;
}

static Control *FindControl(Seen *s, int id)
{
    for (int i = 0; i < s->ncontrols; ++i)
        if (s->controls[i].id == id)
            return &s->controls[i];
    return NULL;
}

static int TemplateOf(Seen *s)
{
    if (strcmp(s->caption, "Modem-On-Hold") == 0)
        return 102;
    for (int i = 0; i < s->ncontrols; ++i)
        if (strstr(s->controls[i].text, "does not support Modem-On-Hold"))
            return 101;
    return 103;
}

static Seen *Find(HWND hwnd)
{
    for (int i = 0; i < MAX_WINDOWS; ++i)
        if (Windows[i].alive && Windows[i].hwnd == hwnd)
            return &Windows[i];
    return NULL;
}

static void EmitDialog(long long t, Seen *s)
{
    RECT r;
    GetWindowRect(s->hwnd, &r);
    Head(t, "dialog");
    printf(",\"template\":%d,\"title\":", s->template_id);
    PutString(s->caption);
    printf(",\"x\":%ld,\"y\":%ld,\"width\":%ld,\"height\":%ld,\"topmost\":%s,\"controls\":{", r.left, r.top,
           r.right - r.left, r.bottom - r.top,
           (GetWindowLongA(s->hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) ? "true" : "false");
    int first = 1;
    for (int i = 0; i < s->ncontrols; ++i) {
        Control *c = &s->controls[i];
        if (c->id == -1 || c->id == 0xFFFF)
            continue;
        printf("%s\"%d\":", first ? "" : ",", c->id);
        if (c->check >= 0)
            printf(c->check ? "true" : "false");
        else
            PutString(c->text);
        first = 0;
    }
    printf("}");
    End();
}

static const char *BoxText(Seen *s)
{
    /* The message's text is the static control with the longest text. */
    const char *best = "";
    for (int i = 0; i < s->ncontrols; ++i) {
        char cls[32];
        GetClassNameA(s->controls[i].hwnd, cls, sizeof(cls));
        if (lstrcmpiA(cls, "Static") == 0 && strlen(s->controls[i].text) > strlen(best))
            best = s->controls[i].text;
    }
    return best;
}

static void Observe(long long t)
{
    WindowList l = {{0}, 0};
    EnumWindows(CollectProc, (LPARAM)&l);
    for (int i = 0; i < MAX_WINDOWS; ++i)
        Windows[i].alive = Windows[i].alive ? 2 : 0;  /* 2: not yet seen in this pass */
    for (int i = 0; i < l.n; ++i) {
        HWND hwnd = l.list[i];
        Seen *s = Find(hwnd);
        char cls[64];
        GetClassNameA(hwnd, cls, sizeof(cls));
        int visible = IsWindowVisible(hwnd) ? 1 : 0;
        if (!s) {
            /* A window that is being destroyed can drop out of one enumeration and come back in the
               next with its text gone: what was once seen and lost is not new. */
            int retired = 0;
            for (int k = 0; k < RetiredCount; ++k)
                retired = retired || Retired[k] == hwnd;
            if (retired)
                continue;
            int kind = strcmp(cls, HOST_CLASS) == 0 ? 1 : strcmp(cls, "#32770") == 0 ? 0 : 4;
            if (kind == 4)
                continue;  /* windows Wine makes for itself (IME and the like) */
            Seen probe;
            memset(&probe, 0, sizeof(probe));
            probe.hwnd = hwnd;
            EnumChildWindows(hwnd, ChildProc, (LPARAM)&probe);
            WindowTextUtf8(hwnd, probe.caption, sizeof(probe.caption));
            /* The host window has its title from its creation on: one seen hidden and without it is
               being destroyed (its text already gone), not a new window. */
            if (kind == 1 && !probe.caption[0] && !visible)
                continue;
            if (kind == 0) {
                /* A call dialog has the caller's control; anything else is a message box. */
                if (FindControl(&probe, 1001))
                    kind = 2;
                else
                    kind = 3;
                if (!visible)
                    continue;  /* not yet shown: look again at the next pass */
            }
            for (int k = 0; k < MAX_WINDOWS; ++k)
                if (!Windows[k].alive) {
                    s = &Windows[k];
                    break;
                }
            if (!s)
                continue;
            *s = probe;
            s->kind = kind;
            s->alive = 1;
            s->visible = visible;
            if (kind == 1) {
                Head(t, "window");
                printf(",\"class\":");
                PutString(cls);
                printf(",\"title\":");
                PutString(s->caption);
                printf(",\"visible\":%s", visible ? "true" : "false");
                End();
            } else if (kind == 2) {
                s->template_id = TemplateOf(s);
                s->pending = 1;
                s->first_t = t;
                GetWindowRect(hwnd, &s->last_rect);
                s->last_topmost = (GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
            } else {
                s->depth = ++OpenBoxes;
                HWND owner = GetWindow(hwnd, GW_OWNER);
                char owner_class[64] = "";
                if (owner)
                    GetClassNameA(owner, owner_class, sizeof(owner_class));
                Head(t, "messagebox");
                printf(",\"owner\":");
                if (owner)
                    PutString(owner_class);
                else
                    printf("null");
                printf(",\"caption\":");
                PutString(s->caption);
                printf(",\"text\":");
                PutString(BoxText(s));
                /* The text as the program gave it: back to the system's ANSI code page. */
                WCHAR wide[512];
                char ansi[1024];
                MultiByteToWideChar(CP_UTF8, 0, BoxText(s), -1, wide, 512);
                int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, sizeof(ansi), NULL, NULL);
                printf(",\"bytes\":\"");
                for (int k = 0; k + 1 < n; ++k)
                    printf("%02x", (unsigned char)ansi[k]);
                printf("\"");
                printf(",\"depth\":%d", s->depth);
                RECT r;
                GetWindowRect(hwnd, &r);
                printf(",\"x\":%ld,\"y\":%ld,\"width\":%ld,\"height\":%ld", r.left, r.top, r.right - r.left,
                       r.bottom - r.top);
                End();
            }
            continue;
        }
        s->alive = 1;
        if (s->pending) {
            /* The program shows the dialog from its template, then centres it and puts it on top: report
               it once it has been placed (moved or put on top) and several looks in a row found it in
               one place; a slow, emulated program may leave it where the template put it for a while.
               A dialog never placed is reported after MAX_PENDING passes, where it is. */
            RECT r;
            GetWindowRect(hwnd, &r);
            int topmost = (GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
            if (EqualRect(&r, &s->last_rect) && topmost == s->last_topmost)
                s->still++;
            else
                s->still = 0, s->placed = 1;
            s->last_rect = r;
            s->last_topmost = topmost;
            if ((!(s->placed || topmost) || s->still < SETTLED_LOOKS) && ++s->pending < MAX_PENDING)
                continue;
            s->pending = 0;
            s->visible = visible;
            Head(s->first_t, "shown");
            printf(",\"window\":");
            PutString(s->caption);
            printf(",\"visible\":true");
            End();
            EmitDialog(s->first_t, s);
            continue;
        }
        if (visible != s->visible && s->kind != 3) {  /* a message box only opens and closes */
            s->visible = visible;
            Head(t, "shown");
            printf(",\"window\":");
            PutString(s->kind == 1 ? "host" : s->caption);
            printf(",\"visible\":%s", visible ? "true" : "false");
            End();
        }
        if (s->kind == 2) {
            for (int k = 0; k < s->ncontrols; ++k) {
                Control *c = &s->controls[k];
                char text[512];
                WindowTextUtf8(c->hwnd, text, sizeof(text));
                /* A dialog being destroyed loses its controls under our eyes: their texts read empty. */
                if (!IsWindow(c->hwnd) || !IsWindowVisible(s->hwnd))
                    continue;
                if (c->check < 0 && strcmp(text, c->text) != 0) {
                    strcpy(c->text, text);
                    Head(t, "text");
                    printf(",\"template\":%d,\"control\":%d,\"text\":", s->template_id, c->id);
                    PutString(text);
                    End();
                }
                if (c->check >= 0)
                    c->check = (int)SendMessageA(c->hwnd, BM_GETCHECK, 0, 0);
            }
        }
    }
    for (int i = 0; i < MAX_WINDOWS; ++i) {
        Seen *s = &Windows[i];
        if (s->alive != 2)
            continue;
        s->alive = 0;
        Retired[RetiredNext++ % MAX_RETIRED] = s->hwnd;
        if (RetiredCount < MAX_RETIRED)
            RetiredCount++;
        if (s->kind == 2) {
            if (s->pending) {
                /* Gone before it was placed: it was shown all the same. */
                Head(s->first_t, "shown");
                printf(",\"window\":");
                PutString(s->caption);
                printf(",\"visible\":true");
                End();
                EmitDialog(s->first_t, s);
            }
            if (s->visible) {
                Head(t, "shown");
                printf(",\"window\":");
                PutString(s->caption);
                printf(",\"visible\":false");
                End();
            }
            Head(t, "closed");
            printf(",\"template\":%d", s->template_id);
            End();
        } else if (s->kind == 3) {
            Head(t, "messagebox-closed");
            printf(",\"caption\":");
            PutString(s->caption);
            printf(",\"depth\":%d", s->depth);
            End();
            OpenBoxes--;
        }
    }
}

/* ---- what the driver saw ---- */

static void EmitDriverEvent(const VxdEvent *e)
{
    long long t = Ms(e->Time);
    switch (e->Kind) {
    case VXD_EV_OPEN:
        Head(t, "device");
        printf(",\"name\":");
        PutString(e->Device == VXD_DEVICE_VOICE ? "\\\\.\\VVOICE" : "\\\\.\\VXMCOM");
        printf(",\"ok\":%s", e->Ok ? "true" : "false");
        End();
        break;
    case VXD_EV_RESPONSE: {
        char caller[101];
        memcpy(caller, e->Record, 100);
        caller[100] = 0;
        WCHAR wide[101];
        char utf8[400];
        MultiByteToWideChar(CP_ACP, 0, caller, -1, wide, 101);
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof(utf8), NULL, NULL);
        unsigned code, status, hold;
        memcpy(&hold, e->Record + 100, 4);
        memcpy(&status, e->Record + 104, 4);
        memcpy(&code, e->Record + 108, 4);
        Head(t, "response");
        printf(",\"code\":%u,\"status\":%u,\"hold\":%u,\"caller\":", code, status, hold);
        PutString(utf8);
        End();
        break;
    }
    case VXD_EV_STATE:
        ReportStream(t, "out", e->A, LastPlayState, &PlayAdvances, &LastPlayIndex);
        ReportStream(t, "in", e->B, LastRecState, &RecAdvances, &LastRecIndex);
        if ((e->A != 0) != (LastPlayState != 0))
            PlayMovedAt = t;
        if ((e->B != 0) != (LastRecState != 0))
            RecMovedAt = t;
        LastPlayState = e->A;
        LastRecState = e->B;
        break;
    case VXD_EV_FEED:
        Head(t, "feed");
        printf(",\"line_start\":%d,\"index\":%d", e->A, e->B);
        End();
        break;
    case VXD_EV_FED:
        Head(t, "fed");
        printf(",\"line_start\":%d,\"written\":%d", e->A, e->B);
        End();
        break;
    case VXD_EV_TAKE:
        Head(t, "take");
        printf(",\"begin\":%d,\"first_buffer\":%d", e->A, e->B);
        End();
        break;
    default:
        break;
    }
}

/* The driver double's view of the block: how far the two rings have moved on. */
/* A ring that stands still for longer than the sound queued on it (four playback buffers, 512 ms;
 * two record buffers, 128 ms) plus one buffer has run dry: an underrun or an overrun of the
 * program's. Only looks that follow the previous one closely count: a late look of the controller's
 * own proves nothing about the program. */
static void Stall(long long now, long long *moved_at, int moved, long long limit, int *count)
{
    if (moved || *moved_at < 0) {
        *moved_at = now;
        return;
    }
    if (now - *moved_at > limit && LastLookAt >= 0 && now - LastLookAt < 50) {
        (*count)++;
        *moved_at = now;  /* counted once per standstill */
    }
}

static void WatchRings(void)
{
    long long now = NowMs();
    if (!LastPlayState && !LastRecState) {
        LastLookAt = now;
        return;
    }
    VxdBlockView v;
    if (!Ctl(VXD_PEEK_BLOCK, NULL, 0, &v, sizeof(v)) || !v.Found)
        return;
    if (LastPlayState && v.PlayIndex >= 0 && v.PlayIndex < 8) {
        int moved = 0;
        if (LastPlayIndex >= 0)
            PlayAdvances += (moved = (v.PlayIndex - LastPlayIndex + 8) % 8);
        LastPlayIndex = v.PlayIndex;
        Stall(now, &PlayMovedAt, moved, 512 + 128, &Underruns);
    }
    if (LastRecState && v.RecIndex >= 0 && v.RecIndex < 16) {
        int moved = 0;
        if (LastRecIndex >= 0)
            RecAdvances += (moved = (v.RecIndex - LastRecIndex + 16) % 16);
        LastRecIndex = v.RecIndex;
        Stall(now, &RecMovedAt, moved, 128 + 64, &Overruns);
    }
    LastLookAt = now;
}

/* What the far end says, handed to the driver double before the program starts. */
static int SendLine(void)
{
    if (!LineFile[0])
        return 1;
    FILE *f = fopen(LineFile, "rb");
    if (!f)
        return 0;
    fseek(f, 0, SEEK_END);
    long bytes = ftell(f);
    fseek(f, 0, SEEK_SET);
    static VxdLineChunk chunk;
    chunk.Total = (unsigned)(bytes / 2);
    int ok = chunk.Total > 0 && chunk.Total <= VXD_LINE_MAX;
    for (chunk.Offset = 0; ok && chunk.Offset < chunk.Total; chunk.Offset += chunk.Count) {
        chunk.Count = (unsigned)fread(chunk.Samples, 2, VXD_CHUNK_SAMPLES, f);
        ok = chunk.Count > 0 && Ctl(VXD_SET_LINE, &chunk, sizeof(chunk), NULL, 0);
    }
    fclose(f);
    return ok;
}

/* The recorded samples the driver took since the last look, into the taken file. */
static void DrainTaken(void)
{
    static VxdTakenChunk chunk;
    while (Ctl(VXD_TAKE_LINE, NULL, 0, &chunk, sizeof(chunk))) {
        TakenLost += chunk.Lost;
        if (!chunk.Count)
            break;
        if (TakenOut)
            fwrite(chunk.Samples, 2, chunk.Count, TakenOut);
        TakenSamples += chunk.Count;
    }
}

static void DrainDriver(void)
{
    VxdEvent e;
    while (Ctl(VXD_NEXT_EVENT, NULL, 0, &e, sizeof(e)))
        EmitDriverEvent(&e);
}

/* ---- the user's and the driver's scripted actions ---- */

static Seen *OpenCallDialog(void)
{
    for (int i = 0; i < MAX_WINDOWS; ++i)
        if (Windows[i].alive && Windows[i].kind == 2)
            return &Windows[i];
    return NULL;
}

static void UserRefused(long long t, const char *action, int control, const char *why)
{
    Head(t, "user");
    printf(",\"action\":\"%s\"", action);
    if (control)
        printf(",\"control\":%d", control);
    printf(",\"ok\":false,\"reason\":\"%s\"", why);
    End();
}

static void Press(long long t, const char *action, int id)
{
    Seen *d = OpenCallDialog();
    if (!d)
        return UserRefused(t, action, id, "no open dialog");
    HWND button = GetDlgItem(d->hwnd, id);
    if (!button)
        return UserRefused(t, action, id, "no such control");
    Control *c = FindControl(d, id);
    int checkbox = c && c->check >= 0;
    if (strcmp(action, "click") != 0 && !checkbox)
        return UserRefused(t, action, id, "not a check box");
    Head(t, "user");
    printf(",\"action\":\"%s\",\"control\":%d,\"ok\":true", action, id);
    End();
    int state = checkbox ? (int)SendMessageA(button, BM_GETCHECK, 0, 0) : 0;
    if (strcmp(action, "click") == 0 || (strcmp(action, "check") == 0 && state != BST_CHECKED) ||
        (strcmp(action, "uncheck") == 0 && state != BST_UNCHECKED)) {
        DWORD_PTR result;
        long long before = NowMs();
        SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_NORMAL, 3000, &result);
        if (NowMs() - before > 1000)
            fprintf(stderr, "vxcontrol: the click on %d took %lld ms\n", id, NowMs() - before);
    }
}

static BOOL CALLBACK FirstButtonProc(HWND hwnd, LPARAM param)
{
    char cls[32];
    GetClassNameA(hwnd, cls, sizeof(cls));
    if (lstrcmpiA(cls, "Button") == 0) {
        *(HWND *)param = hwnd;
        return FALSE;
    }
    return TRUE;
}

static void Dismiss(long long t)
{
    Seen *innermost = NULL;
    for (int i = 0; i < MAX_WINDOWS; ++i)
        if (Windows[i].alive && Windows[i].kind == 3 && (!innermost || Windows[i].depth > innermost->depth))
            innermost = &Windows[i];
    if (!innermost) {
        Head(t, "user");
        printf(",\"action\":\"dismiss\",\"ok\":false");
        End();
        return;
    }
    HWND button = NULL;
    EnumChildWindows(innermost->hwnd, FirstButtonProc, (LPARAM)&button);
    if (button)
        PostMessageA(button, BM_CLICK, 0, 0);
    else
        PostMessageA(innermost->hwnd, WM_COMMAND, IDOK, 0);
}

static void SetStatus(const Step *s)
{
    if (VxdApplyStatus(Record, s->text))
        Ctl(VXD_SET_RECORD, Record, sizeof(Record), NULL, 0);
    else
        fprintf(stderr, "vxcontrol: bad status line: %s\n", s->text);
}

static void Perform(const Step *s, long long t)
{
    HWND host = FindWindowA(HOST_CLASS, NULL);
    if (strcmp(s->kind, "status") == 0)
        SetStatus(s);
    else if (strcmp(s->kind, "click") == 0 || strcmp(s->kind, "check") == 0 || strcmp(s->kind, "uncheck") == 0)
        Press(t, s->kind, (int)s->a);
    else if (strcmp(s->kind, "dismiss") == 0)
        Dismiss(t);
    else if (strcmp(s->kind, "close") == 0) {
        if (host)
            PostMessageA(host, WM_CLOSE, 0, 0);
        else
            UserRefused(t, "close", 0, "no window");
    } else if (strcmp(s->kind, "speaker") == 0)
        Say(VXD_WORD_REQUESTS, (int)s->a, (int)s->b, 0, 0);
    else if (strcmp(s->kind, "voice_status") == 0)
        Say(VXD_WORD_STATUS, 0, 0, (int)s->a, 0);
    else if (strcmp(s->kind, "voice_error") == 0)
        Say(VXD_WORD_ERROR, 0, 0, 0, (unsigned)s->a);
    else if (strcmp(s->kind, "devices") == 0)
        Present(strcmp(s->extra, "voice") == 0 ? VXD_DEVICE_VOICE : VXD_DEVICE_CONTROL, (unsigned)s->b);
    else if (strcmp(s->kind, "power") == 0) {
        if (!host)
            return UserRefused(t, "power", 0, "no window");
        DWORD_PTR result = 0;
        SendMessageTimeoutA(host, WM_POWERBROADCAST, (WPARAM)s->a, 0, SMTO_NORMAL, 5000, &result);
        Head(NowMs(), "power");
        printf(",\"event\":%lld,\"answer\":\"%s\",\"result\":%lld", s->a,
               result == BROADCAST_QUERY_DENY ? "deny" : "default", (long long)(LRESULT)result);
        End();
    }
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: vxcontrol LINES-FILE PROGRAM.EXE\n");
        return 2;
    }
    if (!ReadLines(argv[1])) {
        fprintf(stderr, "vxcontrol: cannot read %s\n", argv[1]);
        return 2;
    }
    SortSteps();
    for (int tries = 0; tries < 300 && (Double = CreateFileA(VXDOUBLE_CONTROL_NAME, GENERIC_READ | GENERIC_WRITE,
                                                               FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                                               OPEN_EXISTING, 0, NULL)) == INVALID_HANDLE_VALUE;
         ++tries)
        Sleep(100);
    if (Double == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "vxcontrol: the driver double is not running\n");
        return 2;
    }
    Ctl(VXD_RESET, NULL, 0, NULL, 0);
    if (!SendLine()) {
        fprintf(stderr, "vxcontrol: cannot hand the line signal %s to the driver double\n", LineFile);
        return 2;
    }
    TakenOut = fopen(TakenFile, "wb");
    ULONG hangs = StopHangs;
    Ctl(VXD_SET_STOP_HANGS, &hangs, sizeof(hangs), NULL, 0);
    if (VoiceAt == 0)
        Present(VXD_DEVICE_VOICE, 1);
    if (ControlAt == 0)
        Present(VXD_DEVICE_CONTROL, 1);
    PrepareRegistry();
    PrepareLibraries(argv[2]);
    PrepareFiles();
    SetCursorPos(4000, 4000);  /* the pointer out of the way, in a corner of the screen */

    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    LONGLONG launched = SystemNow();
    if (!CreateProcessA(argv[2], NULL, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        fprintf(stderr, "vxcontrol: cannot start %s: %lu\n", argv[2], GetLastError());
        return 2;
    }
    Program = pi.hProcess;
    ProgramPid = pi.dwProcessId;

    /* Time 0: the first device open, or the host window, whichever is seen first. */
    VxdEvent early[64];
    int nearly = 0;
    while (!Started) {
        VxdEvent e;
        while (nearly < 64 && Ctl(VXD_NEXT_EVENT, NULL, 0, &e, sizeof(e)))
            early[nearly++] = e;
        LONGLONG now = SystemNow();
        HWND host = FindWindowA(HOST_CLASS, NULL);
        if (host || nearly) {
            T0 = now;
            for (int i = 0; i < nearly; ++i)
                if (early[i].Kind == VXD_EV_OPEN && early[i].Time < T0)
                    T0 = early[i].Time;
            Started = 1;
        } else if (WaitForSingleObject(Program, 1) == WAIT_OBJECT_0 || now - launched > 30LL * 10000000) {
            T0 = now;
            Started = 1;
        }
    }
    /* Time 0 on the system clock (Unix milliseconds), for what is measured outside Wine. */
    Head(0, "clock");
    printf(",\"unix_ms\":%lld", (T0 - 116444736000000000LL) / 10000);
    End();
    Observe(0);
    for (int i = 0; i < nearly; ++i)
        EmitDriverEvent(&early[i]);

    long long end = EndAt > 0 ? EndAt : (StepCount ? Steps[StepCount - 1].at : 0) + 5000;
    const char *reason = "time";
    int passes = 0;
    for (;;) {
        long long t = NowMs();
        if (VoiceAt > 0 && t >= VoiceAt) {
            Present(VXD_DEVICE_VOICE, 1);
            VoiceAt = -1;
        }
        if (ControlAt > 0 && t >= ControlAt) {
            Present(VXD_DEVICE_CONTROL, 1);
            ControlAt = -1;
        }
        while (NextStep < StepCount && Steps[NextStep].at <= t)
            Perform(&Steps[NextStep++], t);
        DrainDriver();
        WatchRings();
        DrainTaken();
        Observe(NowMs());
        if (++passes % 5 == 0)
            WatchChildren(NowMs());
        if (WaitForSingleObject(Program, POLL_MS) == WAIT_OBJECT_0) {
            long long at = NowMs();
            DrainDriver();
            Observe(at);
            DWORD code = 0;
            GetExitCodeProcess(Program, &code);
            Head(at, "exit");
            printf(",\"code\":%lu", code);
            End();
            reason = "exit";
            break;
        }
        if (t >= end) {
            TerminateProcess(Program, 1);
            WaitForSingleObject(Program, 5000);
            break;
        }
    }
    WatchChildren(NowMs());
    ReportFiles(NowMs());
    Sleep(50);  /* the driver double's next look at the block ends what the program left running */
    DrainDriver();
    DrainTaken();
    if (TakenOut)
        fclose(TakenOut);
    /* The rings' standstills, and what the driver took (the samples themselves are in the taken file). */
    Head(NowMs(), "rings");
    printf(",\"underruns\":%d,\"overruns\":%d,\"taken\":%lld,\"taken_lost\":%lld", Underruns, Overruns,
           TakenSamples, TakenLost);
    End();
    Head(NowMs(), "end");
    printf(",\"reason\":\"%s\"", reason);
    End();
    Ctl(VXD_RESET, NULL, 0, NULL, 0);
    return 0;
}
