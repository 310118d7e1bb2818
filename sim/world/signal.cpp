// The signals of the world's two sound sources: what the far end says down the line and what the
// microphone hears, as tones, counters, silence or WAV files, and the WAV files the runner writes.
#include "sound.h"

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <map>

namespace sim {

namespace {
std::map<std::string, std::vector<int16_t>> g_wav_cache;
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
    SF_INFO info{};
    SNDFILE *f = sf_open(signal.path.c_str(), SFM_READ, &info);
    if (!f)
        throw ScenarioError(scenario_file + ": " + key + ": cannot read WAV file '" + signal.path +
                            "': " + sf_strerror(nullptr));
    std::vector<int16_t> frames((size_t)info.frames * (size_t)info.channels);
    sf_count_t got = sf_readf_short(f, frames.data(), info.frames);
    sf_close(f);
    std::vector<int16_t> mono((size_t)got);
    for (sf_count_t i = 0; i < got; ++i)
        mono[(size_t)i] = frames[(size_t)i * (size_t)info.channels];  // the first channel
    g_wav_cache[signal.path] = std::move(mono);
}

int16_t SignalSample(const Signal &signal, int64_t n)
{
    switch (signal.kind) {
    case Signal::Silence:
        return 0;
    case Signal::Counter:
        return (int16_t)(uint16_t)(n & 0xFFFF);
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
