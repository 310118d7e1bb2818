// winmm: the wave audio calls the program makes, with the checks and error codes of the real API, in
// front of the sound card double (world/sound_card.cpp), which plays and records in virtual time.
//
// Header flags move as the real API moves them: prepare sets WHDR_PREPARED, a write or add sets
// WHDR_INQUEUE and clears WHDR_DONE, completion clears WHDR_INQUEUE and sets WHDR_DONE, unprepare
// clears WHDR_PREPARED.
#include "sound_card.h"

#include <string>

#include "user32.h"

namespace sim {

namespace {

using namespace card;

// A refused call is remembered by the device's session: it is why the stream ended, if it ends.
MMRESULT Refused(WaveDevice *d, const char *call, const WAVEHDR *header, MMRESULT result)
{
    if (d && result != MMSYSERR_NOERROR)
        SessionOf(*d).refusal = std::string(call) + " refused";
    return Logged(call, d ? d->handle : 0, header, result);
}

MMRESULT Open(bool out, uintptr_t *handle_out, UINT device_id, const WAVEFORMATEX *format, DWORD_PTR callback,
              DWORD flags)
{
    const char *call = out ? "waveOutOpen" : "waveInOpen";
    auto refuse = [&](MMRESULT r, const char *reason) {
        Emit("stream", {{"dir", Dir(out)}, {"state", "closed"}, {"reason", reason}});
        return Logged(call, 0, nullptr, r);
    };
    if (auto e = Fault(call))
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
    *handle_out = d->handle;
    return Logged(call, d->handle, nullptr, MMSYSERR_NOERROR);
}

MMRESULT Close(bool out, uintptr_t handle)
{
    const char *call = out ? "waveOutClose" : "waveInClose";
    WaveDevice *d = Lookup(handle, out);
    if (auto e = Fault(call))
        return Refused(d, call, nullptr, *e);
    if (!d)
        return Logged(call, handle, nullptr, MMSYSERR_INVALHANDLE);
    if (!d->queue.empty())
        return Logged(call, handle, nullptr, WAVERR_STILLPLAYING);
    Halt(*d);
    d->open = false;
    ++d->epoch;
    SoundSession &s = SessionOf(*d);
    s.closed = Now();
    const char *reason = !s.refusal.empty() ? s.refusal.c_str() : s.ran ? "stopped" : "closed before running";
    Emit("stream", {{"dir", Dir(out)}, {"state", "closed"}, {"reason", reason}});
    Notify(*d, out ? MM_WOM_CLOSE : MM_WIM_CLOSE, nullptr);
    return Logged(call, handle, nullptr, MMSYSERR_NOERROR);
}

MMRESULT Prepare(bool out, uintptr_t handle, WAVEHDR *h, UINT size)
{
    const char *call = out ? "waveOutPrepareHeader" : "waveInPrepareHeader";
    WaveDevice *d = Lookup(handle, out);
    if (auto e = Fault(call))
        return Refused(d, call, h, *e);
    if (!d)
        return Logged(call, handle, h, MMSYSERR_INVALHANDLE);
    if (!h || size < sizeof(WAVEHDR))
        return Logged(call, handle, h, MMSYSERR_INVALPARAM);
    // Preparing a prepared header does nothing; otherwise the header starts afresh.
    if (!(h->dwFlags & WHDR_PREPARED))
        h->dwFlags = WHDR_PREPARED;
    return Logged(call, handle, h, MMSYSERR_NOERROR);
}

MMRESULT Unprepare(bool out, uintptr_t handle, WAVEHDR *h, UINT size)
{
    const char *call = out ? "waveOutUnprepareHeader" : "waveInUnprepareHeader";
    WaveDevice *d = Lookup(handle, out);
    if (auto e = Fault(call))
        return Refused(d, call, h, *e);
    if (!d)
        return Logged(call, handle, h, MMSYSERR_INVALHANDLE);
    if (!h || size < sizeof(WAVEHDR))
        return Logged(call, handle, h, MMSYSERR_INVALPARAM);
    if (!(h->dwFlags & WHDR_PREPARED))
        return Logged(call, handle, h, MMSYSERR_NOERROR);
    if (h->dwFlags & WHDR_INQUEUE)
        return Logged(call, handle, h, WAVERR_STILLPLAYING);
    h->dwFlags &= ~WHDR_PREPARED;
    return Logged(call, handle, h, MMSYSERR_NOERROR);
}

MMRESULT Queue(bool out, uintptr_t handle, WAVEHDR *h, UINT size)
{
    const char *call = out ? "waveOutWrite" : "waveInAddBuffer";
    WaveDevice *d = Lookup(handle, out);
    if (auto e = Fault(call))
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

MMRESULT Control(bool out, uintptr_t handle, Op what, const char *call)
{
    WaveDevice *d = Lookup(handle, out);
    if (auto e = Fault(call))
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
    Guard guard;
    uintptr_t handle = 0;
    MMRESULT r = Open(true, phwo ? &handle : nullptr, uDeviceID, pwfx, dwCallback, fdwOpen);
    if (r == MMSYSERR_NOERROR && phwo && !(fdwOpen & WAVE_FORMAT_QUERY))
        *phwo = (HWAVEOUT)handle;
    return r;
}

MMRESULT WINAPI waveOutClose(HWAVEOUT hwo)
{
    Guard guard;
    return Close(true, (uintptr_t)hwo);
}

MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh)
{
    Guard guard;
    return Prepare(true, (uintptr_t)hwo, pwh, cbwh);
}

MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh)
{
    Guard guard;
    return Unprepare(true, (uintptr_t)hwo, pwh, cbwh);
}

MMRESULT WINAPI waveOutWrite(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh)
{
    Guard guard;
    return Queue(true, (uintptr_t)hwo, pwh, cbwh);
}

MMRESULT WINAPI waveOutPause(HWAVEOUT hwo)
{
    Guard guard;
    return Control(true, (uintptr_t)hwo, Pause, "waveOutPause");
}

MMRESULT WINAPI waveOutRestart(HWAVEOUT hwo)
{
    Guard guard;
    return Control(true, (uintptr_t)hwo, Restart, "waveOutRestart");
}

MMRESULT WINAPI waveOutReset(HWAVEOUT hwo)
{
    Guard guard;
    return Control(true, (uintptr_t)hwo, Reset, "waveOutReset");
}

MMRESULT WINAPI waveInOpen(LPHWAVEIN phwi, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                           DWORD_PTR dwInstance, DWORD fdwOpen)
{
    Guard guard;
    uintptr_t handle = 0;
    MMRESULT r = Open(false, phwi ? &handle : nullptr, uDeviceID, pwfx, dwCallback, fdwOpen);
    if (r == MMSYSERR_NOERROR && phwi && !(fdwOpen & WAVE_FORMAT_QUERY))
        *phwi = (HWAVEIN)handle;
    return r;
}

MMRESULT WINAPI waveInClose(HWAVEIN hwi)
{
    Guard guard;
    return Close(false, (uintptr_t)hwi);
}

MMRESULT WINAPI waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh)
{
    Guard guard;
    return Prepare(false, (uintptr_t)hwi, pwh, cbwh);
}

MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh)
{
    Guard guard;
    return Unprepare(false, (uintptr_t)hwi, pwh, cbwh);
}

MMRESULT WINAPI waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh)
{
    Guard guard;
    return Queue(false, (uintptr_t)hwi, pwh, cbwh);
}

MMRESULT WINAPI waveInStart(HWAVEIN hwi)
{
    Guard guard;
    return Control(false, (uintptr_t)hwi, Start, "waveInStart");
}

MMRESULT WINAPI waveInStop(HWAVEIN hwi)
{
    Guard guard;
    return Control(false, (uintptr_t)hwi, Stop, "waveInStop");
}

MMRESULT WINAPI waveInReset(HWAVEIN hwi)
{
    Guard guard;
    return Control(false, (uintptr_t)hwi, Reset, "waveInReset");
}

}  // extern "C"
