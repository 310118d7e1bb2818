// winmm: the wave audio calls the program makes, backed by the sound card double.
//
// The card has one output and one input device behind WAVE_MAPPER. A device plays (or records) its
// queued buffers one after the other in virtual time; when a buffer is finished its header is marked
// done and a notice goes to the callback window, in queue order. Header flags move as the real API
// moves them: prepare sets WHDR_PREPARED, a write or add sets WHDR_INQUEUE and clears WHDR_DONE,
// completion clears WHDR_INQUEUE and sets WHDR_DONE, unprepare clears WHDR_PREPARED. Handles are
// reused when a device is opened again, as the real ones are, so a notice's handle alone does not
// tell an old device from the new one.
#include "sound.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "user32.h"

namespace sim {

namespace {

struct WaveDevice {
    bool out = true;
    uintptr_t handle = 0;
    bool open = false;
    DWORD callback_type = CALLBACK_NULL;
    DWORD_PTR callback = 0;
    int rate = kSpeakerRate, channels = 1, bits = 16, block_align = 2;
    std::deque<WAVEHDR *> queue;
    bool halted = false;          // output: paused; input: not started
    bool moving = false;          // the oldest buffer is being played or filled right now
    int64_t head_done = 0;        // frames of the oldest buffer already played or filled
    Ms run_start = 0;             // when the current run of the oldest buffer began
    uint64_t epoch = 0;           // bumped whenever the scheduled completion no longer holds
    size_t session = 0;           // index into the sessions of its direction
    HeldTicket held = 0;          // while open, in the account of what the program holds
};

std::recursive_mutex g_mu;        // every call: the free-running mode calls from several threads
bool g_output = true, g_input = true, g_format = true;
Signal g_mic;
std::vector<std::unique_ptr<WaveDevice>> g_devices;
std::vector<SoundSession> g_sessions[2];  // [0] input, [1] output
uint64_t g_opens[2];
int g_underruns = 0, g_overruns = 0;
int64_t g_frames[2];
bool g_keep_calls = false;
std::vector<SoundCall> g_calls;
std::map<const WAVEHDR *, HeldTicket> g_prepared;  // prepared headers, in the account of what is held
std::function<void(HWND, UINT, WPARAM, LPARAM)> g_sink;

const char *Dir(bool out) { return out ? "out" : "in"; }

SoundSession &SessionOf(WaveDevice &d) { return g_sessions[d.out][d.session]; }

WaveDevice *Lookup(uintptr_t handle, bool out)
{
    for (auto &d : g_devices)
        if (d->out == out && d->open && d->handle == handle)
            return d.get();
    return nullptr;
}

MMRESULT Logged(const char *call, uintptr_t device, const WAVEHDR *header, MMRESULT result)
{
    if (g_keep_calls)
        g_calls.push_back(SoundCall{call, device, header, result});
    return result;
}

// A refused call is remembered by the device's session: it is why the stream ended, if it ends.
MMRESULT Refused(WaveDevice *d, const char *call, const WAVEHDR *header, MMRESULT result)
{
    if (d && result != MMSYSERR_NOERROR)
        SessionOf(*d).refusal = std::string(call) + " refused";
    return Logged(call, d ? d->handle : 0, header, result);
}

void Notify(WaveDevice &d, UINT msg, const WAVEHDR *header)
{
    if (g_sink) {
        g_sink((HWND)d.callback, msg, (WPARAM)d.handle, (LPARAM)header);
        return;
    }
    if (d.callback_type == CALLBACK_WINDOW)
        PostFromWorld((HWND)d.callback, msg, (WPARAM)d.handle, (LPARAM)header);
}

int64_t FramesOf(const WaveDevice &d, const WAVEHDR *h) { return h->dwBufferLength / d.block_align; }
Ms MsFor(const WaveDevice &d, int64_t frames) { return (frames * 1000 + d.rate - 1) / d.rate; }

int16_t ReadSample(const WaveDevice &d, const WAVEHDR *h, int64_t frame)
{
    const uint8_t *p = (const uint8_t *)h->lpData + frame * d.block_align;
    if (d.bits == 8)
        return (int16_t)((p[0] - 128) << 8);
    int16_t v;
    memcpy(&v, p, 2);
    return v;
}

void WriteSample(const WaveDevice &d, WAVEHDR *h, int64_t frame, int16_t v)
{
    uint8_t *p = (uint8_t *)h->lpData + frame * d.block_align;
    for (int c = 0; c < d.channels; ++c) {
        if (d.bits == 8)
            p[c] = (uint8_t)((v >> 8) + 128);
        else
            memcpy(p + 2 * c, &v, 2);
    }
}

// Moves the oldest buffer on to `upto`: plays its next frames, or fills them from the microphone,
// which speaks in real time (the sample heard at t ms is number t * rate / 1000).
void Progress(WaveDevice &d, Ms upto)
{
    WAVEHDR *h = d.queue.front();
    int64_t frames = std::min(FramesOf(d, h) - d.head_done, (upto - d.run_start) * d.rate / 1000);
    SoundSession &s = SessionOf(d);
    if (d.out) {
        if (!g_sink)
            for (int64_t k = 0; k < frames; ++k)
                s.samples.push_back(ReadSample(d, h, d.head_done + k));
    } else {
        int64_t mic = d.run_start * d.rate / 1000;
        if (s.mic_start < 0)
            s.mic_start = mic;
        for (int64_t k = 0; k < frames; ++k) {
            int16_t v = SignalSample(g_mic, mic + k);
            WriteSample(d, h, d.head_done + k, v);
            if (!g_sink)
                s.samples.push_back(v);
        }
        h->dwBytesRecorded = (DWORD)((d.head_done + frames) * d.block_align);
    }
    d.head_done += frames;
    g_frames[d.out] += frames;
    d.run_start = upto;
}

// Takes the oldest buffer off the queue as done and tells the callback.
void Finish(WaveDevice &d)
{
    WAVEHDR *h = d.queue.front();
    d.queue.pop_front();
    d.head_done = 0;
    h->dwFlags &= ~WHDR_INQUEUE;
    h->dwFlags |= WHDR_DONE;
    Notify(d, d.out ? MM_WOM_DONE : MM_WIM_DATA, h);
}

void CompleteHead(WaveDevice &d);

void Schedule(WaveDevice &d)
{
    if (g_sink)
        return;  // free-running: buffers complete when the test says so
    Ms when = d.run_start + MsFor(d, FramesOf(d, d.queue.front()) - d.head_done);
    uint64_t epoch = d.epoch;
    WaveDevice *dp = &d;
    At(when, [dp, epoch] {
        std::lock_guard<std::recursive_mutex> lock(g_mu);
        if (dp->epoch == epoch && dp->moving)
            CompleteHead(*dp);
    });
}

void StartHead(WaveDevice &d)
{
    d.moving = true;
    d.run_start = Now();
    ++d.epoch;
    SoundSession &s = SessionOf(d);
    if (!s.ran) {
        s.ran = true;
        Emit("stream", {{"dir", Dir(d.out)}, {"state", "running"}, {"reason", "started"}});
    }
    Schedule(d);
}

// Starts the oldest buffer if the device is running and idle.
void Kick(WaveDevice &d)
{
    if (!d.halted && !d.moving && !d.queue.empty())
        StartHead(d);
}

void CompleteHead(WaveDevice &d)
{
    Progress(d, g_sink ? d.run_start + MsFor(d, FramesOf(d, d.queue.front()) - d.head_done) : Now());
    d.moving = false;
    ++d.epoch;
    Finish(d);
    if (!d.queue.empty()) {
        StartHead(d);
    } else if (d.out) {
        ++g_underruns;  // playing, and nothing left to play
    } else {
        ++g_overruns;   // recording, and nowhere to put what the microphone hears
    }
}

// Stops the oldest buffer where it is; what it played or recorded so far is kept.
void Halt(WaveDevice &d)
{
    if (d.moving) {
        Progress(d, g_sink ? d.run_start : Now());
        d.moving = false;
        ++d.epoch;
    }
}

// Every queued buffer comes back done, with a notice each, in queue order.
void ReturnAll(WaveDevice &d)
{
    Halt(d);
    while (!d.queue.empty())
        Finish(d);
}

bool FormatTakes(const WAVEFORMATEX *f)
{
    // Only the PCMWAVEFORMAT members are read: for PCM there is no cbSize to look at.
    if (f->wFormatTag != WAVE_FORMAT_PCM || f->nChannels < 1 || f->nChannels > 2)
        return false;
    if (f->wBitsPerSample != 8 && f->wBitsPerSample != 16)
        return false;
    static const DWORD rates[] = {8000, 11025, 22050, 44100, 48000};
    bool known = false;
    for (DWORD r : rates)
        known = known || f->nSamplesPerSec == r;
    // A card without the speakerphone's format plays only its own high rates.
    return known && (g_format || f->nSamplesPerSec >= 44100);
}

MMRESULT Open(PlatformCall &platform_call, bool out, uintptr_t *handle_out, UINT device_id,
              const WAVEFORMATEX *format, DWORD_PTR callback, DWORD flags)
{
    const char *call = platform_call.name();
    auto refuse = [&](MMRESULT r, const char *reason) {
        Emit("stream", {{"dir", Dir(out)}, {"state", "closed"}, {"reason", reason}});
        return Logged(call, 0, nullptr, r);
    };
    if (auto e = platform_call.Fault())
        return refuse(*e, out ? "waveOutOpen refused" : "waveInOpen refused");
    bool query = flags & WAVE_FORMAT_QUERY;
    if (!handle_out && !query)
        return Logged(call, 0, nullptr, MMSYSERR_INVALPARAM);
    if (!(out ? g_output : g_input))
        return refuse(device_id == WAVE_MAPPER ? MMSYSERR_NODRIVER : MMSYSERR_BADDEVICEID, "no device");
    if (device_id != WAVE_MAPPER && device_id != 0)
        return Logged(call, 0, nullptr, MMSYSERR_BADDEVICEID);
    if (!format)
        return Logged(call, 0, nullptr, MMSYSERR_INVALPARAM);
    DWORD type = flags & CALLBACK_TYPEMASK;
    if (type != CALLBACK_NULL && type != CALLBACK_WINDOW)
        return Logged(call, 0, nullptr, MMSYSERR_NOTSUPPORTED);
    if (type == CALLBACK_WINDOW && callback && !g_sink && !FindWin((HWND)callback))
        return Logged(call, 0, nullptr, MMSYSERR_INVALPARAM);
    if (!FormatTakes(format))
        return refuse(WAVERR_BADFORMAT, "format refused");
    if (query)
        return Logged(call, 0, nullptr, MMSYSERR_NOERROR);  // nothing opened, no notice, no handle

    // The first free device of the direction; its handle is the same every time it is opened.
    WaveDevice *d = nullptr;
    int slot = 0;
    for (auto &candidate : g_devices) {
        if (candidate->out != out)
            continue;
        if (!candidate->open) {
            d = candidate.get();
            break;
        }
        ++slot;
    }
    if (!d) {
        g_devices.push_back(std::make_unique<WaveDevice>());
        d = g_devices.back().get();
        d->out = out;
        d->handle = (out ? 0xC000 : 0x8000) | (uintptr_t)slot;
    }
    d->open = true;
    d->callback_type = type;
    d->callback = callback;
    d->rate = (int)format->nSamplesPerSec;
    d->channels = format->nChannels;
    d->bits = format->wBitsPerSample;
    d->block_align = d->channels * d->bits / 8;  // the card trusts the members it can compute
    d->queue.clear();
    d->halted = !out;  // output plays as soon as it has buffers; input waits for waveInStart
    d->moving = false;
    d->head_done = 0;
    ++d->epoch;
    SoundSession s;
    s.out = out;
    s.id = ++g_opens[out];
    s.opened = Now();
    g_sessions[out].push_back(std::move(s));
    d->session = g_sessions[out].size() - 1;
    d->held = Acquire(out ? "waveout" : "wavein", device_id == WAVE_MAPPER ? "WAVE_MAPPER" : "device 0",
                      {{"handle", HandleText(d->handle)}});
    *handle_out = d->handle;
    Notify(*d, out ? MM_WOM_OPEN : MM_WIM_OPEN, nullptr);
    return Logged(call, d->handle, nullptr, MMSYSERR_NOERROR);
}

MMRESULT Close(PlatformCall &platform_call, bool out, uintptr_t handle)
{
    const char *call = platform_call.name();
    WaveDevice *d = Lookup(handle, out);
    if (auto e = platform_call.Fault()) {
        if (d)
            ReleaseRefused(d->held, platform_call);
        return Refused(d, call, nullptr, *e);
    }
    if (!d)
        return Logged(call, handle, nullptr, MMSYSERR_INVALHANDLE);
    if (!d->queue.empty())
        return Logged(call, handle, nullptr, WAVERR_STILLPLAYING);
    Halt(*d);
    d->open = false;
    Release(d->held);
    ++d->epoch;
    SoundSession &s = SessionOf(*d);
    s.closed = Now();
    const char *reason = !s.refusal.empty() ? s.refusal.c_str() : s.ran ? "stopped" : "closed before running";
    Emit("stream", {{"dir", Dir(out)}, {"state", "closed"}, {"reason", reason}});
    Notify(*d, out ? MM_WOM_CLOSE : MM_WIM_CLOSE, nullptr);
    return Logged(call, handle, nullptr, MMSYSERR_NOERROR);
}

MMRESULT Prepare(PlatformCall &platform_call, bool out, uintptr_t handle, WAVEHDR *h, UINT size)
{
    const char *call = platform_call.name();
    WaveDevice *d = Lookup(handle, out);
    if (auto e = platform_call.Fault())
        return Refused(d, call, h, *e);
    if (!d)
        return Logged(call, handle, h, MMSYSERR_INVALHANDLE);
    if (!h || size < sizeof(WAVEHDR))
        return Logged(call, handle, h, MMSYSERR_INVALPARAM);
    // Preparing a prepared header does nothing; otherwise the header starts afresh.
    if (!(h->dwFlags & WHDR_PREPARED)) {
        h->dwFlags = WHDR_PREPARED;
        auto old = g_prepared.find(h);
        if (old != g_prepared.end())
            Release(old->second);  // its flags were cleared by hand: the header is prepared once
        g_prepared[h] = Acquire("header", std::to_string(h->dwBufferLength) + " bytes",
                                {{"device", HandleText(handle)}, {"size", h->dwBufferLength}});
    }
    return Logged(call, handle, h, MMSYSERR_NOERROR);
}

MMRESULT Unprepare(PlatformCall &platform_call, bool out, uintptr_t handle, WAVEHDR *h, UINT size)
{
    const char *call = platform_call.name();
    WaveDevice *d = Lookup(handle, out);
    if (auto e = platform_call.Fault()) {
        auto prepared = g_prepared.find(h);
        if (prepared != g_prepared.end())
            ReleaseRefused(prepared->second, platform_call);
        return Refused(d, call, h, *e);
    }
    if (!d)
        return Logged(call, handle, h, MMSYSERR_INVALHANDLE);
    if (!h || size < sizeof(WAVEHDR))
        return Logged(call, handle, h, MMSYSERR_INVALPARAM);
    if (!(h->dwFlags & WHDR_PREPARED))
        return Logged(call, handle, h, MMSYSERR_NOERROR);
    if (h->dwFlags & WHDR_INQUEUE)
        return Logged(call, handle, h, WAVERR_STILLPLAYING);
    h->dwFlags &= ~WHDR_PREPARED;
    auto prepared = g_prepared.find(h);
    if (prepared != g_prepared.end()) {
        Release(prepared->second);
        g_prepared.erase(prepared);
    }
    return Logged(call, handle, h, MMSYSERR_NOERROR);
}

MMRESULT Queue(PlatformCall &platform_call, bool out, uintptr_t handle, WAVEHDR *h, UINT size)
{
    const char *call = platform_call.name();
    WaveDevice *d = Lookup(handle, out);
    if (auto e = platform_call.Fault())
        return Refused(d, call, h, *e);
    if (!d)
        return Logged(call, handle, h, MMSYSERR_INVALHANDLE);
    if (!h || size < sizeof(WAVEHDR))
        return Logged(call, handle, h, MMSYSERR_INVALPARAM);
    if (!h->lpData || !(h->dwFlags & WHDR_PREPARED))
        return Logged(call, handle, h, WAVERR_UNPREPARED);
    if (h->dwFlags & WHDR_INQUEUE)
        return Logged(call, handle, h, WAVERR_STILLPLAYING);
    if (!d->queue.empty())
        d->queue.back()->lpNext = h;
    h->lpNext = nullptr;
    if (!out)
        h->dwBytesRecorded = 0;
    h->dwFlags &= ~WHDR_DONE;
    h->dwFlags |= WHDR_INQUEUE;
    d->queue.push_back(h);
    Kick(*d);
    return Logged(call, handle, h, MMSYSERR_NOERROR);
}

// waveOutPause, waveOutRestart, waveOutReset, waveInStart, waveInStop, waveInReset.
enum Op { Pause, Restart, Reset, Start, Stop };

MMRESULT Control(PlatformCall &platform_call, bool out, uintptr_t handle, Op what)
{
    const char *call = platform_call.name();
    WaveDevice *d = Lookup(handle, out);
    if (auto e = platform_call.Fault())
        return Refused(d, call, nullptr, *e);
    if (!d)
        return Logged(call, handle, nullptr, MMSYSERR_INVALHANDLE);
    switch (what) {
    case Pause:
        Halt(*d);
        d->halted = true;
        break;
    case Restart:
    case Start:
        d->halted = false;
        Kick(*d);
        break;
    case Stop:
        // The buffer being filled comes back with what it holds; empty ones stay queued.
        Halt(*d);
        d->halted = true;
        if (!d->queue.empty() && d->head_done > 0)
            Finish(*d);
        break;
    case Reset:
        ReturnAll(*d);
        if (!out)
            d->halted = true;
        break;
    }
    return Logged(call, handle, nullptr, MMSYSERR_NOERROR);
}

struct Guard {
    Guard()
    {
        YieldPoint();
        g_mu.lock();
    }
    ~Guard() { g_mu.unlock(); }
};

}  // namespace

void SoundConfigure(bool output, bool input, bool format)
{
    g_output = output;
    g_input = input;
    g_format = format;
}

void SoundSetMic(const Signal &mic) { g_mic = mic; }

const std::vector<SoundSession> &SoundSessions(bool out) { return g_sessions[out]; }
uint64_t SoundOpenCount(bool out) { return g_opens[out]; }
bool SoundDeviceOpen(bool out)
{
    for (auto &d : g_devices)
        if (d->out == out && d->open)
            return true;
    return false;
}
int SoundUnderruns() { return g_underruns; }
int SoundOverruns() { return g_overruns; }
int64_t SoundFrames(bool out) { return g_frames[out]; }
size_t SoundQueued(bool out)
{
    size_t n = 0;
    for (auto &d : g_devices)
        if (d->out == out && d->open)
            n += d->queue.size();
    return n;
}
void SoundKeepCalls(bool keep) { g_keep_calls = keep; }
const std::vector<SoundCall> &SoundCalls() { return g_calls; }

void SoundSetNoticeSink(std::function<void(HWND, UINT, WPARAM, LPARAM)> sink) { g_sink = std::move(sink); }

int SoundCompleteOldest(bool out)
{
    std::lock_guard<std::recursive_mutex> lock(g_mu);
    int n = 0;
    for (auto &d : g_devices) {
        if (d->out == out && d->open && d->moving) {
            CompleteHead(*d);
            ++n;
        }
    }
    return n;
}

}  // namespace sim

