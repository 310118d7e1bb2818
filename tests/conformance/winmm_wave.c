/* winmm: wave output and input through WAVE_MAPPER at the speakerphone's format: the format query,
 * header flags through prepare, write, completion and unprepare, the documented refusals, reset
 * returning every header with a notice each, waveInStop against waveInReset, dwBytesRecorded,
 * notices through CALLBACK_WINDOW in queue order, and the handle of a device opened again. */
#include "test.h"

#define BYTES 3200  /* 100 ms at 8 kHz, 16-bit, mono */

static struct {
    UINT msg;
    WPARAM device;
    LPARAM header;
    DWORD flags;  /* the header's flags when its notice was handled */
} notices[32];
static int nnotices;

static LRESULT notice_hook(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, int *handled)
{
    if (msg >= MM_WOM_OPEN && msg <= MM_WIM_DATA) {
        if (nnotices < 32) {
            notices[nnotices].msg = msg;
            notices[nnotices].device = wParam;
            notices[nnotices].header = lParam;
            notices[nnotices].flags = lParam ? ((WAVEHDR *)lParam)->dwFlags : 0;
            ++nnotices;
        }
        *handled = 1;
    }
    return 0;
}

static HWND notice_window;

static WAVEFORMATEX speakerphone(void)
{
    WAVEFORMATEX f;
    memset(&f, 0, sizeof(f));
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 1;
    f.nSamplesPerSec = 8000;
    f.nAvgBytesPerSec = 16000;
    f.nBlockAlign = 2;
    f.wBitsPerSample = 16;
    return f;
}

static short data[4][16000];
static WAVEHDR headers[4];

static void fresh_headers(DWORD bytes)
{
    memset(headers, 0, sizeof(headers));
    for (int i = 0; i < 4; ++i) {
        headers[i].lpData = (LPSTR)data[i];
        headers[i].dwBufferLength = bytes;
    }
}

/* Pumps until `count` notices have come or `ms` have passed. */
static void wait_notices(int count, DWORD ms)
{
    DWORD start = GetTickCount();
    while (nnotices < count && GetTickCount() - start < ms)
        conformance_pump(20);
}

static void test_query(void)
{
    WAVEFORMATEX f = speakerphone();
    ok(waveOutOpen(NULL, WAVE_MAPPER, &f, 0, 0, WAVE_FORMAT_QUERY) == MMSYSERR_NOERROR,
       "the speakerphone's format was refused for output\n");
    ok(waveInOpen(NULL, WAVE_MAPPER, &f, 0, 0, WAVE_FORMAT_QUERY) == MMSYSERR_NOERROR,
       "the speakerphone's format was refused for input\n");
    HWAVEOUT h = (HWAVEOUT)(ULONG_PTR)0xdeadf00d;
    ok(waveOutOpen(&h, WAVE_MAPPER, &f, 0, 0, WAVE_FORMAT_QUERY) == MMSYSERR_NOERROR, "the query failed\n");
    ok(h == (HWAVEOUT)(ULONG_PTR)0xdeadf00d, "a format query wrote a handle\n");
    ok(waveOutOpen(NULL, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL) == MMSYSERR_INVALPARAM,
       "an open without a handle pointer did not answer MMSYSERR_INVALPARAM\n");
    nnotices = 0;
    ok(waveOutOpen(&h, WAVE_MAPPER, &f, (DWORD_PTR)notice_window, 0, CALLBACK_WINDOW | WAVE_FORMAT_QUERY) ==
           MMSYSERR_NOERROR,
       "a query with a callback window failed\n");
    conformance_pump(20);
    ok(nnotices == 0, "a format query sent %d notices\n", nnotices);
    ok(waveOutOpen(&h, WAVE_MAPPER, &f, (DWORD_PTR)(ULONG_PTR)0xdead0, 0, CALLBACK_WINDOW) == MMSYSERR_INVALPARAM,
       "a callback window that is no window did not answer MMSYSERR_INVALPARAM\n");
    f.wFormatTag = 0x7777;
    ok(waveOutOpen(NULL, WAVE_MAPPER, &f, 0, 0, WAVE_FORMAT_QUERY) == WAVERR_BADFORMAT,
       "an unknown format tag did not answer WAVERR_BADFORMAT\n");
    ok(waveInOpen(NULL, WAVE_MAPPER, &f, 0, 0, WAVE_FORMAT_QUERY) == WAVERR_BADFORMAT,
       "an unknown format tag did not answer WAVERR_BADFORMAT for input\n");
}

