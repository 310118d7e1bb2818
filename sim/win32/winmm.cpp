// winmm: the wave audio calls the program makes, with the checks and error codes of the real API, in
// front of the sound card double (world/sound_card.cpp), which plays and records in virtual time.
//
// Header flags move as the real API moves them: prepare sets WHDR_PREPARED, a write or add sets
// WHDR_INQUEUE and clears WHDR_DONE, completion clears WHDR_INQUEUE and sets WHDR_DONE, unprepare
// clears WHDR_PREPARED.
#include "sound_card.h"

#include <map>
#include <string>
#include <utility>

#include "user32.h"

namespace sim {

namespace {

using namespace card;

// In the account of what the program holds: the open devices, by direction and handle, and the
// prepared headers, each with the opening of the device that prepared it (a handle is given again to
// the next opening once its device is closed).
struct PreparedHeader {
    HeldTicket held = 0;
    bool out = true;
    size_t session = 0;
};
std::map<std::pair<bool, uintptr_t>, HeldTicket> g_open_held;
std::map<const WAVEHDR *, PreparedHeader> g_prepared;

// Why a stream closes, as the card can tell it: a call refused before the stream ever ran is why its
// start failed; a refusal the program answers with the close, in the same moment and with nothing
// queued or started since, is why it closed then; otherwise the program stopped it.
MMRESULT Refused(WaveDevice *d, const char *call, const WAVEHDR *header, MMRESULT result)
{
    if (d && result != MMSYSERR_NOERROR) {
        SoundSession &s = SessionOf(*d);
        s.refusal = std::string(call) + " refused";
        s.refusal_at = Now();
        if (!s.ran && s.start_refusal.empty())
            s.start_refusal = s.refusal;
    }
    return Logged(call, d ? d->handle : 0, header, result);
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
    if (!Present(out))
        return refuse(device_id == WAVE_MAPPER ? MMSYSERR_NODRIVER : MMSYSERR_BADDEVICEID, "no device");
    if (device_id != WAVE_MAPPER && device_id != 0)
        return Logged(call, 0, nullptr, MMSYSERR_BADDEVICEID);
    if (!format)
        return Logged(call, 0, nullptr, MMSYSERR_INVALPARAM);
    DWORD type = flags & CALLBACK_TYPEMASK;
    if (type != CALLBACK_NULL && type != CALLBACK_WINDOW)
        return Logged(call, 0, nullptr, MMSYSERR_NOTSUPPORTED);
    if (type == CALLBACK_WINDOW && callback && !FreeRunning() && !FindWin((HWND)callback))
        return Logged(call, 0, nullptr, MMSYSERR_INVALPARAM);
    if (!FormatTakes(format))
        return refuse(WAVERR_BADFORMAT, "format refused");
    if (query)
        return Logged(call, 0, nullptr, MMSYSERR_NOERROR);  // nothing opened, no notice, no handle

    WaveDevice *d = &OpenDevice(out, type, callback, format);
    const char *name = device_id == WAVE_MAPPER ? "WAVE_MAPPER" : "device 0";
    g_open_held[{out, d->handle}] = Acquire(out ? "waveout" : "wavein", name, {{"handle", HandleText(d->handle)}});
    *handle_out = d->handle;
    return Logged(call, d->handle, nullptr, MMSYSERR_NOERROR);
}

MMRESULT Close(PlatformCall &platform_call, bool out, uintptr_t handle)
{
    const char *call = platform_call.name();
    WaveDevice *d = Lookup(handle, out);
    if (auto e = platform_call.Fault()) {
        auto held = g_open_held.find({out, handle});
        if (d && held != g_open_held.end())
            ReleaseRefused(held->second, platform_call);
        return Refused(d, call, nullptr, *e);
    }
    if (!d)
        return Logged(call, handle, nullptr, MMSYSERR_INVALHANDLE);
    if (!d->queue.empty())
        return Logged(call, handle, nullptr, WAVERR_STILLPLAYING);
    Halt(*d);
    d->open = false;
    Release(g_open_held[{out, handle}]);
    g_open_held.erase({out, handle});
    ++d->epoch;
    SoundSession &s = SessionOf(*d);
    s.closed = Now();
    std::string reason = !s.start_refusal.empty()                         ? s.start_refusal
                         : !s.refusal.empty() && s.refusal_at == Now() ? s.refusal
                         : s.ran                                         ? "stopped"
                                                                         : "closed before running";
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
    // A header comes to be prepared with its flags zero, but for the loop flags. Preparing one this
    // very opening of the device prepared does nothing, as documented. Anything else is the program's
    // fault, reported ("misuse") and answered as Windows answers it: a header still flagged prepared
    // by another device, or by an opening since closed, is left as it is and returns 0, so it goes to
    // this device with another's preparation; WHDR_DONE or WHDR_INQUEUE left from its last use is
    // cleared, as Windows 2000 and Wine clear it.
    auto known = g_prepared.find(h);
    bool by_this = known != g_prepared.end() && known->second.out == out && known->second.session == d->session;
    if (h->dwFlags & WHDR_PREPARED) {
        if (!by_this)
            Emit("misuse", {{"call", call}, {"kind", "header"}, {"state", "prepared-elsewhere"}});
        return Logged(call, handle, h, MMSYSERR_NOERROR);
    }
    if (h->dwFlags & ~(DWORD)(WHDR_BEGINLOOP | WHDR_ENDLOOP))
        Emit("misuse", {{"call", call}, {"kind", "header"}, {"state", "flags-left"}});
    h->dwFlags = (h->dwFlags | WHDR_PREPARED) & ~(DWORD)(WHDR_DONE | WHDR_INQUEUE);
    if (known != g_prepared.end())
        Release(known->second.held);  // its flags were cleared by hand: the header is prepared once
    g_prepared[h] = {Acquire("header", std::to_string(h->dwBufferLength) + " bytes",
                             {{"device", HandleText(handle)}, {"size", h->dwBufferLength}}),
                     out, d->session};
    return Logged(call, handle, h, MMSYSERR_NOERROR);
}

MMRESULT Unprepare(PlatformCall &platform_call, bool out, uintptr_t handle, WAVEHDR *h, UINT size)
{
    const char *call = platform_call.name();
    WaveDevice *d = Lookup(handle, out);
    if (auto e = platform_call.Fault()) {
        auto prepared = g_prepared.find(h);
        if (prepared != g_prepared.end())
            ReleaseRefused(prepared->second.held, platform_call);
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
        Release(prepared->second.held);
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
    SessionOf(*d).refusal.clear();  // the stream goes on
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
        SessionOf(*d).refusal.clear();
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
        Mutex().lock();
    }
    ~Guard() { Mutex().unlock(); }
};


}  // namespace

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
