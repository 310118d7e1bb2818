/* vxdouble.sys: a stand-in for the voice modem driver, for running the program under Wine.
 *
 * Devices:
 *   \\.\VVOICE    the voice device: one read at a time, the speakerphone block as buffer; the read
 *                 stays pending until the controller has something for it to say.
 *   \\.\VXMCOM    the modem control device: IOCTL_GET_LINE_STATUS and IOCTL_SET_CALL_RESPONSE.
 *   \\.\VXDOUBLE  this driver's own control device (control.h): presence of the two devices, the
 *                 record to report, what the pending read says, and the events it saw.
 *
 * The block. A real driver keeps the reader's pages locked through the read's MDL and looks at
 * them whenever it likes. Under Wine a driver runs in a process of its own and a read's buffer is
 * a private copy that is sent back, Information bytes from its start, when the read completes; so
 * this driver reaches the reader's block through the reader's process instead:
 *   1. The first read on an open completes at once, with Status 0 (nothing to do: the reader reads
 *      again) and, in the Reserved bytes that belong to the driver, a tag unique to this open. The
 *      reader's block is freshly allocated and all zero at that moment, so nothing but the tag and
 *      zeros lands in it.
 *   2. The second read finds the tag in the reader's memory; from then on the driver reads and
 *      writes the reader's block in place, as through a mapped MDL, and completes reads with no
 *      data transferred.
 *   3. A poll thread looks at Status every 10 ms while a read is pending: the 4 that the program
 *      writes at shut-down completes the read, unless the controller said the stop hangs.
 *   4. The same thread speaks and listens through the block, as the modem driver does: while
 *      playback runs it keeps the four playback buffers after PlayIndex (those the sound card does
 *      not hold) filled with what the far end says, and while recording runs it takes each record
 *      buffer behind the two queued ones once RecIndex has moved past it. It sees only the block and
 *      the requests it completed reads with.
 * Every buffer length is checked before the buffer is touched; wrong sizes complete with an error.
 */
#include <ntddk.h>

#include "control.h"

/* What the program exchanges with the modem driver. */
#define IOCTL_GET_LINE_STATUS 0x80802804u
#define IOCTL_SET_CALL_RESPONSE 0x80802808u
#define RECORD_SIZE 112
#define BLOCK_PLAY_DATA 0x0000
#define BLOCK_REC_DATA 0x4000
#define BLOCK_PLAY_INDEX 0x8000
#define BLOCK_PD 0x8008
#define BLOCK_STATUS 0x8018
#define BLOCK_RESERVED 0x801C
#define BLOCK_DRIVER_END 0x809C   /* the driver's fields end here: the handles follow */
#define BLOCK_MIN_READ BLOCK_DRIVER_END
#define SPK_STATUS_STOP 4
#define TAG_SIZE 16
/* The rings: buffers, samples per buffer, buffers the sound card holds at a time. */
#define PLAY_BUFFERS 8
#define PLAY_SAMPLES 1024
#define PLAY_QUEUED 4
#define REC_BUFFERS 16
#define REC_SAMPLES 512
#define REC_QUEUED 2
#define TAKEN_RING 65536

/* Under Wine the driver's process reaches the reader's memory through the system's own calls for
 * that, which ntoskrnl does not export. A driver that imports ntdll is not loaded as a driver, so
 * they are looked up at start in the ntdll that the driver's process has loaded. */
typedef enum { VxdMemoryBasicInformation = 0 } VXD_MEMORY_INFORMATION_CLASS;
typedef struct {
    PVOID BaseAddress;
    PVOID AllocationBase;
    ULONG AllocationProtect;
    SIZE_T RegionSize;
    ULONG State;
    ULONG Protect;
    ULONG Type;
} VXD_MEMORY_BASIC_INFORMATION;
typedef NTSTATUS(NTAPI *QueryVirtualMemoryProc)(HANDLE, PVOID, VXD_MEMORY_INFORMATION_CLASS, PVOID, SIZE_T, PSIZE_T);
typedef NTSTATUS(NTAPI *ReadVirtualMemoryProc)(HANDLE, PVOID, PVOID, SIZE_T, PSIZE_T);
typedef NTSTATUS(NTAPI *WriteVirtualMemoryProc)(HANDLE, PVOID, const void *, SIZE_T, PSIZE_T);
typedef NTSTATUS(NTAPI *QuerySystemTimeProc)(PLARGE_INTEGER);
static QueryVirtualMemoryProc NtQueryVirtualMemoryP;
static ReadVirtualMemoryProc NtReadVirtualMemoryP;
static WriteVirtualMemoryProc NtWriteVirtualMemoryP;
static QuerySystemTimeProc NtQuerySystemTimeP;
NTSYSAPI NTSTATUS NTAPI NtOpenProcess(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PCLIENT_ID);
NTSYSAPI NTSTATUS NTAPI NtClose(HANDLE);
NTSYSAPI NTSTATUS NTAPI NtWaitForSingleObject(HANDLE, BOOLEAN, PLARGE_INTEGER);
#define VXD_MEM_COMMIT 0x1000
#define VXD_MEM_PRIVATE 0x20000
#define VXD_PAGE_READWRITE 0x04
#define VXD_PROCESS_ACCESS (0x0008 | 0x0010 | 0x0020 | 0x0400) /* VM operation, read, write; query */

#define EVENT_RING 512

DRIVER_INITIALIZE DriverEntry;

