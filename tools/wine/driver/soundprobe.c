/* vxsoundprobe.exe: how fast Wine's sound device gives buffers back, measured without the program.
 * Plays 8 buffers of 2048 bytes and records into 16 of 1024 bytes (8 kHz, 16-bit, mono: the
 * program's rings), putting every buffer back at once when it comes back, for SECONDS seconds; then
 * prints "out N in M seconds S": the buffers each direction gave back. Real time would be 7.8
 * playback and 15.6 record buffers a second.
 *
 *   vxsoundprobe.exe SECONDS */
#include <windows.h>
#include <mmsystem.h>
#include <stdio.h>
#include <stdlib.h>

#define OUT_BUFFERS 8
#define OUT_BYTES 2048
#define IN_BUFFERS 16
#define IN_BYTES 1024

static char OutData[OUT_BUFFERS][OUT_BYTES], InData[IN_BUFFERS][IN_BYTES];
static WAVEHDR OutHdr[OUT_BUFFERS], InHdr[IN_BUFFERS];

int main(int argc, char **argv)
{
    double seconds = argc > 1 ? atof(argv[1]) : 5;
    WAVEFORMATEX f = {WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    HWAVEOUT out;
    HWAVEIN in;
    MSG m;
    PeekMessageA(&m, NULL, 0, 0, PM_NOREMOVE); /* this thread's queue, for the notices */
    DWORD thread = GetCurrentThreadId();
    if (waveOutOpen(&out, WAVE_MAPPER, &f, thread, 0, CALLBACK_THREAD) != MMSYSERR_NOERROR ||
        waveInOpen(&in, WAVE_MAPPER, &f, thread, 0, CALLBACK_THREAD) != MMSYSERR_NOERROR) {
        printf("no device\n");
        return 1;
    }
    for (int i = 0; i < OUT_BUFFERS; ++i) {
        OutHdr[i].lpData = OutData[i];
        OutHdr[i].dwBufferLength = OUT_BYTES;
        waveOutPrepareHeader(out, &OutHdr[i], sizeof(WAVEHDR));
        waveOutWrite(out, &OutHdr[i], sizeof(WAVEHDR));
    }
    for (int i = 0; i < IN_BUFFERS; ++i) {
        InHdr[i].lpData = InData[i];
        InHdr[i].dwBufferLength = IN_BYTES;
        waveInPrepareHeader(in, &InHdr[i], sizeof(WAVEHDR));
        waveInAddBuffer(in, &InHdr[i], sizeof(WAVEHDR));
    }
    waveInStart(in);
    long played = 0, recorded = 0;
    DWORD start = GetTickCount(), limit = (DWORD)(seconds * 1000);
    while (GetTickCount() - start < limit) {
        if (!PeekMessageA(&m, NULL, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
            continue;
        }
        if (m.message == MM_WOM_DONE) {
            played++;
            waveOutWrite(out, (WAVEHDR *)m.lParam, sizeof(WAVEHDR));
        } else if (m.message == MM_WIM_DATA) {
            recorded++;
            waveInAddBuffer(in, (WAVEHDR *)m.lParam, sizeof(WAVEHDR));
        }
    }
    printf("out %ld in %ld seconds %.3f\n", played, recorded, (GetTickCount() - start) / 1000.0);
    fflush(stdout);
    waveOutReset(out);
    waveInReset(in);
    waveOutClose(out);
    waveInClose(in);
    return 0;
}
