// The speakerphone block, shared with the voice modem driver.
//
// The driver reads and writes the first 32,924 bytes (sample areas, indices, requests, states, Status,
// Reserved); everything the wave interface needs lives after them in the same block, so the wave
// headers point straight into the sample areas and no sample is ever copied.
#ifndef SPEAKER_SPK_LOCK_MEM_H
#define SPEAKER_SPK_LOCK_MEM_H

#include <windows.h>
#include <mmsystem.h>

#include <stddef.h>
#include <stdint.h>

// Both streams: 8,000 samples a second, 16-bit, mono PCM.
#define SPK_SAMPLE_RATE 8000
#define SPK_BITS_PER_SAMPLE 16
#define SPK_BLOCK_ALIGN 2
#define SPK_BYTES_PER_SEC (SPK_SAMPLE_RATE * SPK_BLOCK_ALIGN)

// Playback: eight buffers of 128 ms, four of them queued. Record: sixteen of 64 ms, two queued.
#define PLAY_BUFFERS 8
#define PLAY_BUFFER_BYTES 2048
#define PLAY_BUFFER_SAMPLES (PLAY_BUFFER_BYTES / SPK_BLOCK_ALIGN)
#define REC_BUFFERS 16
#define REC_BUFFER_BYTES 1024
#define REC_BUFFER_SAMPLES (REC_BUFFER_BYTES / SPK_BLOCK_ALIGN)
#define PLAY_QUEUED 4
#define REC_QUEUED 2

#define STREAM_CLOSED 0
#define STREAM_RUNNING 4

// Values of Status when the driver completes a read.
#define SPK_STATUS_REQUESTS 1
#define SPK_STATUS_STOP 4

// Requests: playback when pD has bit 2 or 3, recording when rD has bit 2.
#define SPK_PLAY_WANTED 0xC
#define SPK_REC_WANTED 0x4

typedef struct tagSpkLockMem {
    short PlayData[PLAY_BUFFERS * PLAY_BUFFER_SAMPLES];  // from the driver, played by the sound card
    short RecData[REC_BUFFERS * REC_BUFFER_SAMPLES];     // recorded by the sound card, taken by the driver
    LONG PlayIndex;      // playback buffer most recently queued
    LONG RecIndex;       // record buffer most recently queued
    LONG pD;             // playback request, from the driver
    LONG rD;             // record request, from the driver
    LONG PlayState;      // 0 closed, 4 running
    LONG RecState;       // 0 closed, 4 running
    LONG Status;         // why the driver completed the read; 4 from the program at shut-down
    BYTE Reserved[128];  // the driver's
    HWAVEOUT hWaveOut;          // open output device, or 0
    HWAVEIN hWaveIn;            // open input device, or 0
    PCMWAVEFORMAT WaveFormat;   // the format of both streams
    WAVEHDR PlayHdr[PLAY_BUFFERS];  // header k describes playback buffer k
    WAVEHDR RecHdr[REC_BUFFERS];    // header k describes record buffer k
} SpkLockMem;

// The block is requested at this size and every read hands the driver this many bytes: up to the
// end of the eighth record header in the 32-bit layout.
#define SPK_LOCK_MEM_REQUEST 33460
#define SPK_READ_LENGTH 33460
#define SPK_PAGE 4096
#define SPK_LOCK_MEM_COMMITTED (((SPK_LOCK_MEM_REQUEST + SPK_PAGE - 1) / SPK_PAGE) * SPK_PAGE)

