// The bundled scenarios: the README's default one is an incoming call end to end, and every other
// one plays to its end and shows what its name says.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "calls_support.h"

using calls::ExpectCalls;
using calls::Json;
using calls::Trace;
using support::Play;

namespace {

Trace PlayBundled(const std::string &name)
{
    return Play(support::BundledScenario(name));
}

}  // namespace

TEST(BundledScenarios, TheDefaultOneIsAnIncomingCallAcceptedPutOnHoldAndBackOnLine)
{
    Trace run = PlayBundled("default.yaml");
    ASSERT_EQ(run.status, 0) << run.Dump();
    std::vector<std::string> expected = {"3000 dialog 103", "6500 user click 1 ok", "6500 response 2",
                                         "6500 closed 103", "8000 dialog 102"};
    // One second off the 90 on each tick, from 01:29 at 9 s to 01:18 at 20 s.
    for (int k = 1; k <= 12; ++k) {
        char line[64];
        snprintf(line, sizeof(line), "%d text 1002 %02d:%02d", 8000 + k * 1000, (90 - k) / 60, (90 - k) % 60);
        expected.push_back(line);
    }
    expected.insert(expected.end(), {"20500 user click 1 ok", "20500 response 1", "20500 closed 102"});
    ExpectCalls(run, expected);
    Json on_hold = run.Find("dialog", {{"template", 102}});
    EXPECT_EQ(on_hold["controls"]["1001"], "555 0100") << on_hold.dump();
    // On hold, the speakerphone runs for 12 seconds both ways and carries the signals whole.
    EXPECT_EQ(run.Find("stream", {{"dir", "out"}, {"state", "running"}})["t"], 8200) << run.Dump();
    EXPECT_EQ(run.Find("stream", {{"dir", "in"}, {"state", "running"}})["t"], 8200) << run.Dump();
    Json audio = run.Find("audio");
    ASSERT_FALSE(audio.is_null()) << run.Dump();
    EXPECT_GE(audio["out"]["ms"].get<long long>(), 11000) << audio.dump();
    EXPECT_EQ(audio["out"]["underruns"], 0) << audio.dump();
    EXPECT_EQ(audio["in"]["overruns"], 0) << audio.dump();
    EXPECT_GT(audio["in"]["matching"].get<long long>(), 0) << audio.dump();
    EXPECT_EQ(audio["in"]["matching"], audio["in"]["samples"]) << audio.dump();
    EXPECT_EQ(run.Find("exit")["code"], 0) << run.Dump();
}

TEST(BundledScenarios, EveryOtherScenarioPlaysAndAnswersAsItsNameSays)
{
    Trace unanswered = PlayBundled("incoming-call-unanswered.yaml");
    ASSERT_EQ(unanswered.status, 0) << unanswered.Dump();
    EXPECT_EQ(unanswered.Find("response")["code"], 12) << unanswered.Dump();

    Trace late = PlayBundled("caller-identity-arrives-late.yaml");
    ASSERT_EQ(late.status, 0) << late.Dump();
    EXPECT_EQ(late.Of("dialog").size(), 2u) << late.Dump();
    EXPECT_EQ(late.Find("response")["caller"], "Jones 0100") << late.Dump();

    Trace runs_out = PlayBundled("on-hold-runs-out.yaml");
    ASSERT_EQ(runs_out.status, 0) << runs_out.Dump();
    EXPECT_EQ(runs_out.Find("closed")["t"], 17000) << runs_out.Dump();
    EXPECT_TRUE(runs_out.Of("response").empty()) << runs_out.Dump();

    Trace japanese = PlayBundled("line-current-warning-japanese.yaml");
    ASSERT_EQ(japanese.status, 0) << japanese.Dump();
    EXPECT_EQ(japanese.Of("messagebox").size(), 2u) << japanese.Dump();
    EXPECT_EQ(japanese.Find("messagebox")["bytes"].get<std::string>().size(), 2u * 54) << japanese.Dump();

    Trace korean = PlayBundled("line-current-warning-korean.yaml");
    ASSERT_EQ(korean.status, 0) << korean.Dump();
    EXPECT_EQ(korean.Find("messagebox")["bytes"].get<std::string>().size(), 2u * 163) << korean.Dump();
}
