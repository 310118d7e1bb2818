// Sound under Wine: Wine's PulseAudio driver plays into a real sound server (tools/wine/pulse.sh),
// whose "speaker" sink the harness records and whose "mic" sink it plays the microphone into, at the
// pace of real time. A speakerphone request starts both streams in the real program; the driver
// double fills the playback area ahead of the program's index and takes the record area behind it,
// as the modem driver does. Checked: what was heard is what the driver double wrote, and what it took
// is what the microphone said, sample for sample (the "audio" event, tools/wine/heard.h); the stream
// states; and the rings turning at real time, as the device alone does (vxsoundprobe.exe, a few lines
// of waveOut/waveIn with the program's buffers and nothing else).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <unistd.h>
#include <cstdlib>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "heard.h"
#include "sound.h"
#include "test_wine_support.h"

namespace {

using Json = nlohmann::ordered_json;

std::vector<Json> Events(const std::string &text, const std::string &ev)
{
    std::vector<Json> out;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line[0] == '{') {
            Json e = Json::parse(line);
            if (e["ev"] == ev)
                out.push_back(e);
        }
    return out;
}

// The comparison of what was heard and sent under Wine, on made-up recordings: a silence the sound
// server inserted is reported and not counted; a lost, repeated or foreign sample is counted and
// sized. (It needs no Wine.)
TEST(SoundHeard, ComparisonTellsSilencesFromLostAndRepeatedSamples)
{
    sim::Signal seq;
    seq.kind = sim::Signal::Sequence;
    auto line = [&](int64_t from, int64_t to) {
        std::vector<int16_t> v;
        for (int64_t n = from; n < to; ++n)
            v.push_back(sim::SignalSample(seq, n));
        return v;
    };
    auto zeros = [](size_t n) { return std::vector<int16_t>(n, 0); };
    auto join = [](std::vector<std::vector<int16_t>> parts) {
        std::vector<int16_t> all;
        for (auto &p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    // Two playback starts: the first fed from line sample 0 (8 buffers written), the second from 8192.
    std::vector<heard::Feed> feeds = {{1000, 0, 8192}, {3000, 8192, 6144}};
    std::vector<int16_t> clean = join({zeros(8000), zeros(4096), line(0, 5000), zeros(40), line(5000, 7000),
                                       zeros(9000), zeros(4096), line(8192, 11192), zeros(500)});
    heard::Direction out = heard::Out(seq, clean, 0, feeds);
    EXPECT_EQ(out.samples, 4096 + 7000 + 4096 + 3000);
    EXPECT_EQ(out.matching, out.samples);
    EXPECT_EQ(out.lost + out.repeated, 0);
    EXPECT_EQ(out.written, 8192 + 6144);
    ASSERT_EQ(out.silences, std::vector<int64_t>{40}) << "the quiet between the starts is no silence";
    ASSERT_EQ(out.start_ms.size(), 2u);
    EXPECT_DOUBLE_EQ(out.start_ms[0], 12096 / 8.0 - 512 - 1000);
    // 64 samples lost, then 10 heard twice, then one that the line never said there.
    std::vector<int16_t> faulty = join({zeros(8000), zeros(4096), line(0, 2000), line(2064, 3000), line(2990, 5000),
                                        std::vector<int16_t>{sim::SignalSample(seq, 40000)}, line(5000, 7000)});
    out = heard::Out(seq, faulty, 0, feeds);
    EXPECT_EQ(out.lost, 64);
    // The loss is noted where the sample after it was heard.
    ASSERT_EQ(out.losses.size(), 1u);
    EXPECT_EQ(out.losses[0].samples, 64);
    EXPECT_DOUBLE_EQ(out.losses[0].at_ms, (8000 + 4096 + 2000) / 8.0);
    EXPECT_EQ(out.repeated, 10);
    EXPECT_LT(out.matching, out.samples);
    EXPECT_GE(out.faults.size(), 3u);
    // The second start heard from its hundredth line sample on: a hundred lost.
    out = heard::Out(seq, join({zeros(8000), zeros(4096), line(0, 7000), zeros(3000), line(8292, 9000)}), 0, feeds);
    EXPECT_EQ(out.lost, 100);
    ASSERT_EQ(out.losses.size(), 1u);
    EXPECT_EQ(out.losses[0].samples, 100);
    EXPECT_DOUBLE_EQ(out.losses[0].at_ms, (8000 + 4096 + 7000 + 3000) / 8.0);
    EXPECT_EQ(out.matching + 1, out.samples);

    // Recording: two starts, the microphone found wherever it was; a leading silence and one inside.
    std::vector<heard::Take> takes = {{500, 0}, {4000, 4300}};
    std::vector<int16_t> taken = join({zeros(100), line(800, 3000), zeros(30), line(3000, 4970), line(30000, 32000)});
    heard::Direction in = heard::In(seq, taken, 0, takes);
    EXPECT_EQ(in.samples, 2200 + 1970 + 2000);
    EXPECT_EQ(in.matching, in.samples);
    EXPECT_EQ(in.silences, (std::vector<int64_t>{100, 30}));
    ASSERT_EQ(in.start_ms.size(), 2u);
    EXPECT_DOUBLE_EQ(in.start_ms[0], 800 / 8.0 - 500);
    EXPECT_DOUBLE_EQ(in.start_ms[1], 30000 / 8.0 - 4000);
    std::vector<int16_t> skipped = join({line(800, 3000), line(3064, 5000)});
    in = heard::In(seq, skipped, 0, {{500, 0}});
    EXPECT_EQ(in.lost, 64);
    EXPECT_EQ(in.matching + 1, in.samples);
    // Noted when the microphone said the first sample lost (its sample 0 said at 20 ms).
    in = heard::In(seq, skipped, 20, {{500, 0}});
    ASSERT_EQ(in.losses.size(), 1u);
    EXPECT_EQ(in.losses[0].samples, 64);
    EXPECT_DOUBLE_EQ(in.losses[0].at_ms, 20 + 3000 / 8.0);

    // Losses set beside the machine's stalls: within a quarter second of one (before it begins or
    // after it ends), or not.
    heard::Direction lossy;
    lossy.losses = {{740, 16}, {760, 40}, {1200, 120}, {1350, 8}, {1360, 32}, {5000, 64}};
    heard::InStalls stalled = heard::LossesInStalls(lossy, {{1000, 100}, {4000, 50}});
    EXPECT_EQ(stalled.losses, 3);
    EXPECT_EQ(stalled.samples, 40 + 120 + 8);
    EXPECT_EQ(heard::LossesInStalls(lossy, {}).losses, 0);

    // What the suites fail on: a loss, unless the machine's watch saw it stand still then; each such
    // loss leaves one sample out of place, and a repeat is never the machine's.
    auto faults = [](long long samples, long long matching, long long lost, long long repeated, long long in_stalls,
                     long long lost_in_stalls) {
        nlohmann::json d = {{"samples", samples},   {"matching", matching},
                            {"lost", lost},         {"repeated", repeated},
                            {"losses_in_stalls", in_stalls}, {"lost_in_stalls", lost_in_stalls}};
        nlohmann::json clean = {{"samples", 100}, {"matching", 100}, {"lost", 0}, {"repeated", 0}};
        return wine::AudioFaults(nlohmann::json{{"out", clean}, {"in", d}}.dump(), true);
    };
    EXPECT_EQ(faults(100, 100, 0, 0, 0, 0), "");
    EXPECT_EQ(faults(100, 99, 120, 0, 1, 120), "") << "a loss while the machine stood still";
    EXPECT_NE(faults(100, 99, 120, 0, 0, 0), "") << "a loss with no stall";
    EXPECT_NE(faults(100, 98, 160, 0, 1, 120), "") << "a second loss outside the stall";
    EXPECT_NE(faults(100, 99, 0, 10, 1, 120), "") << "a repeat";
    EXPECT_NE(faults(0, 0, 0, 0, 0, 0), "") << "nothing compared";
}

// Finds the "audio" line of a trace.
std::string AudioLine(const std::string &trace)
{
    std::vector<Json> audio = Events(trace, "audio");
    return audio.empty() ? "" : audio.front().dump();
}

using wine::Slurp;

TEST(WineSound, SpeakerphoneThroughTheSoundServerSampleForSample)
{
    if (!wine::Available())
        GTEST_SKIP() << "Wine is not installed";
    if (access(wine::Program().c_str(), R_OK) != 0)
        GTEST_SKIP() << "no program " << wine::Program() << ": cmake --build --preset " << wine::Arch();
    wine::Session session;
    ASSERT_TRUE(session.ok) << session.log;
    // The call of speaker-call.yaml with the sequence on the line and at the microphone.
    std::string scenario = wine::OutDir() + "/sound-call.yaml";
    std::ofstream(scenario) << wine::WithSequence(Slurp(wine::SourceDir() + "/scenarios/speaker-call.yaml"));
    std::string out = wine::OutDir() + "/sound.trace";
    ASSERT_EQ(std::system((wine::SourceDir() + "/tools/wine/play.sh " + scenario + " >" + out + " 2>&1").c_str()), 0)
        << Slurp(out);
    std::string trace = Slurp(out);
    // Both streams start at the first request (1 s) and stop at the last (7 s); the restart at 4 s in
    // between may fall between two looks at the block, so only the first start and last stop are
    // required.
    std::vector<Json> streams = Events(trace, "stream"), rings = Events(trace, "ring");
    ASSERT_GE(streams.size(), 4u) << trace;
    for (const char *dir : {"out", "in"}) {
        std::vector<Json> mine;
        for (auto &s : streams)
            if (s["dir"] == dir)
                mine.push_back(s);
        ASSERT_GE(mine.size(), 2u) << dir << "\n" << trace;
        EXPECT_EQ(mine.front()["state"], "running") << trace;
        EXPECT_NEAR(mine.front()["t"].get<long>(), 1000, 600) << trace;
        EXPECT_EQ(mine.back()["state"], "closed") << trace;
        EXPECT_NEAR(mine.back()["t"].get<long>(), 7000, 600) << trace;
    }
    // What was heard is what the driver double wrote, and what it took is what the microphone said,
    // sample for sample, start by start (the driver double saw both starts of each stream).
    std::string audio = AudioLine(trace);
    ASSERT_FALSE(audio.empty()) << trace;
    EXPECT_EQ(wine::AudioFaults(audio, true), "") << audio;
    Json a = Json::parse(audio);
    EXPECT_EQ(a["out"]["sessions"], 2) << audio;
    EXPECT_EQ(a["in"]["sessions"], 2) << audio;
    // Six seconds of each, less each start's latency (some 150 ms out, 100 ms in, more under load).
    EXPECT_GE(a["out"]["samples"].get<long>(), 8 * 5000) << audio;
    EXPECT_GE(a["in"]["samples"].get<long>(), 8 * 5000) << audio;
    EXPECT_EQ(a["out"]["start_ms"].size(), 2u) << audio;
    EXPECT_EQ(a["in"]["start_ms"].size(), 2u) << audio;
    std::printf("speaker-call with the sequence, %s: %s\n", wine::Arch().c_str(), wine::AudioFigures(audio).c_str());

    // The rings turn at the pace of the sound server, which is real time: the device alone (the probe,
    // a few lines of waveOut/waveIn with the program's buffers) and the program's rings alike.
    std::string probe = session.Run("vxsoundprobe.exe 4", 60);
    double probe_out = 0, probe_in = 0, probe_seconds = 0;
    ASSERT_EQ(std::sscanf(probe.c_str(), "out %lf in %lf seconds %lf", &probe_out, &probe_in, &probe_seconds), 3)
        << probe;
    const std::map<std::string, double> real_time = {{"out", 8000.0 * 2 / 2048}, {"in", 8000.0 * 2 / 1024}};
    const std::map<std::string, double> device = {{"out", probe_out / probe_seconds}, {"in", probe_in / probe_seconds}};
    for (const char *dir : {"out", "in"})
        EXPECT_NEAR(device.at(dir) / real_time.at(dir), 1.0, 0.15)
            << dir << ": the device alone gives " << device.at(dir) << " buffers a second: not the paced server";
    ASSERT_GE(rings.size(), 2u) << trace;
    for (auto &r : rings) {
        std::string dir = r["dir"];
        int whole_turn = dir == "out" ? 8 : 16;
        EXPECT_GE(r["advances"].get<int>(), whole_turn) << r.dump() << "\n" << trace;
        // The session: from the stream's last start before the ring closed it.
        long started = -1;
        for (auto &st : streams)
            if (st["dir"] == dir && st["state"] == "running" && st["t"].get<long>() <= r["t"].get<long>())
                started = st["t"].get<long>();
        ASSERT_GE(started, 0) << r.dump();
        double seconds = (r["t"].get<long>() - started) / 1000.0;
        if (seconds < 1.5)
            continue;  // too short for a rate
        double rate = r["advances"].get<int>() / seconds;
        std::printf("ring %s: %.2f buffers/s over %.1f s; the device alone %.2f, real time %.2f\n", dir.c_str(), rate,
                    seconds, device.at(dir), real_time.at(dir));
        EXPECT_NEAR(rate / real_time.at(dir), 1.0, 0.15) << dir << ": against real time\n" << trace;
    }
    ASSERT_FALSE(Events(trace, "exit").empty()) << trace;
    EXPECT_EQ(Events(trace, "exit").front()["code"], 0);
}

}  // namespace
