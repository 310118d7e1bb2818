// The sound card double: the model of the devices behind WAVE_MAPPER (sound_card.h), the sessions
// it records and the figures it counts, and the Sound* accessors the rest of the world reads
// (sound.h). The wave API's checks and entry points are in win32/winmm.cpp.
//
// Header flags move as the real API moves them: completion clears WHDR_INQUEUE and sets WHDR_DONE.
// Output plays from the moment it has buffers; the microphone speaks in real time.
#include "sound_card.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "user32.h"

namespace sim::card {

namespace {

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
std::function<void(HWND, UINT, WPARAM, LPARAM)> g_sink;

}  // namespace

std::recursive_mutex &Mutex() { return g_mu; }
bool FreeRunning() { return (bool)g_sink; }
bool Present(bool out) { return out ? g_output : g_input; }

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

void Notify(WaveDevice &d, UINT msg, const WAVEHDR *header)
{
    if (g_sink) {
        g_sink((HWND)d.callback, msg, (WPARAM)d.handle, (LPARAM)header);
        return;
    }
    if (d.callback_type == CALLBACK_WINDOW)
        PostFromWorld((HWND)d.callback, msg, (WPARAM)d.handle, (LPARAM)header);
}

namespace {

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

}  // namespace

void Finish(WaveDevice &d)
{
    WAVEHDR *h = d.queue.front();
    d.queue.pop_front();
    d.head_done = 0;
    h->dwFlags &= ~WHDR_INQUEUE;
    h->dwFlags |= WHDR_DONE;
    Notify(d, d.out ? MM_WOM_DONE : MM_WIM_DATA, h);
}

namespace {

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

}  // namespace

void Kick(WaveDevice &d)
{
    if (!d.halted && !d.moving && !d.queue.empty())
        StartHead(d);
}

namespace {

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

}  // namespace

void Halt(WaveDevice &d)
{
    if (d.moving) {
        Progress(d, g_sink ? d.run_start : Now());
        d.moving = false;
        ++d.epoch;
    }
}

void ReturnAll(WaveDevice &d)
{
    Halt(d);
    while (!d.queue.empty())
        Finish(d);
}


WaveDevice &OpenDevice(bool out, DWORD type, DWORD_PTR callback, const WAVEFORMATEX *format)
{
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
    Notify(*d, out ? MM_WOM_OPEN : MM_WIM_OPEN, nullptr);
    return *d;
}

}  // namespace sim::card

namespace sim {

using namespace card;

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
