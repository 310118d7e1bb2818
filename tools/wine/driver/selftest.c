/* vxselftest.exe: checks the driver double's contract from user mode, under Wine, as the program
 * uses it (synchronous handles, the block read by a thread of its own) plus the bad requests it
 * must refuse. One line per check: "ok NAME" or "FAIL NAME: what happened"; the last line is
 * "N passed, M failed". Exit status: the number of failures. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "client.h"

#define IOCTL_GET_LINE_STATUS 0x80802804u
#define IOCTL_SET_CALL_RESPONSE 0x80802808u
#define BLOCK_REQUEST 33460
#define READ_LENGTH 33460

static int Passed, Failed;

static void Check(int ok, const char *name, const char *fmt, ...)
{
    if (ok) {
        printf("ok %s\n", name);
        Passed++;
        return;
    }
    char what[256];
    va_list args;
    va_start(args, fmt);
    vsnprintf(what, sizeof(what), fmt, args);
    va_end(args);
    printf("FAIL %s: %s\n", name, what);
    Failed++;
}


static HANDLE Open(const char *name)
{
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
}

/* A read on its own thread, as the program's watch thread does it. */
typedef struct {
    HANDLE device;
    void *buffer;
    DWORD length;
    BOOL ok;
    DWORD error;
    HANDLE done;
} Reader;

static DWORD WINAPI ReaderProc(LPVOID param)
{
    Reader *r = param;
    DWORD got = 0;
    r->ok = ReadFile(r->device, r->buffer, r->length, &got, NULL);
    r->error = r->ok ? 0 : GetLastError();
    SetEvent(r->done);
    return 0;
}

static HANDLE StartRead(Reader *r)
{
    r->done = CreateEventA(NULL, TRUE, FALSE, NULL);
    return CreateThread(NULL, 0, ReaderProc, r, 0, NULL);
}

static LONG *Field(void *block, DWORD offset) { return (LONG *)((BYTE *)block + offset); }