static PDEVICE_OBJECT VoiceDeviceObject;    /* \\.\VVOICE */
static PDEVICE_OBJECT ControlDeviceObject;  /* \\.\VXMCOM */
static PDEVICE_OBJECT DoubleDeviceObject;   /* \\.\VXDOUBLE */
static volatile LONG StateLock;             /* guards everything below */
static BOOLEAN VoicePresent, ControlPresent;
static PFILE_OBJECT VoiceOpen, ControlOpen; /* the one open of each exclusive device */
static UCHAR Record[RECORD_SIZE];           /* what IOCTL_GET_LINE_STATUS reports */
static BOOLEAN StopHangs;
static VxdWord PendingWord;                 /* said at the next read when none is pending */
static PIRP PendingRead;                    /* the voice read waiting for something to say */
static ULONG OpenSerial;                    /* makes each open's tag unique */
static UCHAR Tag[TAG_SIZE];                 /* the current open's tag */
static BOOLEAN TagSent;                     /* the first read of this open has carried the tag */
static HANDLE ReaderProcess;                /* the reader's process, once its block is found */
static PUCHAR ReaderBlock;                  /* the block's address in the reader's process */
static ULONG ReaderPid;
static LONG LastPlayState, LastRecState;
static VxdEvent Events[EVENT_RING];         /* what happened, oldest first from EventHead */
static ULONG EventHead, EventCount;
static volatile LONG Unloading;
static HANDLE PollThread;
static ULONG ReadsReceived;                 /* reads on the voice device that reached the block */
static ULONG LastRequestRead;               /* the read most recently completed with requests */
static SHORT *Line;                         /* what the far end says, LineTotal samples, again and again */
static ULONG LineTotal;
static BOOLEAN SpeakReset;                  /* the poll thread forgets its streams at its next pass */
static SHORT Taken[TAKEN_RING];             /* recorded samples taken, not yet fetched by the controller */
static ULONG TakenHead, TakenCount, TakenLost;

/* A stream start as the driver sees it (the poll thread's own): the state turns to running, or it is
 * running once the program has answered a read the driver completed with requests (the program
 * then stops its streams, starts the wanted ones and reads again, all between two looks maybe). */
typedef struct {
    BOOLEAN running;    /* the state at the last look */
    ULONG answered;     /* the last request read accounted for */
} StartSeen;

/* Playback: buffer numbers count every buffer of one start, from 0. */
static struct {
    StartSeen start;
    BOOLEAN feeding;
    LONG last_index;
    LONGLONG queued, filled;  /* PlayIndex unwrapped; the buffer most recently filled */
    LONGLONG first, written;  /* this start's first line sample; samples written */
} Feed;
static LONGLONG LinePos;      /* the next sample of the line signal to send */

/* Recording: buffer numbers of one start, from 0. */
static struct {
    StartSeen start;
    BOOLEAN taking;
    LONG last_index;
    LONGLONG queued, taken;   /* RecIndex unwrapped; the buffer most recently taken */
} Take;
static LONGLONG TakenTotal;   /* samples taken since the reset */

static BOOLEAN SameName(const UNICODE_STRING *name, const char *want)
{
    USHORT n = name->Length / sizeof(WCHAR);
    for (USHORT i = 0; i < n; ++i) {
        WCHAR c = name->Buffer[i];
        if (c >= 'A' && c <= 'Z')
            c += 'a' - 'A';
        if (!want[i] || c != (WCHAR)want[i])
            return FALSE;
    }
    return want[n] == 0;
}

static BOOLEAN SameString(const char *a, const char *b)
{
    while (*a && *a == *b)
        a++, b++;
    return *a == *b;
}

/* The loaded ntdll of this process, found in the loader's list of modules. The offsets of the
 * process block, the loader's data and its entries are counted in pointers: the same in the 32-bit
 * and the 64-bit layout. */
#define PTRS(n) ((n) * sizeof(void *))
static PUCHAR FindNtdll(void)
{
    PUCHAR peb;
#ifdef _WIN64
    __asm__("movq %%gs:0x60, %0" : "=r"(peb));
#else
    __asm__("movl %%fs:0x30, %0" : "=r"(peb));
#endif
    PUCHAR ldr = *(PUCHAR *)(peb + PTRS(3));               /* PEB.Ldr */
    LIST_ENTRY *head = (LIST_ENTRY *)(ldr + 8 + PTRS(1));  /* InLoadOrderModuleList */
    for (LIST_ENTRY *e = head->Flink; e != head; e = e->Flink) {
        PUCHAR entry = (PUCHAR)e;
        if (SameName((UNICODE_STRING *)(entry + PTRS(11)), "ntdll.dll"))  /* BaseDllName */
            return *(PUCHAR *)(entry + PTRS(6));                         /* DllBase */
    }
    return NULL;
}

/* A module's export by name, read from its PE headers (PE32 or PE32+, as its optional header says). */
static PVOID Export(PUCHAR module, const char *name)
{
    PUCHAR nt = module + *(LONG *)(module + 0x3C);
    USHORT magic = *(USHORT *)(nt + 0x18);
    ULONG directory = *(ULONG *)(nt + 0x18 + (magic == 0x10b ? 0x60 : 0x70));  /* first data directory */
    if (!directory)
        return NULL;
    PUCHAR exports = module + directory;
    ULONG count = *(ULONG *)(exports + 0x18);
    ULONG *functions = (ULONG *)(module + *(ULONG *)(exports + 0x1C));
    ULONG *names = (ULONG *)(module + *(ULONG *)(exports + 0x20));
    USHORT *ordinals = (USHORT *)(module + *(ULONG *)(exports + 0x24));
    for (ULONG i = 0; i < count; ++i)
        if (SameString((const char *)(module + names[i]), name))
            return module + functions[ordinals[i]];
    return NULL;
}

static NTSTATUS FindSystemCalls(void)
{
    PUCHAR ntdll = FindNtdll();
    if (!ntdll)
        return STATUS_PROCEDURE_NOT_FOUND;
    NtQueryVirtualMemoryP = (QueryVirtualMemoryProc)Export(ntdll, "NtQueryVirtualMemory");
    NtReadVirtualMemoryP = (ReadVirtualMemoryProc)Export(ntdll, "NtReadVirtualMemory");
    NtWriteVirtualMemoryP = (WriteVirtualMemoryProc)Export(ntdll, "NtWriteVirtualMemory");
    NtQuerySystemTimeP = (QuerySystemTimeProc)Export(ntdll, "NtQuerySystemTime");
    if (!NtQueryVirtualMemoryP || !NtReadVirtualMemoryP || !NtWriteVirtualMemoryP || !NtQuerySystemTimeP)
        return STATUS_PROCEDURE_NOT_FOUND;
    return STATUS_SUCCESS;
}

static void Lock(void)
{
    while (InterlockedCompareExchange(&StateLock, 1, 0) != 0)
        ;
}

static void Unlock(void) { InterlockedExchange(&StateLock, 0); }

static void Zero(void *p, SIZE_T n)
{
    volatile UCHAR *b = p;
    while (n--)
        *b++ = 0;
}

