// Sound under Wine: with ALSA's null device as Wine's output and input, a speakerphone request starts
// both streams in the real program, and the wave notices keep them running. What can be checked from
// outside the program: the stream states and the two rings' indices, as the driver double sees them
// in the speakerphone block (the controller's "stream" and "ring" events). The samples themselves are
// not checked: the driver double does not fill the playback area, and the null device records silence.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <unistd.h>
#include <cstdlib>
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
    // went round at least once in every session (8 playback buffers, 16 record buffers).
    ASSERT_GE(rings.size(), 2u) << trace;
    for (auto &r : rings) {
        int whole_turn = r["dir"] == "out" ? 8 : 16;
        EXPECT_GE(r["advances"].get<int>(), whole_turn) << r.dump() << "\n" << trace;
    }
    ASSERT_FALSE(Events(trace, "exit").empty()) << trace;
    EXPECT_EQ(Events(trace, "exit").front()["code"], 0);
}

}  // namespace