using namespace sim;

extern "C" {

MMRESULT WINAPI waveOutOpen(LPHWAVEOUT phwo, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                            DWORD_PTR dwInstance, DWORD fdwOpen)
{
    PlatformCall call("waveOutOpen");
    Guard guard;
    uintptr_t handle = 0;
    MMRESULT r = Open(call, true, phwo ? &handle : nullptr, uDeviceID, pwfx, dwCallback, fdwOpen);
    if (r == MMSYSERR_NOERROR && phwo && !(fdwOpen & WAVE_FORMAT_QUERY))
        *phwo = (HWAVEOUT)handle;
    return r;
}

MMRESULT WINAPI waveOutClose(HWAVEOUT hwo)
{
    PlatformCall call("waveOutClose");
    Guard guard;
    return Close(call, true, (uintptr_t)hwo);
}

MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh)
{
    PlatformCall call("waveOutPrepareHeader");
    Guard guard;
    return Prepare(call, true, (uintptr_t)hwo, pwh, cbwh);
}

MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh)
{
    PlatformCall call("waveOutUnprepareHeader");
    Guard guard;
    return Unprepare(call, true, (uintptr_t)hwo, pwh, cbwh);
}

MMRESULT WINAPI waveOutWrite(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh)
{
    PlatformCall call("waveOutWrite");
    Guard guard;
    return Queue(call, true, (uintptr_t)hwo, pwh, cbwh);
}