static void Copy(void *to, const void *from, SIZE_T n)
{
    UCHAR *t = to;
    const UCHAR *f = from;
    while (n--)
        *t++ = *f++;
}

static BOOLEAN Same(const void *a, const void *b, SIZE_T n)
{
    const UCHAR *x = a, *y = b;
    while (n--)
        if (*x++ != *y++)
            return FALSE;
    return TRUE;
}

/* Called with the lock held. */
static VxdEvent *AddEvent(ULONG kind, ULONG device)
{
    LARGE_INTEGER now;
    NtQuerySystemTimeP(&now);
    if (EventCount == EVENT_RING) {  /* the oldest goes: a controller that never asks loses it */
        EventHead = (EventHead + 1) % EVENT_RING;
        EventCount--;
    }
    VxdEvent *e = &Events[(EventHead + EventCount) % EVENT_RING];
    EventCount++;
    Zero(e, sizeof(*e));
    e->Time = now.QuadPart;
    e->Kind = kind;
    e->Device = device;
    return e;
}

static NTSTATUS Finish(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* A Win32 error code as the NTSTATUS that the reader's ReadFile turns back into it. */
static NTSTATUS StatusForError(ULONG error)
{
    return (NTSTATUS)(0xC0070000u | (error & 0xFFFFu));
}

/* The reader's block: read or write driver fields in place. */
static BOOLEAN BlockRead(HANDLE process, PUCHAR block, ULONG offset, void *to, SIZE_T n)
{
    SIZE_T done = 0;
    return process && block && NT_SUCCESS(NtReadVirtualMemoryP(process, block + offset, to, n, &done)) && done == n;
}

static BOOLEAN BlockWrite(HANDLE process, PUCHAR block, ULONG offset, const void *from, SIZE_T n)
{
    SIZE_T done = 0;
    return process && block && NT_SUCCESS(NtWriteVirtualMemoryP(process, block + offset, from, n, &done)) && done == n;
}

/* How many bytes one write into the reader's memory may carry. The 32-bit prefix runs its processes
 * under qemu's user mode: there a write of more than 16 bytes into another 32-bit process landed one
 * page below its address (reads, and writes of 4 to 16 bytes, land where they should). Each found
 * block is tried once (FindBlockWriteSize); where larger writes miss, the samples go 16 bytes at a
 * time. */
#define SMALL_WRITE 16
static ULONG WriteSize = SMALL_WRITE;

static BOOLEAN BlockWriteSamples(HANDLE process, PUCHAR block, ULONG offset, const void *from, SIZE_T n)
{
    for (SIZE_T done = 0; done < n; done += WriteSize)
        if (!BlockWrite(process, block, offset + (ULONG)done, (const UCHAR *)from + done,
                        n - done < WriteSize ? n - done : WriteSize))
            return FALSE;
    return TRUE;
}

/* Called when the block is found, before the program has started a stream (the block is all zero
 * apart from the driver's fields): 32 bytes of a pattern written at the record area's start and read
 * back. Where they land elsewhere (one page below: in the playback area) that page is zeroed again. */
static void FindBlockWriteSize(HANDLE process, PUCHAR block)
{
    static const UCHAR zeros[2048];
    UCHAR pattern[32], back[32];
    for (int i = 0; i < 32; ++i)
        pattern[i] = (UCHAR)(0xA5 ^ i);
    WriteSize = 2048;
    if (BlockWrite(process, block, BLOCK_REC_DATA, pattern, sizeof(pattern)) &&
        BlockRead(process, block, BLOCK_REC_DATA, back, sizeof(back)) && Same(back, pattern, sizeof(back))) {
        BlockWrite(process, block, BLOCK_REC_DATA, zeros, sizeof(pattern));
        return;
    }
    WriteSize = SMALL_WRITE;
    BlockWriteSamples(process, block, BLOCK_REC_DATA, zeros, sizeof(pattern));
    BlockWriteSamples(process, block, BLOCK_REC_DATA - 4096, zeros, sizeof(pattern));
}

/* Looks for this open's tag in the Reserved bytes of a freshly allocated region of the reader. */
static PUCHAR FindBlock(HANDLE process)
{
    PUCHAR address = (PUCHAR)0x10000;
    for (int regions = 0; regions < 100000; ++regions) {
        VXD_MEMORY_BASIC_INFORMATION info;
        SIZE_T got = 0;
        if (!NT_SUCCESS(NtQueryVirtualMemoryP(process, address, VxdMemoryBasicInformation, &info, sizeof(info), &got)))
            return NULL;
        if (info.State == VXD_MEM_COMMIT && info.Type == VXD_MEM_PRIVATE && info.Protect == VXD_PAGE_READWRITE &&
            info.BaseAddress == info.AllocationBase && info.RegionSize >= BLOCK_DRIVER_END) {
            UCHAR seen[TAG_SIZE];
            if (BlockRead(process, info.BaseAddress, BLOCK_RESERVED, seen, TAG_SIZE) && Same(seen, Tag, TAG_SIZE))
                return info.BaseAddress;
        }
        PUCHAR next = (PUCHAR)info.BaseAddress + info.RegionSize;
        if (next <= address || info.RegionSize == 0)
            return NULL;
        address = next;
    }
    return NULL;
}

/* The driver's own turns at the block: the poll thread's look (feeding the playback area, taking
 * the record area) and a read completed with words. The driver never asks for new streams while it
 * is still writing into the old one's buffers: the program zeroes the area as soon as it has the
 * request, and a buffer written after that would be heard in the new start. Both flags are kept
 * under the state lock; the one waiting for its turn sleeps a millisecond at a time. */
static BOOLEAN Looking, Saying;

static void WaitForTurn(BOOLEAN *mine, const BOOLEAN *other)
{
    LARGE_INTEGER millisecond;
    millisecond.QuadPart = -10 * 1000;
    for (;;) {
        Lock();
        if (!*other) {
            *mine = TRUE;
            Unlock();
            return;
        }
        Unlock();
        KeDelayExecutionThread(KernelMode, FALSE, &millisecond);
    }
}

/* Says a word into the reader's block and completes the read. Called without the lock, with the
 * read already taken out of PendingRead. */
static void SayInto(PIRP irp, const VxdWord *word, HANDLE process, PUCHAR block)
{
    NTSTATUS status = STATUS_SUCCESS;
    int written = -1;
    WaitForTurn(&Saying, &Looking);
    if (word->Kind == VXD_WORD_ERROR) {
        status = StatusForError(word->Error);
    } else if (!block) {
        status = STATUS_DEVICE_NOT_READY;
    } else {
        LONG fields[2] = {word->PD, word->RD};
        LONG value = word->Kind == VXD_WORD_REQUESTS ? 1 : word->Status;
        if ((word->Kind == VXD_WORD_REQUESTS && !BlockWrite(process, block, BLOCK_PD, fields, sizeof(fields))) ||
            !BlockWrite(process, block, BLOCK_STATUS, &value, sizeof(value)))
            status = STATUS_DEVICE_NOT_READY;
        else
            written = value;
    }
    Lock();
    if (written == 1)
        LastRequestRead = ReadsReceived;  /* the read pending now is the one completed */
    VxdEvent *e = AddEvent(VXD_EV_COMPLETE, VXD_DEVICE_VOICE);
    e->A = written;
    e->B = status;
    Saying = FALSE;
    Unlock();
    Finish(irp, status, 0);
}

static VOID NTAPI CancelRead(PDEVICE_OBJECT device, PIRP irp)
{
    IoReleaseCancelSpinLock(irp->CancelIrql);
    Lock();
    if (PendingRead == irp)
        PendingRead = NULL;
    AddEvent(VXD_EV_CANCEL, VXD_DEVICE_VOICE);
    Unlock();
    Finish(irp, STATUS_CANCELLED, 0);
}

/* Takes the pending read out, if it can still be completed by us; called with the lock held. */
static PIRP TakePendingRead(void)
{
    PIRP irp = PendingRead;
    if (!irp)
        return NULL;
    if (IoSetCancelRoutine(irp, NULL) == NULL)
        return NULL;  /* being cancelled: the cancel routine completes it */
    PendingRead = NULL;
    return irp;
}

/* Says the pending word into the pending read, if there are both. Called with the lock held;
 * returns with it released. */
static void SayPendingWordAndUnlock(void)
{
    if (!PendingWord.Kind || !PendingRead) {
        Unlock();
        return;
    }
    PIRP irp = TakePendingRead();
    if (!irp) {
        Unlock();
        return;
    }
    VxdWord word = PendingWord;
    Zero(&PendingWord, sizeof(PendingWord));
    HANDLE process = ReaderProcess;
    PUCHAR block = ReaderBlock;
    Unlock();
    SayInto(irp, &word, process, block);
}

static void ForgetReader(void)
{
    if (ReaderProcess)
        NtClose(ReaderProcess);
    ReaderProcess = NULL;
    ReaderBlock = NULL;
    ReaderPid = 0;
    TagSent = FALSE;
    LastPlayState = LastRecState = 0;
    SpeakReset = TRUE;
}

/* Wine opens a device whatever its create routine answers, so an absent device is one without its
 * \\.\ name: the open then fails as on a system where the driver has not made it yet. */
static void SetLink(ULONG device, BOOLEAN present)
{
    UNICODE_STRING link, target;
    RtlInitUnicodeString(&link, device == VXD_DEVICE_VOICE ? L"\\DosDevices\\VVOICE" : L"\\DosDevices\\VXMCOM");
    RtlInitUnicodeString(&target, device == VXD_DEVICE_VOICE ? L"\\Device\\VVoice" : L"\\Device\\VXmCom");
    IoDeleteSymbolicLink(&link);
    if (present)
        IoCreateSymbolicLink(&link, &target);
}

/* Wine also opens an exclusive device twice: the second open is refused here and every request on
 * it fails as its open would have. */
static BOOLEAN Refused(PDEVICE_OBJECT device, PIRP irp)
{
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    Lock();
    BOOLEAN refused = (device == VoiceDeviceObject && VoiceOpen != file) ||
                      (device == ControlDeviceObject && ControlOpen != file);
    Unlock();
    return refused;
}

static NTSTATUS NTAPI Create(PDEVICE_OBJECT device, PIRP irp)
{
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    if (device == DoubleDeviceObject)
        return Finish(irp, STATUS_SUCCESS, 0);
    BOOLEAN voice = device == VoiceDeviceObject;
    NTSTATUS status = STATUS_SUCCESS;
    Lock();
    if (!(voice ? VoicePresent : ControlPresent))
        status = STATUS_OBJECT_NAME_NOT_FOUND;
    else if (voice ? VoiceOpen != NULL : ControlOpen != NULL)
        status = STATUS_ACCESS_DENIED;  /* the devices are exclusive */
    else if (voice) {
        VoiceOpen = file;
        ForgetReader();
        OpenSerial++;
        LARGE_INTEGER now;
        NtQuerySystemTimeP(&now);
        Copy(Tag, "vxdouble", 8);
        Copy(Tag + 8, &now.LowPart, 4);
        Copy(Tag + 12, &OpenSerial, 4);
    } else {
        ControlOpen = file;
    }
    VxdEvent *e = AddEvent(VXD_EV_OPEN, voice ? VXD_DEVICE_VOICE : VXD_DEVICE_CONTROL);
    e->Ok = NT_SUCCESS(status);
    e->B = status;
    Unlock();
    return Finish(irp, status, 0);
}

static NTSTATUS NTAPI Close(PDEVICE_OBJECT device, PIRP irp)
{
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    Lock();
    if (device == VoiceDeviceObject && VoiceOpen == file) {
        VoiceOpen = NULL;
        ForgetReader();
        AddEvent(VXD_EV_CLOSE, VXD_DEVICE_VOICE);
    } else if (device == ControlDeviceObject && ControlOpen == file) {
        ControlOpen = NULL;
        AddEvent(VXD_EV_CLOSE, VXD_DEVICE_CONTROL);
    }
    Unlock();
    return Finish(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS Refuse(PIRP irp, ULONG device, int what, NTSTATUS status)
{
    Lock();
    VxdEvent *e = AddEvent(VXD_EV_REFUSED, device);
    e->A = what;
    e->B = status;
    Unlock();
    return Finish(irp, status, 0);
}

static NTSTATUS NTAPI Read(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    if (device != VoiceDeviceObject)
        return Refuse(irp, device == ControlDeviceObject ? VXD_DEVICE_CONTROL : 2, IRP_MJ_READ,
                      STATUS_INVALID_DEVICE_REQUEST);
    ULONG length = sp->Parameters.Read.Length;
    if (Refused(device, irp))
        return Refuse(irp, VXD_DEVICE_VOICE, IRP_MJ_READ, STATUS_ACCESS_DENIED);
    Lock();
    if (!VoicePresent) {
        Unlock();
        return Refuse(irp, VXD_DEVICE_VOICE, IRP_MJ_READ, STATUS_DEVICE_DOES_NOT_EXIST);
    }
    if (PendingRead) {
        Unlock();
        return Refuse(irp, VXD_DEVICE_VOICE, IRP_MJ_READ, STATUS_DEVICE_BUSY);
    }
    Unlock();
    /* The block must hold every field the driver works in. */
    if (length < BLOCK_MIN_READ || !irp->MdlAddress)
        return Refuse(irp, VXD_DEVICE_VOICE, IRP_MJ_READ, STATUS_INVALID_PARAMETER);

    Lock();
    VxdEvent *e = AddEvent(VXD_EV_READ, VXD_DEVICE_VOICE);
    e->A = (int)length;
    if (!TagSent) {
        /* First read of this open: the block is all zero; hand back zeros, Status 0 and the tag. */
        TagSent = TRUE;
        UCHAR tag[TAG_SIZE];
        Copy(tag, Tag, TAG_SIZE);
        Unlock();
        PUCHAR buffer = MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority);
        if (!buffer)
            return Finish(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
        Zero(buffer, BLOCK_DRIVER_END);
        Copy(buffer + BLOCK_RESERVED, tag, TAG_SIZE);
        Lock();
        e = AddEvent(VXD_EV_COMPLETE, VXD_DEVICE_VOICE);
        e->A = 0;
        Unlock();
        return Finish(irp, STATUS_SUCCESS, BLOCK_DRIVER_END);
    }
    if (!ReaderBlock) {
        ULONG pid = HandleToULong(PsGetCurrentProcessId());
        Unlock();
        HANDLE process = NULL;
        OBJECT_ATTRIBUTES attributes;
        CLIENT_ID client;
        InitializeObjectAttributes(&attributes, NULL, 0, NULL, NULL);
        client.UniqueProcess = ULongToHandle(pid);
        client.UniqueThread = NULL;
        PUCHAR block = NULL;
        if (NT_SUCCESS(NtOpenProcess(&process, VXD_PROCESS_ACCESS, &attributes, &client)))
            block = FindBlock(process);
        if (block)
            FindBlockWriteSize(process, block);
        Lock();
        if (block) {
            ReaderProcess = process;
            ReaderBlock = block;
            ReaderPid = pid;
        } else if (process) {
            NtClose(process);
        }
        e = AddEvent(VXD_EV_BLOCK, VXD_DEVICE_VOICE);
        e->A = block != NULL;
        e->B = (int)pid;
    }
    HANDLE process = ReaderProcess;
    PUCHAR block = ReaderBlock;
    ReadsReceived++;
    Unlock();

    /* A stop signal written before the read came: complete at once, as when it comes later. */
    LONG status = 0;
    if (!StopHangs && BlockRead(process, block, BLOCK_STATUS, &status, sizeof(status)) && status == SPK_STATUS_STOP) {
        Lock();
        AddEvent(VXD_EV_STOP, VXD_DEVICE_VOICE);
        e = AddEvent(VXD_EV_COMPLETE, VXD_DEVICE_VOICE);
        e->A = SPK_STATUS_STOP;
        Unlock();
        return Finish(irp, STATUS_SUCCESS, 0);
    }

    IoMarkIrpPending(irp);
    Lock();
    PendingRead = irp;
    IoSetCancelRoutine(irp, CancelRead);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
        PendingRead = NULL;
        Unlock();
        Finish(irp, STATUS_CANCELLED, 0);
        return STATUS_PENDING;
    }
    SayPendingWordAndUnlock();
    return STATUS_PENDING;
}

/* The modem control device's two codes. */
static NTSTATUS ModemControl(PIRP irp, PIO_STACK_LOCATION sp)
{
    ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
    ULONG in = sp->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out = sp->Parameters.DeviceIoControl.OutputBufferLength;
    PUCHAR buffer = irp->AssociatedIrp.SystemBuffer;
    if (Refused(ControlDeviceObject, irp))
        return Refuse(irp, VXD_DEVICE_CONTROL, (int)code, STATUS_ACCESS_DENIED);
    Lock();
    BOOLEAN present = ControlPresent;
    Unlock();
    if (!present)
        return Refuse(irp, VXD_DEVICE_CONTROL, (int)code, STATUS_DEVICE_DOES_NOT_EXIST);
    if (code == IOCTL_GET_LINE_STATUS) {
        if (out < RECORD_SIZE || !buffer)
            return Refuse(irp, VXD_DEVICE_CONTROL, (int)code, STATUS_BUFFER_TOO_SMALL);
        Lock();
        Copy(buffer, Record, RECORD_SIZE);
        Unlock();
        return Finish(irp, STATUS_SUCCESS, RECORD_SIZE);
    }
    if (code == IOCTL_SET_CALL_RESPONSE) {
        if (in < RECORD_SIZE || !buffer)
            return Refuse(irp, VXD_DEVICE_CONTROL, (int)code, STATUS_BUFFER_TOO_SMALL);
        Lock();
        VxdEvent *e = AddEvent(VXD_EV_RESPONSE, VXD_DEVICE_CONTROL);
        Copy(e->Record, buffer, RECORD_SIZE);
        Unlock();
        return Finish(irp, STATUS_SUCCESS, 0);
    }
    return Refuse(irp, VXD_DEVICE_CONTROL, (int)code, STATUS_INVALID_DEVICE_REQUEST);
}

static NTSTATUS ExpectIn(PIO_STACK_LOCATION sp, PIRP irp, ULONG size)
{
    if (sp->Parameters.DeviceIoControl.InputBufferLength != size || !irp->AssociatedIrp.SystemBuffer)
        return STATUS_INFO_LENGTH_MISMATCH;
    return STATUS_SUCCESS;
}

/* The controller's codes. */
static NTSTATUS DoubleControl(PIRP irp, PIO_STACK_LOCATION sp)
{
    ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
    ULONG out = sp->Parameters.DeviceIoControl.OutputBufferLength;
    PUCHAR buffer = irp->AssociatedIrp.SystemBuffer;
    NTSTATUS status;
    switch (code) {
    case VXD_RESET: {
        Lock();
        PIRP irp2 = TakePendingRead();
        VoicePresent = ControlPresent = FALSE;
        StopHangs = FALSE;
        Zero(Record, sizeof(Record));
        Zero(&PendingWord, sizeof(PendingWord));
        EventHead = EventCount = 0;
        LineTotal = 0;
        TakenHead = TakenCount = TakenLost = 0;
        SpeakReset = TRUE;
        LinePos = TakenTotal = 0;
        ReadsReceived = LastRequestRead = 0;
        Unlock();
        SetLink(VXD_DEVICE_VOICE, FALSE);
        SetLink(VXD_DEVICE_CONTROL, FALSE);
        if (irp2)
            Finish(irp2, STATUS_DEVICE_DOES_NOT_EXIST, 0);
        return Finish(irp, STATUS_SUCCESS, 0);
    }
    case VXD_SET_PRESENT: {
        if ((status = ExpectIn(sp, irp, sizeof(VxdPresence))) != STATUS_SUCCESS)
            return Finish(irp, status, 0);
        VxdPresence p;
        Copy(&p, buffer, sizeof(p));
        if (p.Device > VXD_DEVICE_CONTROL)
            return Finish(irp, STATUS_INVALID_PARAMETER, 0);
        Lock();
        PIRP failed = NULL;
        if (p.Device == VXD_DEVICE_VOICE) {
            VoicePresent = p.Present != 0;
            if (!VoicePresent)
                failed = TakePendingRead();  /* a device that goes away fails the read pending on it */
        } else {
            ControlPresent = p.Present != 0;
        }
        if (failed) {
            VxdEvent *e = AddEvent(VXD_EV_COMPLETE, VXD_DEVICE_VOICE);
            e->A = -1;
            e->B = STATUS_DEVICE_DOES_NOT_EXIST;
        }
        Unlock();
        SetLink(p.Device, p.Present != 0);
        if (failed)
            Finish(failed, STATUS_DEVICE_DOES_NOT_EXIST, 0);
        return Finish(irp, STATUS_SUCCESS, 0);
    }
    case VXD_SET_RECORD:
        if ((status = ExpectIn(sp, irp, RECORD_SIZE)) != STATUS_SUCCESS)
            return Finish(irp, status, 0);
        Lock();
        Copy(Record, buffer, RECORD_SIZE);
        Unlock();
        return Finish(irp, STATUS_SUCCESS, 0);
    case VXD_SET_STOP_HANGS:
        if ((status = ExpectIn(sp, irp, sizeof(ULONG))) != STATUS_SUCCESS)
            return Finish(irp, status, 0);
        Lock();
        StopHangs = *(ULONG *)buffer != 0;
        Unlock();
        return Finish(irp, STATUS_SUCCESS, 0);
    case VXD_SAY: {
        if ((status = ExpectIn(sp, irp, sizeof(VxdWord))) != STATUS_SUCCESS)
            return Finish(irp, status, 0);
        VxdWord w;
        Copy(&w, buffer, sizeof(w));
        if (w.Kind < VXD_WORD_REQUESTS || w.Kind > VXD_WORD_ERROR)
            return Finish(irp, STATUS_INVALID_PARAMETER, 0);
        Lock();
        PendingWord = w;
        SayPendingWordAndUnlock();
        return Finish(irp, STATUS_SUCCESS, 0);
    }
    case VXD_NEXT_EVENT:
        if (out != sizeof(VxdEvent) || !buffer)
            return Finish(irp, STATUS_INFO_LENGTH_MISMATCH, 0);
        Lock();
        if (!EventCount) {
            Unlock();
            return Finish(irp, STATUS_NO_MORE_ENTRIES, 0);
        }
        Copy(buffer, &Events[EventHead], sizeof(VxdEvent));
        EventHead = (EventHead + 1) % EVENT_RING;
        EventCount--;
        Unlock();
        return Finish(irp, STATUS_SUCCESS, sizeof(VxdEvent));
    case VXD_SET_LINE: {
        if ((status = ExpectIn(sp, irp, sizeof(VxdLineChunk))) != STATUS_SUCCESS)
            return Finish(irp, status, 0);
        const VxdLineChunk *c = (const VxdLineChunk *)buffer;
        if (c->Total == 0 || c->Total > VXD_LINE_MAX || c->Count > VXD_CHUNK_SAMPLES || c->Offset > c->Total ||
            c->Count > c->Total - c->Offset)
            return Finish(irp, STATUS_INVALID_PARAMETER, 0);
        if (!Line) {
            Line = ExAllocatePoolWithTag(NonPagedPool, VXD_LINE_MAX * sizeof(SHORT), 0x656E694Cu /* "Line" */);
            if (!Line)
                return Finish(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
        }
        Lock();
        if (c->Offset == 0)
            LineTotal = 0;  /* silent until the whole signal is there */
        Copy(Line + c->Offset, c->Samples, c->Count * sizeof(SHORT));
        if (c->Offset + c->Count == c->Total)
            LineTotal = c->Total;
        Unlock();
        return Finish(irp, STATUS_SUCCESS, 0);
    }
    case VXD_TAKE_LINE: {
        if (out != sizeof(VxdTakenChunk) || !buffer)
            return Finish(irp, STATUS_INFO_LENGTH_MISMATCH, 0);
        VxdTakenChunk *c = (VxdTakenChunk *)buffer;
        Lock();
        c->Count = TakenCount < VXD_CHUNK_SAMPLES ? TakenCount : VXD_CHUNK_SAMPLES;
        for (ULONG k = 0; k < c->Count; ++k)
            c->Samples[k] = Taken[(TakenHead + k) % TAKEN_RING];
        TakenHead = (TakenHead + c->Count) % TAKEN_RING;
        TakenCount -= c->Count;
        c->Lost = TakenLost;
        TakenLost = 0;
        Unlock();
        return Finish(irp, STATUS_SUCCESS, sizeof(VxdTakenChunk));
    }
    case VXD_PEEK_BLOCK: {
        if (out != sizeof(VxdBlockView) || !buffer)
            return Finish(irp, STATUS_INFO_LENGTH_MISMATCH, 0);
        VxdBlockView view;
        Zero(&view, sizeof(view));
        Lock();
        HANDLE process = ReaderProcess;
        PUCHAR block = ReaderBlock;
        view.Pid = ReaderPid;
        Unlock();
        LONG fields[7];
        if (BlockRead(process, block, BLOCK_PLAY_INDEX, fields, sizeof(fields))) {
            view.Found = 1;
            view.PlayIndex = fields[0];
            view.RecIndex = fields[1];
            view.PD = fields[2];
            view.RD = fields[3];
            view.PlayState = fields[4];
            view.RecState = fields[5];
            view.Status = fields[6];
            if (view.PlayIndex >= 0 && view.PlayIndex < 8)
                BlockRead(process, block, (ULONG)view.PlayIndex * 2048, &view.PlaySample, 2);
            if (view.RecIndex >= 0 && view.RecIndex < 16)
                BlockRead(process, block, 0x4000 + (ULONG)view.RecIndex * 1024, &view.RecSample, 2);
        }
        Copy(buffer, &view, sizeof(view));
        return Finish(irp, STATUS_SUCCESS, sizeof(view));
    }
    default:
        return Finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

static NTSTATUS NTAPI DeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    if (device == ControlDeviceObject)
        return ModemControl(irp, sp);
    if (device == DoubleDeviceObject)
        return DoubleControl(irp, sp);
    return Refuse(irp, VXD_DEVICE_VOICE, (int)sp->Parameters.DeviceIoControl.IoControlCode,
                  STATUS_INVALID_DEVICE_REQUEST);
}

static NTSTATUS NTAPI Other(PDEVICE_OBJECT device, PIRP irp)
{
    return Finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
}

/* What the driver had said and received when it last looked at the block: counted before the
 * block is read, so that a read that came after the look cannot pass for an answer the block
 * already shows (between the look and the start's check, the program may have stopped its streams
 * and read again). */
typedef struct {
    ULONG request, reads;
} Look;

/* Whether the state seen is a new start of the stream; false too while a request the driver said
 * has not been acted on (the program is stopping and starting its streams: the areas are not the
 * driver's to touch until it reads again or the state has been seen closed). */
static BOOLEAN Fresh(StartSeen *s, const Look *look, LONG state, BOOLEAN *wait)
{
    ULONG request = look->request, reads = look->reads;
    BOOLEAN said = request > s->answered, acted = said && reads > request;
    BOOLEAN fresh = state != 0 && (!s->running || acted);
    if (fresh || acted)
        s->answered = request;
    *wait = said && !acted && !fresh;
    s->running = state != 0;
    return fresh;
}

static void EndFeed(void)
{
    if (!Feed.feeding)
        return;
    Feed.feeding = FALSE;
    Lock();
    VxdEvent *e = AddEvent(VXD_EV_FED, VXD_DEVICE_VOICE);
    e->A = (int)Feed.first;
    e->B = (int)Feed.written;
    Unlock();
}

/* How far a ring index moved since the last look (the program moves it by one per notice). */
static LONGLONG Moved(LONG now, LONG before, LONG ring) { return ((LONGLONG)(now - before) % ring + ring) % ring; }

static void FeedPlayback(HANDLE process, PUCHAR block, const Look *look, LONG state, LONG index)
{
    BOOLEAN wait;
    if (Fresh(&Feed.start, look, state, &wait)) {
        /* A new start: the program has zeroed the area and queued buffers 0 to PlayIndex. */
        EndFeed();
        Feed.feeding = TRUE;
        Feed.last_index = index;
        Feed.queued = Feed.filled = index;
        Feed.first = LinePos;
        Feed.written = 0;
        Lock();
        VxdEvent *e = AddEvent(VXD_EV_FEED, VXD_DEVICE_VOICE);
        e->A = (int)LinePos;
        e->B = index;
        Unlock();
    }
    if (state == 0)
        EndFeed();
    if (state == 0 || wait || !Feed.feeding || index < 0 || index >= PLAY_BUFFERS)
        return;
    Feed.queued += Moved(index, Feed.last_index, PLAY_BUFFERS);
    Feed.last_index = index;
    /* The four buffers after PlayIndex are not held by the sound card: they are the driver's to fill. */
    static SHORT samples[PLAY_SAMPLES];
    while (Feed.filled < Feed.queued + PLAY_QUEUED) {
        Lock();
        for (int k = 0; k < PLAY_SAMPLES; ++k)
            samples[k] = LineTotal ? Line[(LinePos + k) % LineTotal] : 0;
        Unlock();
        ULONG at = BLOCK_PLAY_DATA + (ULONG)((Feed.filled + 1) % PLAY_BUFFERS) * PLAY_SAMPLES * 2;
        if (!BlockWriteSamples(process, block, at, samples, sizeof(samples)))
            return;
        Feed.filled++;
        LinePos += PLAY_SAMPLES;
        Feed.written += PLAY_SAMPLES;
    }
}

static void TakeRecording(HANDLE process, PUCHAR block, const Look *look, LONG state, LONG index)
{
    BOOLEAN wait;
    if (Fresh(&Take.start, look, state, &wait)) {
        Take.taking = TRUE;
        Take.last_index = index;
        Take.queued = index;
        Take.taken = index - REC_QUEUED;
        Lock();
        VxdEvent *e = AddEvent(VXD_EV_TAKE, VXD_DEVICE_VOICE);
        e->A = (int)TakenTotal;
        e->B = (int)(Take.taken + 1);
        Unlock();
    }
    if (state == 0)
        Take.taking = FALSE;
    if (state == 0 || wait || !Take.taking || index < 0 || index >= REC_BUFFERS)
        return;
    Take.queued += Moved(index, Take.last_index, REC_BUFFERS);
    Take.last_index = index;
    /* Every buffer behind the two queued ones has been filled: the driver takes it for the line. */
    static SHORT samples[REC_SAMPLES];
    while (Take.taken < Take.queued - REC_QUEUED) {
        ULONG at = BLOCK_REC_DATA + (ULONG)((Take.taken + 1) % REC_BUFFERS) * REC_SAMPLES * 2;
        if (!BlockRead(process, block, at, samples, sizeof(samples)))
            return;
        Take.taken++;
        Lock();
        for (int k = 0; k < REC_SAMPLES; ++k) {
            if (TakenCount == TAKEN_RING) {
                TakenLost++;
                continue;
            }
            Taken[(TakenHead + TakenCount) % TAKEN_RING] = samples[k];
            TakenCount++;
        }
        TakenTotal += REC_SAMPLES;
        Unlock();
    }
}

/* Watches the reader's block: the stop signal, and the stream states the program keeps there. */
static VOID NTAPI PollProc(PVOID context)
{
    LARGE_INTEGER interval;
    interval.QuadPart = -10 * 1000 * 10;  /* 10 ms */
    while (!Unloading) {
        KeDelayExecutionThread(KernelMode, FALSE, &interval);
        Lock();
        HANDLE process = ReaderProcess;
        PUCHAR block = ReaderBlock;
        BOOLEAN pending = PendingRead != NULL, hangs = StopHangs;
        Unlock();
        Lock();
        BOOLEAN forget = SpeakReset;
        SpeakReset = FALSE;
        ULONG request = LastRequestRead;
        Unlock();
        if (forget) {  /* a new reader, or a new run: no stream of the old one goes on */
            EndFeed();
            Feed.start.running = Take.start.running = Take.taking = FALSE;
            Feed.start.answered = Take.start.answered = request;
        }
        if (!block)
            continue;
        WaitForTurn(&Looking, &Saying);
        Look look;
        Lock();
        look.request = LastRequestRead;
        look.reads = ReadsReceived;
        Unlock();
        LONG fields[7];
        BOOLEAN seen = BlockRead(process, block, BLOCK_PLAY_INDEX, fields, sizeof(fields));
        if (seen) {
            FeedPlayback(process, block, &look, fields[4], fields[0]);
            TakeRecording(process, block, &look, fields[5], fields[1]);
        }
        Lock();
        Looking = FALSE;
        Unlock();
        if (!seen)
            continue;
        Lock();
        if (ReaderBlock == block && (fields[4] != LastPlayState || fields[5] != LastRecState)) {
            LastPlayState = fields[4];
            LastRecState = fields[5];
            VxdEvent *e = AddEvent(VXD_EV_STATE, VXD_DEVICE_VOICE);
            e->A = fields[4];
            e->B = fields[5];
        }
        PIRP irp = NULL;
        if (pending && !hangs && fields[6] == SPK_STATUS_STOP && ReaderBlock == block)
            irp = TakePendingRead();
        if (irp) {
            AddEvent(VXD_EV_STOP, VXD_DEVICE_VOICE);
            VxdEvent *e = AddEvent(VXD_EV_COMPLETE, VXD_DEVICE_VOICE);
            e->A = SPK_STATUS_STOP;
        }
        Unlock();
        if (irp)
            Finish(irp, STATUS_SUCCESS, 0);
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}

static NTSTATUS MakeDevice(PDRIVER_OBJECT driver, const WCHAR *name, const WCHAR *link, BOOLEAN exclusive,
                           ULONG flags, PDEVICE_OBJECT *device)
{
    UNICODE_STRING device_name, link_name;
    RtlInitUnicodeString(&device_name, name);
    RtlInitUnicodeString(&link_name, link);
    NTSTATUS status = IoCreateDevice(driver, 0, &device_name, FILE_DEVICE_UNKNOWN, 0, exclusive, device);
    if (!NT_SUCCESS(status))
        return status;
    (*device)->Flags |= flags;
    (*device)->Flags &= ~DO_DEVICE_INITIALIZING;
    status = IoCreateSymbolicLink(&link_name, &device_name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(*device);
        *device = NULL;
    }
    return status;
}

static VOID NTAPI Unload(PDRIVER_OBJECT driver)
{
    InterlockedExchange(&Unloading, 1);
    if (PollThread) {
        NtWaitForSingleObject(PollThread, FALSE, NULL);
        NtClose(PollThread);
    }
    static const WCHAR *links[] = {L"\\DosDevices\\VVOICE", L"\\DosDevices\\VXMCOM", L"\\DosDevices\\VXDOUBLE"};
    for (int i = 0; i < 3; ++i) {
        UNICODE_STRING link;
        RtlInitUnicodeString(&link, links[i]);
        IoDeleteSymbolicLink(&link);
    }
    ForgetReader();
    if (Line)
        ExFreePool(Line);
    Line = NULL;
    if (VoiceDeviceObject)
        IoDeleteDevice(VoiceDeviceObject);
    if (ControlDeviceObject)
        IoDeleteDevice(ControlDeviceObject);
    if (DoubleDeviceObject)
        IoDeleteDevice(DoubleDeviceObject);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry)
{
    for (int i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i)
        driver->MajorFunction[i] = Other;
    driver->MajorFunction[IRP_MJ_CREATE] = Create;
    driver->MajorFunction[IRP_MJ_CLOSE] = Close;
    driver->MajorFunction[IRP_MJ_READ] = Read;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DeviceControl;
    driver->DriverUnload = Unload;

    NTSTATUS status = FindSystemCalls();
    if (NT_SUCCESS(status))
        status = MakeDevice(driver, L"\\Device\\VVoice", L"\\DosDevices\\VVOICE", FALSE, DO_DIRECT_IO,
                                 &VoiceDeviceObject);
    if (NT_SUCCESS(status))
        status = MakeDevice(driver, L"\\Device\\VXmCom", L"\\DosDevices\\VXMCOM", FALSE, DO_BUFFERED_IO,
                            &ControlDeviceObject);
    if (NT_SUCCESS(status))
        status = MakeDevice(driver, L"\\Device\\VXDouble", L"\\DosDevices\\VXDOUBLE", FALSE, DO_BUFFERED_IO,
                            &DoubleDeviceObject);
    if (NT_SUCCESS(status)) {
        /* Both devices start absent, until the controller says otherwise. */
        SetLink(VXD_DEVICE_VOICE, FALSE);
        SetLink(VXD_DEVICE_CONTROL, FALSE);
        status = PsCreateSystemThread(&PollThread, THREAD_ALL_ACCESS, NULL, NULL, NULL, PollProc, NULL);
    }
    if (!NT_SUCCESS(status))
        Unload(driver);
    return status;
}
