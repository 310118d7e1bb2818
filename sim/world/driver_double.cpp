// The modem driver double and the kernel32 file calls on its devices.
#include "driver_double.h"

#include <cstring>
#include <memory>

#include "handles.h"

namespace sim {

namespace {

constexpr DWORD kGetLineStatus = 0x80802804u, kSetCallResponse = 0x80802808u;
constexpr size_t kRecordSize = 112;

struct Device {
    const char *name;
    bool present = false;
    bool open = false;
};
Device g_voice{"\\\\.\\VVOICE"}, g_control{"\\\\.\\VXMCOM"};

// The record the driver reports.
uint8_t g_record[kRecordSize];

// The voice read: one at a time, pending until the driver has something to report.
struct Read {
    SimThread *reader = nullptr;
    uint8_t *buffer = nullptr;
    DWORD length = 0;
    bool done = false;
    bool ok = true;
    DWORD error = 0;
};
std::unique_ptr<Read> g_read;
// What the driver has to say when no read is pending: said at the next read.
struct Word {
    enum { None, Requests, Status, Error } kind = None;
    int32_t pD = 0, rD = 0, status = 0;
    DWORD error = 0;
} g_word;
bool g_stop_hangs = false;
uint8_t *g_block = nullptr;

struct DeviceHandle : KObject {
    Device *device;
    explicit DeviceHandle(Device *d) : device(d) {}
    void OnClose() override { device->open = false; }
    const char *HeldKind() const override { return "device"; }
    std::string HeldName() const override { return device->name; }
};

void Put32(uint8_t *p, size_t offset, uint32_t v) { memcpy(p + offset, &v, 4); }
uint32_t Get32(const uint8_t *p, size_t offset)
{
    uint32_t v;
    memcpy(&v, p + offset, 4);
    return v;
}

bool ReadPendingNow() { return g_read && !g_read->done && !ThreadEnded(g_read->reader); }

void Complete(bool ok, DWORD error)
{
    g_read->done = true;
    g_read->ok = ok;
    g_read->error = error;
}

// Says the driver's word into the pending read, if there is a word and a read.
void Say()
{
    if (!ReadPendingNow() || g_word.kind == Word::None)
        return;
    switch (g_word.kind) {
    case Word::Requests:
        Put32(g_read->buffer, kBlockPD, (uint32_t)g_word.pD);
        Put32(g_read->buffer, kBlockRD, (uint32_t)g_word.rD);
        Put32(g_read->buffer, kBlockStatus, 1);
        Complete(true, 0);
        break;
    case Word::Status:
        Put32(g_read->buffer, kBlockStatus, (uint32_t)g_word.status);
        Complete(true, 0);
        break;
    case Word::Error:
        Complete(false, g_word.error);
        break;
    default:
        break;
    }
    g_word = Word{};
}

// The driver notices the stop signal the program writes into the block while its read is pending.
void Poll()
{
    if (!ReadPendingNow() || g_stop_hangs)
        return;
    if ((int32_t)Get32(g_read->buffer, kBlockStatus) == 4)
        Complete(true, 0);
}

bool g_registered = [] {
    AddPoll(Poll);
    return true;
}();

Device *DeviceNamed(LPCSTR name)
{
    if (!name)
        return nullptr;
    if (strcasecmp(name, g_voice.name) == 0)
        return &g_voice;
    if (strcasecmp(name, g_control.name) == 0)
        return &g_control;
    return nullptr;
}

}  // namespace

void DriverSetPresent(bool voice, bool present)
{
    Device &d = voice ? g_voice : g_control;
    d.present = present;
    // A device that goes away fails the read pending on it.
    if (voice && !present && ReadPendingNow())
        Complete(false, ERROR_DEV_NOT_EXIST);
}

void DriverSetStopHangs(bool hangs) { g_stop_hangs = hangs; }

void DriverSetStatus(uint32_t status, const std::optional<std::string> &caller, std::optional<uint32_t> hold)
{
    if (caller) {
        memset(g_record, 0, 100);
        memcpy(g_record, caller->data(), std::min<size_t>(caller->size(), 100));
    }
    if (hold)
        Put32(g_record, 100, *hold);
    Put32(g_record, 104, status);
}

void DriverRequest(int32_t pD, int32_t rD)
{
    g_word = Word{};
    g_word.kind = Word::Requests;
    g_word.pD = pD;
    g_word.rD = rD;
    Say();
}

void DriverCompleteStatus(int32_t status)
{
    g_word = Word{};
    g_word.kind = Word::Status;
    g_word.status = status;
    Say();
}

void DriverFailRead(uint32_t error)
{
    g_word = Word{};
    g_word.kind = Word::Error;
    g_word.error = error;
    Say();
}

uint8_t *DriverBlock() { return g_block; }
void DriverMemoryReleased(void *base)
{
    if (g_block == base)
        g_block = nullptr;
}
bool DriverReadPending() { return ReadPendingNow(); }

}  // namespace sim

