// The modem driver double: its two devices, present or absent over time; the line-status record it
// reports and the responses it receives; the voice read it keeps pending until it has something to
// say, and the stop signal it notices in the block. The kernel32 calls that reach it (CreateFileA,
// ReadFile, DeviceIoControl) are in win32/kernel32_device.cpp; its speakerphone side is in
// driver_speaker.cpp.
#include "driver_double.h"

#include <cstring>
#include <memory>

namespace sim {

namespace {

struct Device {
    const char *name;
    bool present = false;
    bool open = false;
    uint64_t arrival = 0;  // counts the device's arrivals: a handle serves only the arrival it opened
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
uint64_t g_reads = 0;          // reads received
uint64_t g_request_read = 0;   // the number of the last read completed with requests
uint8_t *g_block = nullptr;

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
        g_request_read = g_reads;
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

Device &Of(DriverDevice d) { return d == DriverDevice::Voice ? g_voice : g_control; }

}  // namespace

void DriverSetPresent(bool voice, bool present)
{
    Device &d = voice ? g_voice : g_control;
    if (present && !d.present) {
        ++d.arrival;
        d.open = false;  // a handle of an earlier arrival does not hold the new one
    }
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
uint64_t DriverReadsReceived() { return g_reads; }
uint64_t DriverLastRequestRead() { return g_request_read; }

DriverDevice DriverDeviceNamed(LPCSTR name)
{
    if (!name)
        return DriverDevice::None;
    if (strcasecmp(name, g_voice.name) == 0)
        return DriverDevice::Voice;
    if (strcasecmp(name, g_control.name) == 0)
        return DriverDevice::Control;
    return DriverDevice::None;
}

bool DriverDevicePresent(DriverDevice d) { return d != DriverDevice::None && Of(d).present; }
uint64_t DriverDeviceArrival(DriverDevice d) { return d == DriverDevice::None ? 0 : Of(d).arrival; }
bool DriverDeviceServes(DriverDevice d, uint64_t arrival)
{
    return DriverDevicePresent(d) && Of(d).arrival == arrival;
}
bool DriverDeviceOpen(DriverDevice d) { return d != DriverDevice::None && Of(d).open; }
void DriverDeviceSetOpen(DriverDevice d, bool open) { Of(d).open = open; }

bool DriverRead(uint8_t *buffer, DWORD length, DWORD *error)
{
    g_block = buffer;
    ++g_reads;
    g_read = std::make_unique<Read>();
    g_read->reader = Self();
    g_read->buffer = buffer;
    g_read->length = length;
    Say();
    if (!g_stop_hangs && (int32_t)Get32(g_read->buffer, kBlockStatus) == 4 && !g_read->done)
        Complete(true, 0);
    Read *read = g_read.get();
    BlockUntil([read] { return read->done; });
    bool ok = read->ok;
    *error = read->error;
    g_read.reset();
    return ok;
}

void DriverGetLineStatus(uint8_t *record) { memcpy(record, g_record, kRecordSize); }

void DriverReceiveResponse(const uint8_t *in)
{
    std::string caller((const char *)in, strnlen((const char *)in, 100));
    Emit("response", {{"code", Get32(in, 108)}, {"status", Get32(in, 104)}, {"hold", Get32(in, 100)},
                      {"caller", AnsiToUtf8(caller)}});
}

}  // namespace sim