// What the driver sees is the same in every build.
static_assert(offsetof(SpkLockMem, PlayData) == 0, "PlayData");
static_assert(sizeof(((SpkLockMem *)0)->PlayData) == 16384, "eight playback buffers of 2,048 bytes");
static_assert(offsetof(SpkLockMem, RecData) == 0x4000, "RecData");
static_assert(sizeof(((SpkLockMem *)0)->RecData) == 16384, "sixteen record buffers of 1,024 bytes");
static_assert(offsetof(SpkLockMem, PlayIndex) == 0x8000, "PlayIndex");
static_assert(offsetof(SpkLockMem, RecIndex) == 0x8004, "RecIndex");
static_assert(offsetof(SpkLockMem, pD) == 0x8008, "pD");
static_assert(offsetof(SpkLockMem, rD) == 0x800C, "rD");
static_assert(offsetof(SpkLockMem, PlayState) == 0x8010, "PlayState");
static_assert(offsetof(SpkLockMem, RecState) == 0x8014, "RecState");
static_assert(offsetof(SpkLockMem, Status) == 0x8018, "Status");
static_assert(offsetof(SpkLockMem, Reserved) == 0x801C, "Reserved");
static_assert(sizeof(((SpkLockMem *)0)->Reserved) == 128, "Reserved");
static_assert(offsetof(SpkLockMem, hWaveOut) >= 32924, "no handle inside the driver's fields");
static_assert(SPK_READ_LENGTH == 33460, "the read length is the same in every build");
// Page rounding of the request covers the whole block.
static_assert(SPK_LOCK_MEM_COMMITTED >= sizeof(SpkLockMem), "the committed pages hold the block");

#if UINTPTR_MAX == 0xFFFFFFFFu
// The shipped 32-bit program: every field where the driver expects it.
static_assert(offsetof(SpkLockMem, hWaveOut) == 0x809C, "hWaveOut");
static_assert(offsetof(SpkLockMem, hWaveIn) == 0x80A0, "hWaveIn");
static_assert(offsetof(SpkLockMem, WaveFormat) == 0x80A4, "WaveFormat");
static_assert(sizeof(PCMWAVEFORMAT) == 16, "PCMWAVEFORMAT");
static_assert(offsetof(SpkLockMem, WaveFormat.wf.wFormatTag) == 0x80A4, "wFormatTag");
static_assert(offsetof(SpkLockMem, WaveFormat.wf.nChannels) == 0x80A6, "nChannels");
static_assert(offsetof(SpkLockMem, WaveFormat.wf.nSamplesPerSec) == 0x80A8, "nSamplesPerSec");
static_assert(offsetof(SpkLockMem, WaveFormat.wf.nAvgBytesPerSec) == 0x80AC, "nAvgBytesPerSec");
static_assert(offsetof(SpkLockMem, WaveFormat.wf.nBlockAlign) == 0x80B0, "nBlockAlign");
static_assert(offsetof(SpkLockMem, WaveFormat.wBitsPerSample) == 0x80B2, "wBitsPerSample");
static_assert(sizeof(WAVEHDR) == 32, "WAVEHDR");
static_assert(offsetof(WAVEHDR, lpData) == 0 && offsetof(WAVEHDR, dwBufferLength) == 4 &&
              offsetof(WAVEHDR, dwBytesRecorded) == 8 && offsetof(WAVEHDR, dwUser) == 12 &&
              offsetof(WAVEHDR, dwFlags) == 16 && offsetof(WAVEHDR, dwLoops) == 20 &&
              offsetof(WAVEHDR, lpNext) == 24 && offsetof(WAVEHDR, reserved) == 28, "WAVEHDR members");
static_assert(offsetof(SpkLockMem, PlayHdr) == 0x80B4, "PlayHdr");
static_assert(offsetof(SpkLockMem, PlayHdr[7]) == 32948 + 32 * 7, "playback header 7");
static_assert(offsetof(SpkLockMem, RecHdr) == 0x81B4, "RecHdr");
static_assert(offsetof(SpkLockMem, RecHdr[15]) == 33204 + 32 * 15, "record header 15");
static_assert(offsetof(SpkLockMem, RecHdr) + 8 * sizeof(WAVEHDR) == SPK_READ_LENGTH,
              "the read ends after the eighth record header");
static_assert(sizeof(SpkLockMem) == 33716, "record header 15 ends at byte 33,715");
#endif

#endif