int main(void)
{
    /* Services start the driver beside the first process of the prefix: give it time. */
    for (int tries = 0; tries < 300; ++tries) {
        Double = CreateFileA(VXDOUBLE_CONTROL_NAME, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             NULL, OPEN_EXISTING, 0, NULL);
        if (Double != INVALID_HANDLE_VALUE)
            break;
        Sleep(100);
    }
    Check(Double != INVALID_HANDLE_VALUE, "control-device-opens", "error %lu", GetLastError());
    if (Double == INVALID_HANDLE_VALUE) {
        printf("%d passed, %d failed\n", Passed, Failed + 1);
        return 1;
    }
    Ctl(VXD_RESET, NULL, 0, NULL, 0);

    /* Absent devices do not open. */
    HANDLE h = Open("\\\\.\\VVOICE");
    DWORD e = GetLastError();
    Check(h == INVALID_HANDLE_VALUE && e == ERROR_FILE_NOT_FOUND, "absent-voice-does-not-open",
          "handle %p error %lu", h, e);

    Present(VXD_DEVICE_VOICE, 1);
    Present(VXD_DEVICE_CONTROL, 1);
    HANDLE voice = Open("\\\\.\\VVOICE");
    Check(voice != INVALID_HANDLE_VALUE, "present-voice-opens", "error %lu", GetLastError());
    /* A second open is refused; Wine lets the open itself through, and then every request on it
       fails as the open would have. */
    h = Open("\\\\.\\VVOICE");
    e = GetLastError();
    if (h != INVALID_HANDLE_VALUE) {
        static BYTE scratch[33460];
        DWORD n = 0;
        BOOL read = ReadFile(h, scratch, sizeof(scratch), &n, NULL);
        e = read ? 0 : GetLastError();
        CloseHandle(h);
    }
    Check(e == ERROR_ACCESS_DENIED, "voice-is-exclusive", "error %lu", e);
    HANDLE modem = Open("\\\\.\\VXMCOM");
    Check(modem != INVALID_HANDLE_VALUE, "present-control-opens", "error %lu", GetLastError());

    /* The line-status record: exactly 112 bytes, nothing outside the buffer. */
    BYTE record[112] = {0};
    memcpy(record, "555 0100", 8);
    *(DWORD *)(record + 100) = 90;
    *(DWORD *)(record + 104) = 0x60;
    Check(Ctl(VXD_SET_RECORD, record, 112, NULL, 0), "record-set", "error %lu", GetLastError());
    Check(!Ctl(VXD_SET_RECORD, record, 111, NULL, 0), "record-set-refuses-111", "accepted");
    BYTE out[200];
    memset(out, 0xAA, sizeof(out));
    DWORD got = 0;
    BOOL ok = DeviceIoControl(modem, IOCTL_GET_LINE_STATUS, NULL, 0, out, 112, &got, NULL);
    Check(ok && got == 112 && memcmp(out, record, 112) == 0 && out[112] == 0xAA, "get-line-status",
          "ok %d got %lu status 0x%lx", ok, got, *(DWORD *)(out + 104));
    memset(out, 0xAA, sizeof(out));
    ok = DeviceIoControl(modem, IOCTL_GET_LINE_STATUS, NULL, 0, out, 111, &got, NULL);
    e = GetLastError();
    int untouched = 1;
    for (int i = 0; i < 200; ++i)
        untouched = untouched && out[i] == 0xAA;
    Check(!ok && e == ERROR_INSUFFICIENT_BUFFER && untouched, "get-line-status-short-buffer",
          "ok %d error %lu untouched %d", ok, e, untouched);
    ok = DeviceIoControl(modem, IOCTL_GET_LINE_STATUS, NULL, 0, NULL, 0, &got, NULL);
    e = GetLastError();
    Check(!ok && e == ERROR_INSUFFICIENT_BUFFER, "get-line-status-no-buffer", "ok %d error %lu", ok, e);

    /* Drain what happened so far, then send a response and find it among the events. */
    VxdEvent ev;
    while (Ctl(VXD_NEXT_EVENT, NULL, 0, &ev, sizeof(ev)))
        ;
    record[108] = 10;
    ok = DeviceIoControl(modem, IOCTL_SET_CALL_RESPONSE, record, 112, NULL, 0, &got, NULL);
    int seen = 0;
    while (Ctl(VXD_NEXT_EVENT, NULL, 0, &ev, sizeof(ev)))
        if (ev.Kind == VXD_EV_RESPONSE && memcmp(ev.Record, record, 112) == 0)
            seen++;
    Check(ok && seen == 1, "response-kept-whole", "ok %d seen %d", ok, seen);
    ok = DeviceIoControl(modem, IOCTL_SET_CALL_RESPONSE, record, 50, NULL, 0, &got, NULL);
    e = GetLastError();
    seen = 0;
    while (Ctl(VXD_NEXT_EVENT, NULL, 0, &ev, sizeof(ev)))
        seen += ev.Kind == VXD_EV_RESPONSE;
    Check(!ok && e == ERROR_INSUFFICIENT_BUFFER && seen == 0, "response-short-refused", "ok %d error %lu seen %d",
          ok, e, seen);
    ok = DeviceIoControl(modem, 0x80802810u, record, 112, out, 112, &got, NULL);
    e = GetLastError();
    Check(!ok && e == ERROR_INVALID_FUNCTION, "unknown-code-refused", "ok %d error %lu", ok, e);
    ok = DeviceIoControl(voice, IOCTL_GET_LINE_STATUS, NULL, 0, out, 112, &got, NULL);
    e = GetLastError();
    Check(!ok && e == ERROR_INVALID_FUNCTION, "voice-has-no-line-status", "ok %d error %lu", ok, e);

    /* The voice read. */
    BYTE *block = VirtualAlloc(NULL, BLOCK_REQUEST, MEM_COMMIT, PAGE_READWRITE);
    memset(block, 0x5A, 16);  /* a short read must leave this alone */
    ok = ReadFile(voice, block, 100, &got, NULL);
    e = GetLastError();
    Check(!ok && e == ERROR_INVALID_PARAMETER && block[0] == 0x5A && block[15] == 0x5A, "short-read-refused",
          "ok %d error %lu first byte 0x%x", ok, e, block[0]);
    memset(block, 0, 16);

    Reader r = {voice, block, READ_LENGTH, FALSE, 0, NULL};
    HANDLE t = StartRead(&r);
    DWORD w = WaitForSingleObject(r.done, 2000);
    Check(w == WAIT_OBJECT_0 && r.ok && *Field(block, 0x8018) == 0, "first-read-completes-with-status-0",
          "wait %lu ok %d status %ld", w, r.ok, *Field(block, 0x8018));
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);

    /* The program's own fields stay as it wrote them. */
    *Field(block, 0x8000) = 5;
    *Field(block, 0x8010) = 4;
    t = StartRead(&r);
    w = WaitForSingleObject(r.done, 500);
    Check(w == WAIT_TIMEOUT, "read-stays-pending", "wait %lu ok %d", w, r.ok);
    Say(VXD_WORD_REQUESTS, 0xC, 4, 0, 0);
    w = WaitForSingleObject(r.done, 2000);
    Check(w == WAIT_OBJECT_0 && r.ok && *Field(block, 0x8008) == 0xC && *Field(block, 0x800C) == 4 &&
              *Field(block, 0x8018) == 1 && *Field(block, 0x8000) == 5 && *Field(block, 0x8010) == 4,
          "requests-written-in-place", "wait %lu ok %d pD %ld rD %ld Status %ld PlayIndex %ld PlayState %ld", w,
          r.ok, *Field(block, 0x8008), *Field(block, 0x800C), *Field(block, 0x8018), *Field(block, 0x8000),
          *Field(block, 0x8010));
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);

    /* A word said while no read is pending is said to the next one. */
    Say(VXD_WORD_STATUS, 0, 0, 2, 0);
    t = StartRead(&r);
    w = WaitForSingleObject(r.done, 2000);
    Check(w == WAIT_OBJECT_0 && r.ok && *Field(block, 0x8018) == 2 && *Field(block, 0x8008) == 0xC,
          "word-kept-for-next-read", "wait %lu ok %d Status %ld", w, r.ok, *Field(block, 0x8018));
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);

    /* A failed read, with the error code asked for. */
    t = StartRead(&r);
    Sleep(100);
    Say(VXD_WORD_ERROR, 0, 0, 0, 31);
    w = WaitForSingleObject(r.done, 2000);
    Check(w == WAIT_OBJECT_0 && !r.ok && r.error == 31, "read-fails-with-error", "wait %lu ok %d error %lu", w,
          r.ok, r.error);
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);

    /* The stop signal: 4 written into Status while the read is pending. */
    t = StartRead(&r);
    Sleep(100);
    DWORD start = GetTickCount();
    *Field(block, 0x8018) = 4;
    w = WaitForSingleObject(r.done, 2000);
    DWORD took = GetTickCount() - start;
    Check(w == WAIT_OBJECT_0 && r.ok && took < 500, "stop-signal-completes-read", "wait %lu ok %d after %lu ms", w,
          r.ok, took);
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);

    /* ... unless the stop hangs. */
    ULONG hangs = 1;
    Ctl(VXD_SET_STOP_HANGS, &hangs, sizeof(hangs), NULL, 0);
    *Field(block, 0x8018) = 0;
    t = StartRead(&r);
    Sleep(100);
    *Field(block, 0x8018) = 4;
    w = WaitForSingleObject(r.done, 700);
    Check(w == WAIT_TIMEOUT, "stop-signal-hangs", "wait %lu ok %d", w, r.ok);

    /* A device that goes away fails the pending read. */
    Present(VXD_DEVICE_VOICE, 0);
    w = WaitForSingleObject(r.done, 2000);
    Check(w == WAIT_OBJECT_0 && !r.ok && r.error == ERROR_DEV_NOT_EXIST, "absent-device-fails-read",
          "wait %lu ok %d error %lu", w, r.ok, r.error);
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
    hangs = 0;
    Ctl(VXD_SET_STOP_HANGS, &hangs, sizeof(hangs), NULL, 0);

    /* Control device requests with wrong sizes. */
    VxdEvent small[1];
    ok = Ctl(VXD_NEXT_EVENT, NULL, 0, small, sizeof(VxdEvent) - 1);
    Check(!ok, "event-short-buffer-refused", "accepted");
    VxdPresence bad = {7, 1};
    ok = Ctl(VXD_SET_PRESENT, &bad, sizeof(bad), NULL, 0);
    Check(!ok, "bad-device-refused", "accepted");

    /* Closing the voice device lets it open again. */
    Present(VXD_DEVICE_VOICE, 1);
    CloseHandle(voice);
    h = Open("\\\\.\\VVOICE");
    Check(h != INVALID_HANDLE_VALUE, "voice-opens-after-close", "error %lu", GetLastError());
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    CloseHandle(modem);
    Ctl(VXD_RESET, NULL, 0, NULL, 0);
    VirtualFree(block, 0, MEM_RELEASE);

    printf("%d passed, %d failed\n", Passed, Failed);
    return Failed;
}
