// The sound card double's model, for the winmm area that puts the wave API in front of it (internal to
// sim/: the rest of the world sees the card through sound.h).
//
// The card has one output and one input device behind WAVE_MAPPER. A device plays (or records) its
// queued buffers one after the other in virtual time; when a buffer is finished its header is marked
// done and a notice goes to the callback window, in queue order. Handles are reused when a device is
// opened again, as the real ones are, so a notice's handle alone does not tell an old device from the
// new one.
#ifndef SIM_SOUND_CARD_H
#define SIM_SOUND_CARD_H

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <deque>
#include <mutex>

#include "sound.h"

namespace sim::card {

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
};

// Held by every wave call: the free-running mode calls from several threads.
std::recursive_mutex &Mutex();
// Notices go to the free-running sink, not to windows (see SoundSetNoticeSink).
bool FreeRunning();
// The machine has a device of that direction.
bool Present(bool out);
// The card plays or records this format.
bool FormatTakes(const WAVEFORMATEX *f);

const char *Dir(bool out);
SoundSession &SessionOf(WaveDevice &d);
WaveDevice *Lookup(uintptr_t handle, bool out);  // an open device with that handle, or null
// Opens the first free device of the direction (its handle the same every time) for this format
// and callback, with a new session; the open notice goes out.
WaveDevice &OpenDevice(bool out, DWORD callback_type, DWORD_PTR callback, const WAVEFORMATEX *format);

void Notify(WaveDevice &d, UINT msg, const WAVEHDR *header);
// Takes the oldest buffer off the queue as done and tells the callback.
void Finish(WaveDevice &d);
// Starts the oldest buffer if the device is running and idle.
void Kick(WaveDevice &d);
// Stops the oldest buffer where it is; what it played or recorded so far is kept.
void Halt(WaveDevice &d);
// Every queued buffer comes back done, with a notice each, in queue order.
void ReturnAll(WaveDevice &d);

// Every wave call, for SoundCalls when the tests keep them; returns `result`.
MMRESULT Logged(const char *call, uintptr_t device, const WAVEHDR *header, MMRESULT result);

}  // namespace sim::card

#endif
