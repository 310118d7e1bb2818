// The driver double's side of the speakerphone block: it keeps the playback area filled ahead of the
// program's playback index with what the far end says, and takes what the microphone recorded from
// the record area behind the record index. At the end it reports how the sound went both ways.
#include <cstring>
#include <map>

#include "driver_double.h"
#include "sound.h"

namespace sim {

namespace {

// Fields of the block the driver uses besides the requests.
constexpr size_t kPlayData = 0x0000, kRecData = 0x4000;
constexpr size_t kPlayIndex = 0x8000, kRecIndex = 0x8004, kPlayState = 0x8010, kRecState = 0x8014;
constexpr int kPlayBuffers = 8, kPlaySamples = 1024, kPlayQueued = 4;
constexpr int kRecBuffers = 16, kRecSamples = 512, kRecQueued = 2;
// A playback start queues four zeroed buffers before the first one the driver has filled.
constexpr int64_t kStartSilence = (int64_t)kPlayQueued * kPlaySamples;

bool g_configured = false;
Signal g_line, g_mic;
std::string g_wav_speaker, g_wav_line;

// Playback: absolute buffer numbers count every buffer of one output session, from 0.
struct Feed {
    uint64_t session = 0;  // the sound card's output session being fed; 0: none yet
    int32_t last_index = 0;
    int64_t queued = 0;    // the buffer most recently queued (PlayIndex, unwrapped)
    int64_t filled = 0;    // the buffer most recently filled
    int64_t line_pos = 0;  // the next sample of the line signal to send
} g_feed;
std::map<uint64_t, int64_t> g_feed_start;  // output session -> line sample its first filled buffer carries

// Recording: absolute numbers of the buffers of one input session, from 0.
struct Take {
    uint64_t session = 0;
    int32_t last_index = 0;
    int64_t queued = 0;   // RecIndex, unwrapped
    int64_t taken = -1;   // the buffer most recently taken
} g_take;
std::vector<int16_t> g_line_out;
int64_t g_take_matching = 0;

int32_t Get32(const uint8_t *p, size_t offset)
{
    int32_t v;
    memcpy(&v, p + offset, 4);
    return v;
}

// How far the ring index moved since the last look (the program moves it by one per notice).
int64_t Advance(int32_t now, int32_t before, int ring)
{
    return (((int64_t)now - before) % ring + ring) % ring;
}

void FeedPlayback(uint8_t *block)
{
    int32_t state = Get32(block, kPlayState), index = Get32(block, kPlayIndex);
    uint64_t session = SoundOpenCount(true);
    if (state == 0 || !SoundDeviceOpen(true))
        return;
    if (session != g_feed.session) {
        // A new start: the program has zeroed the area and queued buffers 0 to PlayIndex.
        g_feed.session = session;
        g_feed.last_index = index;
        g_feed.queued = index;
        g_feed.filled = index;
        g_feed_start[session] = g_feed.line_pos;
    }
    g_feed.queued += Advance(index, g_feed.last_index, kPlayBuffers);
    g_feed.last_index = index;
    // The four buffers after PlayIndex are not held by the device: they are the driver's to fill.
    while (g_feed.filled < g_feed.queued + kPlayQueued) {
        ++g_feed.filled;
        uint8_t *buffer = block + kPlayData + (size_t)(g_feed.filled % kPlayBuffers) * kPlaySamples * 2;
        for (int k = 0; k < kPlaySamples; ++k) {
            int16_t v = SignalSample(g_line, g_feed.line_pos++);
            memcpy(buffer + 2 * k, &v, 2);
        }
    }
}

void TakeRecording(uint8_t *block)
{
    int32_t state = Get32(block, kRecState), index = Get32(block, kRecIndex);
    uint64_t session = SoundOpenCount(false);
    if (state == 0 || !SoundDeviceOpen(false))
        return;
    if (session != g_take.session) {
        g_take.session = session;
        g_take.last_index = index;
        g_take.queued = index;
        g_take.taken = index - kRecQueued;
    }
    g_take.queued += Advance(index, g_take.last_index, kRecBuffers);
    g_take.last_index = index;
    const SoundSession &s = SoundSessions(false)[session - 1];  // sessions are numbered from 1
    // Every buffer behind the two queued ones has been filled: the driver takes it for the line.
    while (g_take.taken < g_take.queued - kRecQueued) {
        ++g_take.taken;
        const uint8_t *buffer = block + kRecData + (size_t)(g_take.taken % kRecBuffers) * kRecSamples * 2;
        for (int k = 0; k < kRecSamples; ++k) {
            int16_t v;
            memcpy(&v, buffer + 2 * k, 2);
            g_line_out.push_back(v);
            int64_t heard = s.mic_start + g_take.taken * kRecSamples + k;
            if (s.mic_start >= 0 && v == SignalSample(g_mic, heard))
                ++g_take_matching;
        }
    }
}

void Poll()
{
    if (!g_configured)
        return;
    uint8_t *block = DriverBlock();
    if (!block)
        return;
    FeedPlayback(block);
    TakeRecording(block);
}

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
        WriteWav(g_wav_line, g_line_out);
}

bool g_registered = [] {
    AddPoll(Poll);
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
    SoundSetMic(mic);
}

const std::vector<int16_t> &SpeakerLineOut() { return g_line_out; }

Json SpeakerAudioSummary()
{
    // What the speaker played: each session is the start's silence, then the line signal from where
    // the driver began feeding that session, without a gap or a repeat.
    int64_t out_samples = 0, out_matching = 0;
    for (const SoundSession &s : SoundSessions(true)) {
        auto it = g_feed_start.find(s.id);
        for (size_t j = 0; j < s.samples.size(); ++j) {
            int64_t k = (int64_t)j;
            int16_t expected = 0;
            if (k >= kStartSilence)
                expected = it == g_feed_start.end() ? 0 : SignalSample(g_line, it->second + k - kStartSilence);
            out_matching += s.samples[j] == expected;
        }
        out_samples += (int64_t)s.samples.size();
    }
    Json out = {{"ms", SoundFrames(true) * 1000 / kSpeakerRate},
                {"underruns", SoundUnderruns()},
                {"samples", out_samples},
                {"matching", out_matching},
                {"sessions", SoundSessions(true).size()}};
    Json in = {{"ms", SoundFrames(false) * 1000 / kSpeakerRate},
               {"overruns", SoundOverruns()},
               {"samples", g_line_out.size()},
               {"matching", g_take_matching},
               {"sessions", SoundSessions(false).size()}};
    return Json{{"out", out}, {"in", in}};
}

}  // namespace sim