using namespace sim;

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                          DWORD dwCreationDisposition, DWORD, HANDLE)
{
    PlatformCall call("CreateFileA");
    YieldPoint();
    Device *d = DeviceNamed(lpFileName);
    DWORD error = 0;
    if (auto e = call.Fault())
        error = *e;
    else if (!d || !d->present)
        error = ERROR_FILE_NOT_FOUND;
    else if (dwCreationDisposition != OPEN_EXISTING)
        error = ERROR_INVALID_PARAMETER;
    else if (d->open)
        error = ERROR_ACCESS_DENIED;  // the driver's devices are exclusive
    if (lpFileName && strncmp(lpFileName, "\\\\.\\", 4) == 0)
        Emit("device", {{"name", lpFileName}, {"ok", error == 0}});
    if (error) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    d->open = true;
    return NewHandle(std::make_shared<DeviceHandle>(d));
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped)
{
    PlatformCall call("ReadFile");
    YieldPoint();
    auto *h = HandleAs<DeviceHandle>(hFile);
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = 0;
    if (!h) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (call.Fault())
        return FALSE;
    if (h->device != &g_voice || lpOverlapped) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    if (!g_voice.present) {
        SetLastError(ERROR_DEV_NOT_EXIST);
        return FALSE;
    }
    // The driver works in the block between reads: it must hold the request and status fields.
    if (!lpBuffer || nNumberOfBytesToRead < kBlockStatus + 4) {
        SetLastError(lpBuffer ? ERROR_INVALID_PARAMETER : ERROR_NOACCESS);
        return FALSE;
    }
    g_block = (uint8_t *)lpBuffer;
    g_read = std::make_unique<Read>();
    g_read->reader = Self();
    g_read->buffer = (uint8_t *)lpBuffer;
    g_read->length = nNumberOfBytesToRead;
    Say();
    if (!g_stop_hangs && (int32_t)Get32(g_read->buffer, kBlockStatus) == 4 && !g_read->done)
        Complete(true, 0);
    Read *read = g_read.get();
    BlockUntil([read] { return read->done; });
    bool ok = read->ok;
    DWORD error = read->error;
    g_read.reset();
    if (!ok) {
        SetLastError(error);
        return FALSE;
    }
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = nNumberOfBytesToRead;
    return TRUE;
}

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                            LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                            LPOVERLAPPED lpOverlapped)
{
    PlatformCall call("DeviceIoControl");
    YieldPoint();
    auto *h = HandleAs<DeviceHandle>(hDevice);
    if (!h) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD error = 0;
    if (auto e = call.Fault())
        error = *e;
    else if (h->device != &g_control || lpOverlapped)
        error = ERROR_INVALID_FUNCTION;
    else if (!g_control.present)
        error = ERROR_DEV_NOT_EXIST;
    else if (dwIoControlCode == kGetLineStatus) {
        if (!lpOutBuffer || nOutBufferSize < kRecordSize)
            error = ERROR_INSUFFICIENT_BUFFER;
    } else if (dwIoControlCode == kSetCallResponse) {
        if (!lpInBuffer || nInBufferSize < kRecordSize)
            error = ERROR_INSUFFICIENT_BUFFER;
    } else {
        error = ERROR_INVALID_FUNCTION;
    }
    if (TraceDetail("ioctl"))
        Emit("ioctl", {{"code", dwIoControlCode}, {"ok", error == 0}});
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    DWORD returned = 0;
    if (dwIoControlCode == kGetLineStatus) {
        memcpy(lpOutBuffer, g_record, kRecordSize);
        returned = kRecordSize;
    } else {
        const uint8_t *in = (const uint8_t *)lpInBuffer;
        std::string caller((const char *)in, strnlen((const char *)in, 100));
        Emit("response", {{"code", Get32(in, 108)}, {"status", Get32(in, 104)}, {"hold", Get32(in, 100)},
                          {"caller", AnsiToUtf8(caller)}});
    }
    if (lpBytesReturned)
        *lpBytesReturned = returned;
    return TRUE;
}

}  // extern "C"
