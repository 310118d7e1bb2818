// The playback and capture streams: rings of wave headers that point straight into the speakerphone
// block, kept turning by the host window's wave notices.
//
// The watch thread stops and starts the streams while the window's thread handles their notices, so
// every operation on one stream runs under that stream's guard. A critical section may be entered
// again by the thread that holds it, which lets OnRecordData stop recording from inside itself.
#include <windows.h>
#include <mmsystem.h>

#include <string.h>

#include "driver/device_link.h"
#include "speaker/spk_lock_mem.h"
#include "speaker/streams.h"

static CRITICAL_SECTION PlayGuard;  // one playback operation at a time, from either thread
static CRITICAL_SECTION RecGuard;   // one record operation at a time; re-entered by OnRecordData
static LONG PlayOutstanding;        // playback buffers queued and owed a notice; under PlayGuard

void InitStreamGuards(void)
{
    InitializeCriticalSection(&PlayGuard);
    InitializeCriticalSection(&RecGuard);
}

void DeleteStreamGuards(void)
{
    DeleteCriticalSection(&PlayGuard);
    DeleteCriticalSection(&RecGuard);
}

static void WriteWaveFormat(SpkLockMem *block)
{
    block->WaveFormat.wf.wFormatTag = WAVE_FORMAT_PCM;
    block->WaveFormat.wf.nChannels = 1;
    block->WaveFormat.wf.nSamplesPerSec = SPK_SAMPLE_RATE;
    block->WaveFormat.wf.nAvgBytesPerSec = SPK_BYTES_PER_SEC;
    block->WaveFormat.wf.nBlockAlign = SPK_BLOCK_ALIGN;
    block->WaveFormat.wBitsPerSample = SPK_BITS_PER_SAMPLE;
}

// The open calls take an extended format; for PCM the wave interface reads only the 16 bytes that
// are there, never cbSize.
static LPCWAVEFORMATEX BlockFormat(SpkLockMem *block)
{
    return (LPCWAVEFORMATEX)&block->WaveFormat;
}

static void UnpreparePlayHeaders(SpkLockMem *block, int count)
{
    for (int k = 0; k < count; k++)
        waveOutUnprepareHeader(block->hWaveOut, &block->PlayHdr[k], sizeof(WAVEHDR));
}

static void UnprepareRecHeaders(SpkLockMem *block, int count)
{
    for (int k = 0; k < count; k++)
        waveInUnprepareHeader(block->hWaveIn, &block->RecHdr[k], sizeof(WAVEHDR));
}

// A handle is cleared only once its device has closed. A device that refuses to reset or close keeps
// its handle, and may still hold headers queued into the block: the next stop or start of the stream
// tries again, and no second device is opened beside it.
static void ClosePlayDevice(SpkLockMem *block)
{
    if (waveOutClose(block->hWaveOut) == MMSYSERR_NOERROR)
        block->hWaveOut = 0;
}

static void CloseRecDevice(SpkLockMem *block)
{
    if (waveInClose(block->hWaveIn) == MMSYSERR_NOERROR)
        block->hWaveIn = 0;
}

// The device's part of a stop: every queued header back, all eight unprepared, the device closed.
// Under PlayGuard; true when no device is left open.
static int ShutPlayDevice(SpkLockMem *block)
{
    if (block->hWaveOut) {
        waveOutReset(block->hWaveOut);
        UnpreparePlayHeaders(block, PLAY_BUFFERS);
        ClosePlayDevice(block);
    }
    return block->hWaveOut == 0;
}

// The same for recording: stopped, reset, all sixteen unprepared, closed. Under RecGuard.
static int ShutRecDevice(SpkLockMem *block)
{
    if (block->hWaveIn) {
        waveInStop(block->hWaveIn);
        waveInReset(block->hWaveIn);
        UnprepareRecHeaders(block, REC_BUFFERS);
        CloseRecDevice(block);
    }
    return block->hWaveIn == 0;
}