static void test_output(HWND hwnd)
{
    WAVEFORMATEX f = speakerphone();
    HWAVEOUT h = NULL;
    nnotices = 0;
    ok(waveOutOpen(&h, WAVE_MAPPER, &f, (DWORD_PTR)hwnd, 0, CALLBACK_WINDOW) == MMSYSERR_NOERROR,
       "waveOutOpen failed\n");
    if (!h)
        return;
    fresh_headers(BYTES);
    WAVEHDR *a = &headers[0], *b = &headers[1], *c = &headers[2];
    ok(waveOutWrite(h, a, sizeof(WAVEHDR)) == WAVERR_UNPREPARED, "an unprepared write did not answer WAVERR_UNPREPARED\n");
    ok(waveOutPrepareHeader(h, a, sizeof(WAVEHDR) - 1) == MMSYSERR_INVALPARAM, "a short header size was taken\n");
    ok(waveOutPrepareHeader(h, NULL, sizeof(WAVEHDR)) == MMSYSERR_INVALPARAM, "no header was taken\n");
    ok(waveOutUnprepareHeader(h, a, sizeof(WAVEHDR)) == MMSYSERR_NOERROR, "unpreparing an unprepared header\n");
    ok(waveOutPrepareHeader(h, a, sizeof(WAVEHDR)) == MMSYSERR_NOERROR, "prepare failed\n");
    ok(a->dwFlags == WHDR_PREPARED, "after prepare: flags %#x\n", (unsigned)a->dwFlags);
    ok(waveOutPrepareHeader(h, a, sizeof(WAVEHDR)) == MMSYSERR_NOERROR, "preparing twice failed\n");
    ok(a->dwFlags == WHDR_PREPARED, "after preparing twice: flags %#x\n", (unsigned)a->dwFlags);
    ok(waveOutWrite(h, a, sizeof(WAVEHDR)) == MMSYSERR_NOERROR, "write failed\n");
    ok((a->dwFlags & (WHDR_PREPARED | WHDR_INQUEUE)) == (WHDR_PREPARED | WHDR_INQUEUE) || (a->dwFlags & WHDR_DONE),
       "after write: flags %#x\n", (unsigned)a->dwFlags);
    if (a->dwFlags & WHDR_INQUEUE) {
        ok(waveOutWrite(h, a, sizeof(WAVEHDR)) == WAVERR_STILLPLAYING, "a queued header was written again\n");
        ok(waveOutUnprepareHeader(h, a, sizeof(WAVEHDR)) == WAVERR_STILLPLAYING, "a queued header was unprepared\n");
        /* "If there are buffers that have been sent with waveOutWrite and haven't been returned to
         * the application, the close operation will fail" (waveOutClose's documentation). Wine's
         * WOD_Close (dlls/winmm/waveform.c) closes the device anyway: not tried under Wine. */
        if (winetest_wine)
            skip("Wine differs: waveOutClose with a queued header\n");
        else
            ok(waveOutClose(h) == WAVERR_STILLPLAYING, "a device with a queued header was closed\n");
    }
    wait_notices(2, 2000);
    ok(a->dwFlags == (WHDR_DONE | WHDR_PREPARED), "after completion: flags %#x\n", (unsigned)a->dwFlags);
    ok(nnotices == 2 && notices[0].msg == MM_WOM_OPEN && notices[0].device == (WPARAM)h && notices[0].header == 0,
       "the first notice %#x is not MM_WOM_OPEN for the device\n", nnotices ? notices[0].msg : 0);
    ok(nnotices == 2 && notices[1].msg == MM_WOM_DONE && notices[1].device == (WPARAM)h &&
           notices[1].header == (LPARAM)a && (notices[1].flags & WHDR_DONE),
       "no MM_WOM_DONE for the header (%d notices)\n", nnotices);
    ok(waveOutUnprepareHeader(h, a, sizeof(WAVEHDR)) == MMSYSERR_NOERROR, "unprepare failed\n");
    ok(!(a->dwFlags & WHDR_PREPARED), "after unprepare: flags %#x\n", (unsigned)a->dwFlags);

    /* Reset hands every queued header back done, in queue order, each with a notice. */
    fresh_headers(sizeof(data[0]));
    nnotices = 0;
    for (int i = 0; i < 3; ++i) {
        waveOutPrepareHeader(h, &headers[i], sizeof(WAVEHDR));
        ok(waveOutWrite(h, &headers[i], sizeof(WAVEHDR)) == MMSYSERR_NOERROR, "write %d failed\n", i);
    }
    ok(waveOutReset(h) == MMSYSERR_NOERROR, "waveOutReset failed\n");
    for (int i = 0; i < 3; ++i)
        ok(headers[i].dwFlags == (WHDR_DONE | WHDR_PREPARED), "header %d after reset: flags %#x\n", i,
           (unsigned)headers[i].dwFlags);
    /* The first header stays prepared: a device closes with prepared headers that are not queued. */
    for (int i = 1; i < 3; ++i)
        ok(waveOutUnprepareHeader(h, &headers[i], sizeof(WAVEHDR)) == MMSYSERR_NOERROR, "unprepare %d failed\n", i);
    ok(waveOutClose(h) == MMSYSERR_NOERROR, "closing after the reset failed\n");
    wait_notices(4, 2000);
    ok(nnotices == 4, "%d notices after the reset and close, expected 4\n", nnotices);
    ok(nnotices >= 3 && notices[0].header == (LPARAM)a && notices[1].header == (LPARAM)b &&
           notices[2].header == (LPARAM)c,
       "the reset's notices are not in queue order\n");
    ok(nnotices >= 3 && notices[0].msg == MM_WOM_DONE && notices[2].msg == MM_WOM_DONE &&
           notices[2].device == (WPARAM)h,
       "the reset's notices are not MM_WOM_DONE for the device\n");
    ok(nnotices == 4 && notices[3].msg == MM_WOM_CLOSE && notices[3].device == (WPARAM)h, "no MM_WOM_CLOSE last\n");

    /* A closed device is no device; opened again, the device has the same handle. */
    ok(waveOutWrite(h, a, sizeof(WAVEHDR)) == MMSYSERR_INVALHANDLE, "a write on a closed device\n");
    ok(waveOutReset(h) == MMSYSERR_INVALHANDLE, "a reset of a closed device\n");
    ok(waveOutClose(h) == MMSYSERR_INVALHANDLE, "a closed device closed again\n");
    HWAVEOUT again = NULL;
    ok(waveOutOpen(&again, WAVE_MAPPER, &f, (DWORD_PTR)hwnd, 0, CALLBACK_WINDOW) == MMSYSERR_NOERROR,
       "opening again failed\n");
    ok(again == h, "opened again: handle %p, first %p\n", (void *)again, (void *)h);
    /* A header still flagged prepared by the closed opening: preparing it again does nothing, though
     * this opening never prepared it. Flags left from a header's last use are cleared by a prepare,
     * the loop flags kept. */
    ok(waveOutPrepareHeader(again, a, sizeof(WAVEHDR)) == MMSYSERR_NOERROR, "preparing a stale header failed\n");
    ok(a->dwFlags == (WHDR_DONE | WHDR_PREPARED), "a stale header prepared again: flags %#x\n", (unsigned)a->dwFlags);
    ok(waveOutUnprepareHeader(again, a, sizeof(WAVEHDR)) == MMSYSERR_NOERROR, "unpreparing a stale header failed\n");
    ok(a->dwFlags == WHDR_DONE, "a stale header unprepared: flags %#x\n", (unsigned)a->dwFlags);
    b->dwFlags = WHDR_DONE | WHDR_BEGINLOOP | WHDR_ENDLOOP;
    ok(waveOutPrepareHeader(again, b, sizeof(WAVEHDR)) == MMSYSERR_NOERROR, "preparing a used header failed\n");
    ok(b->dwFlags == (WHDR_PREPARED | WHDR_BEGINLOOP | WHDR_ENDLOOP), "a used header prepared: flags %#x\n",
       (unsigned)b->dwFlags);
    ok(waveOutUnprepareHeader(again, b, sizeof(WAVEHDR)) == MMSYSERR_NOERROR, "unprepare failed\n");
    ok(waveOutClose(again) == MMSYSERR_NOERROR, "close failed\n");
    conformance_pump(20);
}

