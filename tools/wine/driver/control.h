/* The driver double's own control device: how a controller drives the stand-in for the modem
 * driver and learns what the program did to it. Shared by the driver (kernel mode) and the
 * controller (user mode); plain C. */
#ifndef VXDOUBLE_CONTROL_H
#define VXDOUBLE_CONTROL_H

#define VXDOUBLE_CONTROL_NAME "\\\\.\\VXDOUBLE"

#define FILE_DEVICE_VXDOUBLE 0x8081
#define VXD_CODE(fn) CTL_CODE(FILE_DEVICE_VXDOUBLE, (fn), METHOD_BUFFERED, FILE_ANY_ACCESS)

/* Forget every event, every word and every open; both devices absent; record zero. */
#define VXD_RESET VXD_CODE(0x900)
/* in: VxdPresence. A voice device that goes away fails the read pending on it. */
#define VXD_SET_PRESENT VXD_CODE(0x901)
/* in: the 112-byte line-status record reported from now on. */
#define VXD_SET_RECORD VXD_CODE(0x902)
/* in: ULONG, non-zero: the stop signal leaves the pending read hanging. */
#define VXD_SET_STOP_HANGS VXD_CODE(0x903)
/* in: VxdWord. Said into the pending read, or into the next one when none is pending. */
#define VXD_SAY VXD_CODE(0x904)
/* out: VxdEvent. Fails with STATUS_NO_MORE_ENTRIES when nothing has happened since the last one. */
#define VXD_NEXT_EVENT VXD_CODE(0x905)
/* out: VxdBlockView: the driver's fields of the block the program reads with, as they are now. */
#define VXD_PEEK_BLOCK VXD_CODE(0x906)
/* in: VxdLineChunk: a part of what the far end says (its samples repeat from the start after Total);
 * the part at Offset 0 starts a new signal. No signal: the far end is silent. */
#define VXD_SET_LINE VXD_CODE(0x907)
/* out: VxdTakenChunk: the recorded samples taken from the block since the last call, oldest first. */
#define VXD_TAKE_LINE VXD_CODE(0x908)

#define VXD_DEVICE_VOICE 0
#define VXD_DEVICE_CONTROL 1

typedef struct VxdPresence {
    unsigned int Device;   /* VXD_DEVICE_VOICE or VXD_DEVICE_CONTROL */
    unsigned int Present;  /* non-zero: opens succeed */
} VxdPresence;

#define VXD_WORD_REQUESTS 1  /* Status 1 with PD and RD */
#define VXD_WORD_STATUS 2    /* this Status alone */
#define VXD_WORD_ERROR 3     /* the read fails with this Win32 error code */

typedef struct VxdWord {
    unsigned int Kind;
    int PD, RD, Status;
    unsigned int Error;
} VxdWord;

#define VXD_EV_OPEN 1        /* Device, Ok (the open's result) */
#define VXD_EV_CLOSE 2       /* Device */
#define VXD_EV_RESPONSE 3    /* Record: IOCTL_SET_CALL_RESPONSE as received */
#define VXD_EV_READ 4        /* A: the read's length; the read is pending (or completes at once) */
#define VXD_EV_COMPLETE 5    /* A: Status written (or -1), B: NTSTATUS of the completion */
#define VXD_EV_STOP 6        /* the program's stop signal seen while a read was pending */
#define VXD_EV_BLOCK 7       /* A: 1 the block was found in the reader's memory, 0 it was not */
#define VXD_EV_REFUSED 8     /* Device, A: major function or control code, B: NTSTATUS */
#define VXD_EV_CANCEL 9      /* the pending read was cancelled (the reader went away) */
#define VXD_EV_STATE 10      /* A: PlayState, B: RecState: a change seen in the block */
#define VXD_EV_FEED 11       /* a playback start: A its first line sample, B the playback index then */
#define VXD_EV_FED 12        /* that start's feed ended: A its first line sample, B the samples written */
#define VXD_EV_TAKE 13       /* a record start: A where its samples begin among those taken, B its first buffer */

typedef struct VxdEvent {
    long long Time;          /* system time, 100 ns units */
    unsigned int Kind;
    unsigned int Device;
    int Ok;
    int A, B;
    unsigned char Record[112];
} VxdEvent;

#define VXD_LINE_MAX (1 << 20)   /* samples of the line signal the driver keeps */
#define VXD_CHUNK_SAMPLES 4096

typedef struct VxdLineChunk {
    unsigned int Total;      /* samples in the whole signal (1 to VXD_LINE_MAX) */
    unsigned int Offset;     /* where this part goes */
    unsigned int Count;      /* samples in this part */
    short Samples[VXD_CHUNK_SAMPLES];
} VxdLineChunk;

typedef struct VxdTakenChunk {
    unsigned int Count;      /* samples below */
    unsigned int Lost;       /* samples that did not fit since the last call (the controller was late) */
    short Samples[VXD_CHUNK_SAMPLES];
} VxdTakenChunk;

typedef struct VxdBlockView {
    unsigned int Found;      /* 0 while the driver has no view of a block */
    int PlayIndex, RecIndex, PD, RD, PlayState, RecState, Status;
    short PlaySample, RecSample; /* the first sample of the buffer most recently handled */
    unsigned int Pid;        /* the reader's process */
} VxdBlockView;

#endif
