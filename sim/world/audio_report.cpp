// The end-of-run "audio" report: what the sound card double played and recorded set beside what the
// driver double sent down its playback area and took from its record area, and the WAV files of
// both when asked for. This is the world judging how the sound went; neither double looks at the
// other's state to do its work.
#include <map>

#include "sound.h"

namespace sim {

namespace {

bool g_configured = false;
Signal g_line, g_mic;
std::string g_wav_speaker, g_wav_line;

// The card's session of that direction that was open at `when`, or null.
const SoundSession *SessionAt(bool out, Ms when)
{
    const SoundSession *found = nullptr;
    for (const SoundSession &s : SoundSessions(out))
        if (s.opened <= when && (s.closed < 0 || s.closed >= when))
            found = &s;
    return found;
}

}  // namespace

Json SpeakerAudioSummary()
{
    // What the speaker played: each session is the start's silence, then the line signal from where
    // the driver began feeding that start, without a gap or a repeat.
    std::map<uint64_t, int64_t> line_start;  // card output session -> the line sample fed first
    for (const SpeakerFed &f : SpeakerFeeds())
        if (const SoundSession *s = SessionAt(true, f.seen))
            line_start.emplace(s->id, f.line_start);
    int64_t out_samples = 0, out_matching = 0;
    for (const SoundSession &s : SoundSessions(true)) {
        auto it = line_start.find(s.id);
        for (size_t j = 0; j < s.samples.size(); ++j) {
            int64_t k = (int64_t)j;
            int16_t expected = 0;
            if (k >= kStartSilence)
                expected = it == line_start.end() ? 0 : SignalSample(g_line, it->second + k - kStartSilence);
            out_matching += s.samples[j] == expected;
        }
        out_samples += (int64_t)s.samples.size();
    }
    // What went down the line: each start's samples, the microphone's from where the card's first
    // buffer of that session began.
    int64_t in_matching = 0;
    for (size_t t = 0; t < SpeakerTakes().size(); ++t) {
        size_t end = t + 1 < SpeakerTakes().size() ? SpeakerTakes()[t + 1].begin : SpeakerLineOut().size();
        const SoundSession *s = SessionAt(false, SpeakerTakes()[t].seen);
        if (!s || s->mic_start < 0)
            continue;
        int64_t heard = s->mic_start + SpeakerTakes()[t].first_buffer * kRecSamples;
        for (size_t j = SpeakerTakes()[t].begin; j < end; ++j)
            in_matching += SpeakerLineOut()[j] == SignalSample(g_mic, heard + (int64_t)(j - SpeakerTakes()[t].begin));
    }
    Json out = {{"ms", SoundFrames(true) * 1000 / kSpeakerRate},
                {"underruns", SoundUnderruns()},
                {"samples", out_samples},
                {"matching", out_matching},
                {"sessions", SoundSessions(true).size()}};
    Json in = {{"ms", SoundFrames(false) * 1000 / kSpeakerRate},
               {"overruns", SoundOverruns()},
               {"samples", SpeakerLineOut().size()},
               {"matching", in_matching},
               {"sessions", SoundSessions(false).size()}};
    return Json{{"out", out}, {"in", in}};
}

namespace {

void AtEnd()
{
    if (!g_configured)
        return;
    Emit("audio", SpeakerAudioSummary());
    if (!g_wav_speaker.empty()) {
        std::vector<int16_t> heard;
        for (const SoundSession &s : SoundSessions(true))
            heard.insert(heard.end(), s.samples.begin(), s.samples.end());
        WriteWav(g_wav_speaker, heard);
    }
    if (!g_wav_line.empty())
        WriteWav(g_wav_line, SpeakerLineOut());
}

bool g_registered = [] {
    AtFinish(AtEnd);
    return true;
}();

}  // namespace

void SpeakerConfigure(const Signal &line, const Signal &mic, const std::string &wav_speaker,
                      const std::string &wav_line)
{
    g_configured = true;
    g_line = line;
    g_mic = mic;
    g_wav_speaker = wav_speaker;
    g_wav_line = wav_line;
    SpeakerSetLine(line);
    SoundSetMic(mic);
}

}  // namespace sim
