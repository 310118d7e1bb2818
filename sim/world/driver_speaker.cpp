// The driver double's side of the speakerphone block: it keeps the playback area filled ahead of the
// program's playback index with what the far end says, and takes what the microphone recorded from
// the record area behind the record index. Like a real driver it sees only the block (the indexes,
// the states, the data areas) and what it asked for itself (the requests it completed reads with),
// never the sound card. What it sent and took is kept for the world's end-of-run report
// (audio_report.cpp).
#include <cstring>

#include "driver_double.h"
#include "sound.h"

namespace sim {

namespace {

// Fields of the block the driver uses besides the requests.
constexpr size_t kPlayData = 0x0000, kRecData = 0x4000;
constexpr size_t kPlayIndex = 0x8000, kRecIndex = 0x8004, kPlayState = 0x8010, kRecState = 0x8014;

bool g_configured = false;
Signal g_line;

// A stream start as the driver sees it: the state turns to running; or it is running once the
// program has answered a read the driver completed with requests (the program then stops its streams
// and starts the wanted ones anew, and reads again).
struct Start {
    bool running = false;   // the state at the last look
    uint64_t answered = 0;  // the last request read accounted for
    bool Fresh(int32_t state)
    {
        uint64_t request = DriverLastRequestRead();
        bool acted = request > answered && DriverReadsReceived() > request;
        bool fresh = state != 0 && (!running || acted);
        if (fresh || acted)
            answered = request;
        running = state != 0;
        return fresh;
    }
};

// Playback: absolute buffer numbers count every buffer of one start, from 0.
struct Feed {
    Start start;
    int32_t last_index = 0;
    int64_t queued = 0;    // the buffer most recently queued (PlayIndex, unwrapped)
    int64_t filled = 0;    // the buffer most recently filled
    int64_t line_pos = 0;  // the next sample of the line signal to send
} g_feed;
std::vector<SpeakerFed> g_fed;

// Recording: absolute numbers of the buffers of one start, from 0.
struct Take {
    Start start;
    int32_t last_index = 0;
    int64_t queued = 0;   // RecIndex, unwrapped
    int64_t taken = -1;   // the buffer most recently taken
} g_take;
std::vector<SpeakerTaken> g_taken;
std::vector<int16_t> g_line_out;

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
    if (g_feed.start.Fresh(state)) {
        // A new start: the program has zeroed the area and queued buffers 0 to PlayIndex.
        g_feed.last_index = index;
        g_feed.queued = index;
        g_feed.filled = index;
        g_fed.push_back(SpeakerFed{Now(), g_feed.line_pos});
    }
    if (state == 0)
        return;
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
    if (g_take.start.Fresh(state)) {
        g_take.last_index = index;
        g_take.queued = index;
        g_take.taken = index - kRecQueued;
        g_taken.push_back(SpeakerTaken{Now(), g_take.taken + 1, g_line_out.size()});
    }
    if (state == 0)
        return;
    g_take.queued += Advance(index, g_take.last_index, kRecBuffers);
    g_take.last_index = index;
    // Every buffer behind the two queued ones has been filled: the driver takes it for the line.
    while (g_take.taken < g_take.queued - kRecQueued) {
        ++g_take.taken;
        const uint8_t *buffer = block + kRecData + (size_t)(g_take.taken % kRecBuffers) * kRecSamples * 2;
        for (int k = 0; k < kRecSamples; ++k) {
            int16_t v;
            memcpy(&v, buffer + 2 * k, 2);
            g_line_out.push_back(v);
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

bool g_registered = [] {
    AddPoll(Poll);
    return true;
}();

}  // namespace

void SpeakerSetLine(const Signal &line)
{
    g_configured = true;
    g_line = line;
}

const std::vector<SpeakerFed> &SpeakerFeeds() { return g_fed; }
const std::vector<SpeakerTaken> &SpeakerTakes() { return g_taken; }
const std::vector<int16_t> &SpeakerLineOut() { return g_line_out; }

}  // namespace sim
