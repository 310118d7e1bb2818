// The sound card double (world/sound_card.cpp, its wave API in win32/winmm.cpp), the signals of the line
// and the microphone (signal.cpp) and the driver double's speakerphone side (driver_speaker.cpp), as the
// rest of the world sees them.
#ifndef SIM_SOUND_H
#define SIM_SOUND_H

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scenario.h"
#include "world.h"

namespace sim {

// ---- signals: what the far end says and what the microphone hears ----
constexpr int kSpeakerRate = 8000;  // the speakerphone's sample rate
// Reads a WAV file's samples into the signal; throws ScenarioError naming `key` when it cannot.
void LoadSignal(Signal &signal, const std::string &scenario_file, const std::string &key);
// A scenario file with the signals its driver.line and driver.mic name loaded (the Wine harness's
// tools read both); throws ScenarioError naming the file, line and key when it cannot.
Scenario LoadScenarioWithSignals(const std::string &path);
// Sample n (n >= 0) of the signal at 8 kHz, 16-bit: the same value every time it is asked for.
int16_t SignalSample(const Signal &signal, int64_t n);
// The number of samples after which the signal says the same again (a loaded WAV file: its length).
int64_t SignalPeriod(const Signal &signal);
// The sequence's period, and where in it a sample stands (-1 for 0, which it never says).
constexpr int64_t kSequencePeriod = 65535;
int64_t SequencePosition(int16_t sample);
// Writes 16-bit mono samples at 8 kHz as a WAV file; false (and a message on stderr) on failure.
bool WriteWav(const std::string &path, const std::vector<int16_t> &samples);

// ---- the sound card double ----
// What the machine has: an output device, an input device, and whether they take 8 kHz 16-bit mono.
void SoundConfigure(bool output, bool input, bool format);
void SoundSetMic(const Signal &mic);

// One open-to-close span of a device: what it played or captured (16-bit, first channel).
struct SoundSession {
    bool out = true;
    uint64_t id = 0;            // 1 for the first successful open of that direction, then 2, ...
    Ms opened = 0, closed = -1;  // closed -1 while open
    bool ran = false;           // moved any sample
    std::vector<int16_t> samples;
    int64_t mic_start = -1;     // input: microphone sample index where the first buffer began
    std::string start_refusal;  // the first call refused before it ran (why its start failed), if any
    std::string refusal;        // the last refused call, until a buffer is queued or the device started
    Ms refusal_at = -1;
};
const std::vector<SoundSession> &SoundSessions(bool out);
uint64_t SoundOpenCount(bool out);  // successful opens so far: the id of the newest session
bool SoundDeviceOpen(bool out);     // a device of that direction is open now
int SoundUnderruns();               // times an output device ran out of queued buffers while playing
int SoundOverruns();                // times an input device ran out of queued buffers while started
int64_t SoundFrames(bool out);      // frames played / captured over the whole run
size_t SoundQueued(bool out);       // buffers queued on the open devices of that direction

// Every wave call, when asked for (tests): the call, the device, the header and the result.
struct SoundCall {
    std::string call;
    uintptr_t device = 0;
    const WAVEHDR *header = nullptr;
    MMRESULT result = 0;
};
void SoundKeepCalls(bool keep);
const std::vector<SoundCall> &SoundCalls();

// Free-running mode, for program threads the world does not schedule (stress tests): notices go to
// `sink` instead of a window's queue, buffers complete only when SoundCompleteOldest is called, and
// every wave call is made safe to call from several threads at once. Set before any device opens.
void SoundSetNoticeSink(std::function<void(HWND, UINT, WPARAM, LPARAM)> sink);
// Completes the oldest queued buffer of every running device of that direction; returns how many.
int SoundCompleteOldest(bool out);

// ---- the driver double's speakerphone side (driver_speaker.cpp) ----
// The rings of the block: buffers, samples per buffer, buffers the device holds at a time.
constexpr int kPlayBuffers = 8, kPlaySamples = 1024, kPlayQueued = 4;
constexpr int kRecBuffers = 16, kRecSamples = 512, kRecQueued = 2;
// A playback start queues four zeroed buffers before the first one the driver has filled.
constexpr int64_t kStartSilence = (int64_t)kPlayQueued * kPlaySamples;
void SpeakerSetLine(const Signal &line);  // what the far end says; the driver works from then on
// Each playback start the driver saw: when, and the line sample its first filled buffer carries.
struct SpeakerFed {
    Ms seen;
    int64_t line_start;
};
const std::vector<SpeakerFed> &SpeakerFeeds();
// Each record start the driver saw: when, the number of the first buffer it took, and where that
// start's samples begin in SpeakerLineOut.
struct SpeakerTaken {
    Ms seen;
    int64_t first_buffer;
    size_t begin;
};
const std::vector<SpeakerTaken> &SpeakerTakes();
// What the driver took from the record area, in order: what the far end hears.
const std::vector<int16_t> &SpeakerLineOut();

// ---- the end-of-run report (audio_report.cpp) ----
// The line and the microphone for the driver and the card, and where to write what was heard.
void SpeakerConfigure(const Signal &line, const Signal &mic, const std::string &wav_speaker,
                      const std::string &wav_line);
// The end-of-run figures, as the "audio" trace event carries them.
Json SpeakerAudioSummary();

}  // namespace sim

#endif
