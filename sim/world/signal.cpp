// The signals of the world's two sound sources: what the far end says down the line and what the
// microphone hears, as tones, counters, sequences, silence or WAV files, and the WAV files the runner
// writes.
#include "sound.h"

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <numeric>

namespace sim {

namespace {
std::map<std::string, std::vector<int16_t>> g_wav_cache;

// The sequence: the states of a 16-bit maximal-length Galois shift register (x^16 + x^14 + x^13 +
// x^11 + 1) from 0xACE1, each taken as a sample. Every non-zero 16-bit value comes once in each
// period of 65,535 samples and zero never, so a sample tells where in the period it stands: a
// silence, a lost, a repeated or a reordered sample shows.
const std::vector<int16_t> &SequenceTable()
{
    static const std::vector<int16_t> table = [] {
        std::vector<int16_t> t(kSequencePeriod);
        uint16_t state = 0xACE1;
        for (int64_t i = 0; i < kSequencePeriod; ++i) {
            t[(size_t)i] = (int16_t)state;
            state = (uint16_t)((state >> 1) ^ ((state & 1) ? 0xB400u : 0u));
        }
        return t;
    }();
    return table;
}
}  // namespace

int64_t SequencePosition(int16_t sample)
{
    static const std::vector<int32_t> where = [] {
        std::vector<int32_t> w(65536, -1);
        const std::vector<int16_t> &t = SequenceTable();
        for (size_t i = 0; i < t.size(); ++i)
            w[(uint16_t)t[i]] = (int32_t)i;
        return w;
    }();
    return where[(uint16_t)sample];
}

void LoadSignal(Signal &signal, const std::string &scenario_file, const std::string &key)
{
    if (signal.kind != Signal::Wav)
        return;
    // A relative path is relative to the scenario file.
    size_t slash = scenario_file.rfind('/');
    if (!signal.path.empty() && signal.path[0] != '/' && slash != std::string::npos)
        signal.path = scenario_file.substr(0, slash + 1) + signal.path;
    if (g_wav_cache.count(signal.path))
        return;
    std::string where = scenario_file + (signal.line > 0 ? ":" + std::to_string(signal.line) : "") + ": key '" + key + "'";
    SF_INFO info{};
    SNDFILE *f = sf_open(signal.path.c_str(), SFM_READ, &info);
    if (!f)
        throw ScenarioError(where + ": cannot read WAV file '" + signal.path + "': " + sf_strerror(nullptr));
    // The speakerphone's own format, and nothing else: a file of another rate, width or channel
    // count would be played at the wrong pace or converted on the way, which no sound card does here.
    if (info.samplerate != kSpeakerRate || info.channels != 1 || (info.format & SF_FORMAT_SUBMASK) != SF_FORMAT_PCM_16) {
        sf_close(f);
        throw ScenarioError(where + ": WAV file '" + signal.path + "' is " + std::to_string(info.samplerate) + " Hz, " +
                            std::to_string(info.channels) + " channel(s), format 0x" +
                            [&] {
                                char hex[16];
                                snprintf(hex, sizeof(hex), "%x", (unsigned)info.format);
                                return std::string(hex);
                            }() +
                            ": only 8000 Hz, 1 channel, 16-bit PCM");
    }
    std::vector<int16_t> mono((size_t)info.frames);
    sf_count_t got = sf_readf_short(f, mono.data(), info.frames);
    sf_close(f);
    mono.resize((size_t)(got < 0 ? 0 : got));
    g_wav_cache[signal.path] = std::move(mono);
}

Scenario LoadScenarioWithSignals(const std::string &path)
{
    Scenario s = LoadScenario(path);
    LoadSignal(s.line, s.file, "driver.line");
    LoadSignal(s.mic, s.file, "driver.mic");
    return s;
}

int16_t SignalSample(const Signal &signal, int64_t n)
{
    switch (signal.kind) {
    case Signal::Silence:
        return 0;
    case Signal::Counter:
        return (int16_t)(uint16_t)(n & 0xFFFF);
    case Signal::Sequence:
        return SequenceTable()[(size_t)(n % kSequencePeriod)];
    case Signal::Tone: {
        // The phase is taken modulo one second's worth, so it stays exact however long the call.
        double cycles = std::fmod(signal.hz * (double)n, (double)kSpeakerRate) / kSpeakerRate;
        return (int16_t)std::lrint(12000.0 * std::sin(2.0 * M_PI * cycles));
    }
    case Signal::Wav: {
        auto it = g_wav_cache.find(signal.path);
        if (it == g_wav_cache.end() || it->second.empty())
            return 0;
        return it->second[(size_t)(n % (int64_t)it->second.size())];  // the file says it again and again
    }
    }
    return 0;
}

int64_t SignalPeriod(const Signal &signal)
{
    switch (signal.kind) {
    case Signal::Silence:
        return 1;
    case Signal::Counter:
        return 65536;
    case Signal::Sequence:
        return kSequencePeriod;
    case Signal::Tone: {
        // The phase repeats once hz * n is a whole number of seconds' worth of samples.
        int64_t hz = std::llround(signal.hz);
        if ((double)hz != signal.hz || hz <= 0)
            return kSpeakerRate;  // not reached: a scenario's tone is a whole number of hertz
        return kSpeakerRate / std::gcd(hz, (int64_t)kSpeakerRate);
    }
    case Signal::Wav: {
        auto it = g_wav_cache.find(signal.path);
        return it == g_wav_cache.end() || it->second.empty() ? 1 : (int64_t)it->second.size();
    }
    }
    return 1;
}

bool WriteWav(const std::string &path, const std::vector<int16_t> &samples)
{
    SF_INFO info{};
    info.samplerate = kSpeakerRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) {
        fprintf(stderr, "vudizeri-sim: cannot write '%s': %s\n", path.c_str(), sf_strerror(nullptr));
        return false;
    }
    sf_count_t n = sf_writef_short(f, samples.data(), (sf_count_t)samples.size());
    sf_close(f);
    return n == (sf_count_t)samples.size();
}

}  // namespace sim