static void test_input(HWND hwnd)
{
    WAVEFORMATEX f = speakerphone();
    HWAVEIN h = NULL;
    nnotices = 0;
    ok(waveInOpen(&h, WAVE_MAPPER, &f, (DWORD_PTR)hwnd, 0, CALLBACK_WINDOW) == MMSYSERR_NOERROR,
       "waveInOpen failed\n");
    if (!h)
        return;
    fresh_headers(BYTES);
    ok(waveInAddBuffer(h, &headers[0], sizeof(WAVEHDR)) == WAVERR_UNPREPARED, "an unprepared buffer was added\n");
    for (int i = 0; i < 2; ++i) {
        ok(waveInPrepareHeader(h, &headers[i], sizeof(WAVEHDR)) == MMSYSERR_NOERROR, "prepare %d failed\n", i);
        headers[i].dwBytesRecorded = 12345;
        ok(waveInAddBuffer(h, &headers[i], sizeof(WAVEHDR)) == MMSYSERR_NOERROR, "add %d failed\n", i);
        ok(headers[i].dwFlags == (WHDR_PREPARED | WHDR_INQUEUE), "buffer %d after add: flags %#x\n", i,
           (unsigned)headers[i].dwFlags);
    }
    ok(waveInUnprepareHeader(h, &headers[0], sizeof(WAVEHDR)) == WAVERR_STILLPLAYING, "a queued buffer was unprepared\n");
    conformance_pump(150);
    ok(nnotices == 1 && notices[0].msg == MM_WIM_OPEN && notices[0].device == (WPARAM)h,
       "before waveInStart: %d notices, first %#x\n", nnotices, nnotices ? notices[0].msg : 0);
    ok(headers[0].dwFlags & WHDR_INQUEUE, "a buffer came back before waveInStart\n");

    /* Started, the buffers fill in order and come back with what they hold. */
    ok(waveInStart(h) == MMSYSERR_NOERROR, "waveInStart failed\n");
    wait_notices(3, 2000);
    ok(nnotices == 3 && notices[1].msg == MM_WIM_DATA && notices[1].header == (LPARAM)&headers[0] &&
           notices[2].header == (LPARAM)&headers[1],
       "%d notices; the data notices are not in queue order\n", nnotices);
    for (int i = 0; i < 2; ++i) {
        ok(headers[i].dwFlags == (WHDR_DONE | WHDR_PREPARED), "buffer %d: flags %#x\n", i, (unsigned)headers[i].dwFlags);
        ok(headers[i].dwBytesRecorded == BYTES, "buffer %d holds %u bytes\n", i, (unsigned)headers[i].dwBytesRecorded);
    }

    /* waveInStop hands back the buffer being filled with what it holds, and keeps the empty ones;
     * waveInReset hands back every one. Buffers of two seconds: the first is being filled. */
    ok(waveInStop(h) == MMSYSERR_NOERROR, "waveInStop failed\n");
    for (int i = 0; i < 2; ++i)
        waveInUnprepareHeader(h, &headers[i], sizeof(WAVEHDR));
    fresh_headers(sizeof(data[0]));
    nnotices = 0;
    for (int i = 0; i < 3; ++i) {
        waveInPrepareHeader(h, &headers[i], sizeof(WAVEHDR));
        waveInAddBuffer(h, &headers[i], sizeof(WAVEHDR));
    }
    ok(waveInStart(h) == MMSYSERR_NOERROR, "waveInStart failed\n");
    Sleep(50);
    ok(waveInStop(h) == MMSYSERR_NOERROR, "waveInStop failed\n");
    ok(headers[0].dwFlags == (WHDR_DONE | WHDR_PREPARED), "the buffer being filled: flags %#x\n",
       (unsigned)headers[0].dwFlags);
    ok(headers[0].dwBytesRecorded > 0 && headers[0].dwBytesRecorded < headers[0].dwBufferLength,
       "the stopped buffer holds %u bytes of %u\n", (unsigned)headers[0].dwBytesRecorded,
       (unsigned)headers[0].dwBufferLength);
    ok(headers[1].dwFlags == (WHDR_PREPARED | WHDR_INQUEUE) && headers[2].dwFlags == (WHDR_PREPARED | WHDR_INQUEUE),
       "waveInStop returned empty buffers: flags %#x %#x\n", (unsigned)headers[1].dwFlags,
       (unsigned)headers[2].dwFlags);
    /* As for output: Wine's WID_Close closes a device with queued buffers (not tried under Wine). */
    if (winetest_wine)
        skip("Wine differs: waveInClose with queued buffers\n");
    else
        ok(waveInClose(h) == WAVERR_STILLPLAYING, "a device with queued buffers was closed\n");
    ok(waveInReset(h) == MMSYSERR_NOERROR, "waveInReset failed\n");
    ok(headers[1].dwFlags == (WHDR_DONE | WHDR_PREPARED) && headers[2].dwFlags == (WHDR_DONE | WHDR_PREPARED),
       "waveInReset left buffers queued: flags %#x %#x\n", (unsigned)headers[1].dwFlags, (unsigned)headers[2].dwFlags);
    /* Wine's capture through a sound server may still hand what it had taken before the stop to the
       next queued buffer (seen under 32-bit Wine with PulseAudio, now and then): not checked there. */
    if (winetest_wine && (headers[1].dwBytesRecorded != 0 || headers[2].dwBytesRecorded != 0))
        skip("Wine differs: buffers returned by waveInReset after a stop hold %u and %u bytes\n",
             (unsigned)headers[1].dwBytesRecorded, (unsigned)headers[2].dwBytesRecorded);
    else
        ok(headers[1].dwBytesRecorded == 0 && headers[2].dwBytesRecorded == 0, "empty buffers hold %u and %u bytes\n",
           (unsigned)headers[1].dwBytesRecorded, (unsigned)headers[2].dwBytesRecorded);
    for (int i = 0; i < 3; ++i)
        ok(waveInUnprepareHeader(h, &headers[i], sizeof(WAVEHDR)) == MMSYSERR_NOERROR, "unprepare %d failed\n", i);
    ok(waveInClose(h) == MMSYSERR_NOERROR, "waveInClose failed\n");
    wait_notices(4, 2000);
    ok(nnotices == 4 && notices[0].header == (LPARAM)&headers[0] && notices[1].header == (LPARAM)&headers[1] &&
           notices[2].header == (LPARAM)&headers[2] && notices[3].msg == MM_WIM_CLOSE,
       "%d notices: not the three buffers in order and MM_WIM_CLOSE\n", nnotices);
    ok(waveInStart(h) == MMSYSERR_INVALHANDLE, "a closed input device was started\n");
    ok(waveInClose(h) == MMSYSERR_INVALHANDLE, "a closed input device was closed again\n");
    HWAVEIN again = NULL;
    ok(waveInOpen(&again, WAVE_MAPPER, &f, (DWORD_PTR)hwnd, 0, CALLBACK_WINDOW) == MMSYSERR_NOERROR && again == h,
       "opened again: handle %p, first %p\n", (void *)again, (void *)h);
    waveInClose(again);
    conformance_pump(20);
}

void func_winmm_wave(void)
{
    HWND hwnd = conformance_window(0, 0, 10, 10, NULL, notice_hook);
    notice_window = hwnd;
    test_query();
    test_output(hwnd);
    test_input(hwnd);
    DestroyWindow(hwnd);
}