// Playback start, under PlayGuard.
static int OpenPlayback(SpkLockMem *block, HWND hwnd)
{
    block->PlayState = STREAM_CLOSED;
    PlayOutstanding = 0;
    // A device that an earlier stop could not close is closed first, or the start fails.
    if (!ShutPlayDevice(block))
        return 0;
    block->PlayIndex = PLAY_QUEUED - 1;
    memset(block->PlayData, 0, sizeof(block->PlayData));
    WriteWaveFormat(block);

    if (waveOutOpen(NULL, WAVE_MAPPER, BlockFormat(block), 0, 0, WAVE_FORMAT_QUERY) != MMSYSERR_NOERROR)
        return 0;
    HWAVEOUT device;
    if (waveOutOpen(&device, WAVE_MAPPER, BlockFormat(block), (DWORD_PTR)hwnd, 0, CALLBACK_WINDOW) !=
        MMSYSERR_NOERROR)
        return 0;
    block->hWaveOut = device;

    for (int k = 0; k < PLAY_BUFFERS; k++) {
        WAVEHDR *header = &block->PlayHdr[k];
        header->lpData = (LPSTR)&block->PlayData[k * PLAY_BUFFER_SAMPLES];
        header->dwBufferLength = PLAY_BUFFER_BYTES;
        header->dwFlags = 0;
        header->dwLoops = 0;
        if (waveOutPrepareHeader(block->hWaveOut, header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
            UnpreparePlayHeaders(block, k);
            ClosePlayDevice(block);
            return 0;
        }
    }

    // The first buffers are queued on the paused device and start playing together.
    waveOutPause(block->hWaveOut);
    for (int k = 0; k < PLAY_QUEUED; k++) {
        if (waveOutWrite(block->hWaveOut, &block->PlayHdr[k], sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
            ShutPlayDevice(block);
            return 0;
        }
    }
    PlayOutstanding = PLAY_QUEUED;
    block->PlayState = STREAM_RUNNING;
    waveOutRestart(block->hWaveOut);
    return 1;
}

int StartPlayback(HWND hwnd)
{
    SpkLockMem *block = pSpkLockMem;
    if (!block)
        return 0;
    EnterCriticalSection(&PlayGuard);
    int started = OpenPlayback(block, hwnd);
    LeaveCriticalSection(&PlayGuard);
    return started;
}

void StopPlayback(void)
{
    SpkLockMem *block = pSpkLockMem;
    if (!block)
        return;
    EnterCriticalSection(&PlayGuard);
    // The state goes to 0 first: the notices that the reset produces are then not counted.
    block->PlayState = STREAM_CLOSED;
    PlayOutstanding = 0;
    ShutPlayDevice(block);
    LeaveCriticalSection(&PlayGuard);
}

// Record start, under RecGuard.
static int OpenRecord(SpkLockMem *block, HWND hwnd)
{
    block->RecState = STREAM_CLOSED;
    if (!ShutRecDevice(block))
        return 0;
    block->RecIndex = REC_QUEUED - 1;
    memset(block->RecData, 0, sizeof(block->RecData));
    WriteWaveFormat(block);

    HWAVEIN device;
    if (waveInOpen(&device, WAVE_MAPPER, BlockFormat(block), (DWORD_PTR)hwnd, 0, CALLBACK_WINDOW) !=
        MMSYSERR_NOERROR)
        return 0;
    block->hWaveIn = device;

    for (int k = 0; k < REC_BUFFERS; k++) {
        WAVEHDR *header = &block->RecHdr[k];
        header->lpData = (LPSTR)&block->RecData[k * REC_BUFFER_SAMPLES];
        header->dwBufferLength = REC_BUFFER_BYTES;
        header->dwUser = 0;
        header->dwFlags = 0;
        header->dwLoops = 0;
        if (waveInPrepareHeader(block->hWaveIn, header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
            UnprepareRecHeaders(block, k);
            waveInReset(block->hWaveIn);
            CloseRecDevice(block);
            return 0;
        }
    }

    for (int k = 0; k < REC_QUEUED; k++) {
        if (waveInAddBuffer(block->hWaveIn, &block->RecHdr[k], sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
            // Buffers already added are still queued and cannot be unprepared until the reset
            // has handed them back.
            waveInReset(block->hWaveIn);
            UnprepareRecHeaders(block, REC_BUFFERS);
            CloseRecDevice(block);
            return 0;
        }
    }
    block->RecState = STREAM_RUNNING;
    waveInStart(block->hWaveIn);
    return 1;
}

int StartRecord(HWND hwnd)
{
    SpkLockMem *block = pSpkLockMem;
    if (!block)
        return 0;
    EnterCriticalSection(&RecGuard);
    int started = OpenRecord(block, hwnd);
    LeaveCriticalSection(&RecGuard);
    return started;
}

void StopRecord(void)
{
    SpkLockMem *block = pSpkLockMem;
    if (!block)
        return;
    EnterCriticalSection(&RecGuard);
    block->RecState = STREAM_CLOSED;
    ShutRecDevice(block);
    LeaveCriticalSection(&RecGuard);
}

// Notices are posted, so they can still be waiting after the stream that produced them has been
// stopped and started again; the device handle may even be the same. Only a notice from the open
// device, naming the oldest buffer still owed a notice, once the device has really finished it, moves
// the ring on. The device hands buffers back in the order they were queued, and the queued ones are
// the run that ends at PlayIndex.
static int IsPlaybackCompletion(SpkLockMem *block, HWAVEOUT device, LPWAVEHDR header)
{
    if (block->PlayState == STREAM_CLOSED || !block->hWaveOut || device != block->hWaveOut ||
        PlayOutstanding <= 0)
        return 0;
    int oldest = (block->PlayIndex + PLAY_BUFFERS - (PlayOutstanding - 1)) % PLAY_BUFFERS;
    return header == &block->PlayHdr[oldest] && (header->dwFlags & WHDR_DONE);
}

static int IsRecordCompletion(SpkLockMem *block, HWAVEIN device, LPWAVEHDR header)
{
    if (block->RecState == STREAM_CLOSED || !block->hWaveIn || device != block->hWaveIn)
        return 0;
    int oldest = (block->RecIndex + REC_BUFFERS - (REC_QUEUED - 1)) % REC_BUFFERS;
    return header == &block->RecHdr[oldest] && (header->dwFlags & WHDR_DONE);
}

void OnPlaybackDone(HWAVEOUT device, LPWAVEHDR header)
{
    SpkLockMem *block = pSpkLockMem;
    if (!block)
        return;
    EnterCriticalSection(&PlayGuard);
    if (IsPlaybackCompletion(block, device, header)) {
        // The buffer queued is the fourth after the one that finished. A refused write leaves one
        // buffer fewer in the queue, and PlayIndex on the last buffer really queued: the refused
        // one, which the driver has filled, is the one tried at the next notice.
        PlayOutstanding--;
        LONG next = block->PlayIndex + 1;
        if (next >= PLAY_BUFFERS)
            next = 0;
        if (waveOutWrite(block->hWaveOut, &block->PlayHdr[next], sizeof(WAVEHDR)) == MMSYSERR_NOERROR) {
            block->PlayIndex = next;
            PlayOutstanding++;
        }
    }
    LeaveCriticalSection(&PlayGuard);
}

void OnRecordData(HWAVEIN device, LPWAVEHDR header)
{
    SpkLockMem *block = pSpkLockMem;
    if (!block)
        return;
    EnterCriticalSection(&RecGuard);
    if (IsRecordCompletion(block, device, header)) {
        block->RecIndex++;
        if (block->RecIndex >= REC_BUFFERS)
            block->RecIndex = 0;
        if (waveInAddBuffer(block->hWaveIn, &block->RecHdr[block->RecIndex], sizeof(WAVEHDR)) !=
            MMSYSERR_NOERROR)
            StopRecord();
    }
    LeaveCriticalSection(&RecGuard);
}