MMRESULT WINAPI waveOutPause(HWAVEOUT hwo)
{
    PlatformCall call("waveOutPause");
    Guard guard;
    return Control(call, true, (uintptr_t)hwo, Pause);
}

MMRESULT WINAPI waveOutRestart(HWAVEOUT hwo)
{
    PlatformCall call("waveOutRestart");
    Guard guard;
    return Control(call, true, (uintptr_t)hwo, Restart);
}

MMRESULT WINAPI waveOutReset(HWAVEOUT hwo)
{
    PlatformCall call("waveOutReset");
    Guard guard;
    return Control(call, true, (uintptr_t)hwo, Reset);
}

MMRESULT WINAPI waveInOpen(LPHWAVEIN phwi, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                           DWORD_PTR dwInstance, DWORD fdwOpen)
{
    PlatformCall call("waveInOpen");
    Guard guard;
    uintptr_t handle = 0;
    MMRESULT r = Open(call, false, phwi ? &handle : nullptr, uDeviceID, pwfx, dwCallback, fdwOpen);
    if (r == MMSYSERR_NOERROR && phwi && !(fdwOpen & WAVE_FORMAT_QUERY))
        *phwi = (HWAVEIN)handle;
    return r;
}

MMRESULT WINAPI waveInClose(HWAVEIN hwi)
{
    PlatformCall call("waveInClose");
    Guard guard;
    return Close(call, false, (uintptr_t)hwi);
}

MMRESULT WINAPI waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh)
{
    PlatformCall call("waveInPrepareHeader");
    Guard guard;
    return Prepare(call, false, (uintptr_t)hwi, pwh, cbwh);
}

MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh)
{
    PlatformCall call("waveInUnprepareHeader");
    Guard guard;
    return Unprepare(call, false, (uintptr_t)hwi, pwh, cbwh);
}

MMRESULT WINAPI waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh)
{
    PlatformCall call("waveInAddBuffer");
    Guard guard;
    return Queue(call, false, (uintptr_t)hwi, pwh, cbwh);
}

MMRESULT WINAPI waveInStart(HWAVEIN hwi)
{
    PlatformCall call("waveInStart");
    Guard guard;
    return Control(call, false, (uintptr_t)hwi, Start);
}

MMRESULT WINAPI waveInStop(HWAVEIN hwi)
{
    PlatformCall call("waveInStop");
    Guard guard;
    return Control(call, false, (uintptr_t)hwi, Stop);
}

MMRESULT WINAPI waveInReset(HWAVEIN hwi)
{
    PlatformCall call("waveInReset");
    Guard guard;
    return Control(call, false, (uintptr_t)hwi, Reset);
}

}  // extern "C"
