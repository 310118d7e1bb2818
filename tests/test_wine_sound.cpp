// Sound under Wine: with ALSA's null device as Wine's output and input, a speakerphone request starts
// both streams in the real program, and the wave notices keep them running. What can be checked from
// outside the program: the stream states and the two rings' indices, as the driver double sees them
// in the speakerphone block (the controller's "stream" and "ring" events), and how fast the rings
// turned. ALSA's null device is not paced to real time: it gives buffers back far faster (about 4
// times for playback, 9 for recording), for any program alike, as vxsoundprobe.exe (a few lines of
// waveOut/waveIn with the program's buffers, and nothing else) shows. So each ring's rate is compared
// with real time (never slower) and with the rate the device itself gives (never faster: one buffer
// back in the ring per notice), and, where the device is paced, with real time within 15%. (The
// emulated i686 program does not keep up with the unpaced record ring: about 90 of 150 a second.) The samples themselves
// are not checked: the driver double does not fill the playback area, and the null device records
// silence.
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

TEST(WineSound, SpeakerphoneStreamsRunOnTheNullDeviceAndTheirRingsTurn)
{
    if (!wine::Available())
        GTEST_SKIP() << "Wine is not installed";
    if (access(wine::Program().c_str(), R_OK) != 0)
        GTEST_SKIP() << "no program " << wine::Program() << ": cmake --build --preset " << wine::Arch();
    wine::Session session;
    ASSERT_TRUE(session.ok) << session.log;
    std::string out = wine::OutDir() + "/sound.trace";
    std::string command = wine::SourceDir() + "/tools/wine/play.sh " + wine::SourceDir() +
                          "/scenarios/speaker-call.yaml >" + out + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::string trace;
    {
        std::ifstream in(out);
        std::stringstream ss;
        ss << in.rdbuf();
        trace = ss.str();
    }
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
    // While they ran, the notices gave every buffer back and the program queued it again: each ring
    // went round at least once in every session (8 playback buffers, 16 record buffers), at the rate
    // the device gives buffers back.
    std::string probe = session.Run("vxsoundprobe.exe 6", 60);
    double probe_out = 0, probe_in = 0, probe_seconds = 0;
    ASSERT_EQ(std::sscanf(probe.c_str(), "out %lf in %lf seconds %lf", &probe_out, &probe_in, &probe_seconds), 3)
        << probe;
    const std::map<std::string, double> real_time = {{"out", 8000.0 * 2 / 2048}, {"in", 8000.0 * 2 / 1024}};
    const std::map<std::string, double> device = {{"out", probe_out / probe_seconds}, {"in", probe_in / probe_seconds}};
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
        bool paced = std::abs(device.at(dir) / real_time.at(dir) - 1) < 0.15;
        std::printf("ring %s: %.1f buffers/s over %.1f s; the device alone %.1f, real time %.1f%s\n", dir.c_str(),
                    rate, seconds, device.at(dir), real_time.at(dir), paced ? "" : " (device not paced)");
        // Never slower than real time (a real device needs that), never faster than the device gives
        // buffers back (the ring moves on one buffer per notice); on a paced device, real time.
        EXPECT_GE(rate, real_time.at(dir) * 0.9) << dir << ": slower than real time\n" << trace;
        EXPECT_LE(rate, device.at(dir) * 1.3) << dir << ": faster than the device\n" << trace;
        if (paced) {
            EXPECT_NEAR(rate / real_time.at(dir), 1.0, 0.15) << dir << ": against real time\n" << trace;
        }
    }
    ASSERT_FALSE(Events(trace, "exit").empty()) << trace;
    EXPECT_EQ(Events(trace, "exit").front()["code"], 0);
}

}  // namespace
