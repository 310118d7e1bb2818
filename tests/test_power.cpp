// The suspend veto, end to end: power events sent to the running program, its answers traced.
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support.h"

namespace {

using support::Json;

struct Outcome {
    std::string answer;    // "deny" or "default"
    int dialup_queries;    // RasEnumConnectionsA calls made for the answer
};

// Runs the program on `windows` with `dialup` connections; the driver reports `status` from 1.5 s on
// (the poll has read it by 2 s) and the system sends `event` at 3 s.
Outcome Ask(const std::string &windows, int dialup, unsigned status, const std::string &event = "query-suspend",
            const std::string &driver = "{voice: 0, control: 0}", support::Run *out = nullptr)
{
    std::string yaml = "name: veto\nsystem: {windows: " + windows + ", dialup: " + std::to_string(dialup) +
                       "}\ndriver: " + driver + "\nevents:\n  - {at: 1.5, status: " + std::to_string(status) +
                       "}\n  - {at: 3, power: " + event + "}\n  - {at: 4, close: true}\n";
    support::Run run = support::Play(yaml);
    EXPECT_EQ(run.status, 0) << run.Dump();
    // The dial-up check gives back its memory and its lock: the program ends holding only the
    // telephony library.
    const support::Json held = run.Find("held");
    for (const auto &item : held["items"])
        EXPECT_EQ(item["kind"], "module") << run.Dump();
    auto answers = run.Of("power");
    EXPECT_EQ(answers.size(), 1u) << run.Dump();
    if (out)
        *out = run;
    if (answers.size() != 1)
        return {"none", -1};
    EXPECT_EQ(answers[0]["t"], 3000) << run.Dump();
    return {answers[0]["answer"].get<std::string>(), answers[0]["dialup_queries"].get<int>()};
}

void ExpectOutcome(const Outcome &got, const std::string &answer, int queries, const std::string &row)
{
    EXPECT_EQ(got.answer, answer) << row;
    EXPECT_EQ(got.dialup_queries, queries) << row;
}

TEST(PowerVeto, NtFiveRefusesWithoutAskingForDialUpConnections)
{
    for (const char *windows : {"2000", "xp", "2003", "{platform: 2, major: 5, minor: 7}"})
        for (int dialup : {0, 1, 2})
            ExpectOutcome(Ask(windows, dialup, 0x200), "deny", 0,
                          std::string(windows) + " with " + std::to_string(dialup) + " connections");
}

TEST(PowerVeto, Windows98LetsTheSuspendPassWithExactlyOneDialUpConnection)
{
    support::Run run;
    ExpectOutcome(Ask("98", 1, 0x280, "query-suspend", "{voice: 0, control: 0}", &run), "default", 1,
                  "98, 0x280, one connection");
    // The default window procedure's answer is what the system gets.
    EXPECT_EQ(run.Find("power")["result"], 0) << run.Dump();
}

TEST(PowerVeto, Windows98RefusesWithNoneOrTwoOrMoreConnections)
{
    for (int dialup : {0, 2, 3})
        ExpectOutcome(Ask("98", dialup, 0x200), "deny", 1, "98 with " + std::to_string(dialup) + " connections");
    support::Run run;
    Ask("98", 0, 0x200, "query-suspend", "{voice: 0, control: 0}", &run);
    EXPECT_EQ(run.Find("power")["result"], 0x424D5144) << run.Dump();
}

TEST(PowerVeto, OtherSystemsDecideByTheDialUpConnectionsToo)
{
    for (const char *windows : {"95", "me"}) {
        ExpectOutcome(Ask(windows, 1, 0x200), "default", 1, std::string(windows) + " with one connection");
        ExpectOutcome(Ask(windows, 0, 0x200), "deny", 1, std::string(windows) + " with none");
    }
}

TEST(PowerVeto, VistaAndLaterAreNeverAskedSoSuchAScenarioIsRefused)
{
    for (const char *windows : {"vista", "7", "{platform: 2, major: 6, minor: 2}"}) {
        support::Run run = support::Play(std::string("system: {windows: ") + windows +
                                         "}\nevents:\n  - {at: 3, power: query-suspend}\n");
        EXPECT_EQ(run.status, 2) << windows;
        EXPECT_EQ(run.error.substr(0, run.error.find(" (")),
                  "test.yaml:3: key 'events.power': Windows Vista and later never send PBT_APMQUERYSUSPEND")
            << windows;
        EXPECT_TRUE(run.events.empty()) << run.Dump();
    }
    // What those systems still send reaches the program.
    ExpectOutcome(Ask("vista", 0, 0x200, "resume"), "default", 0, "vista resume");
}

TEST(PowerVeto, NT4SendsNoPowerEventSoSuchAScenarioIsRefused)
{
    for (const char *windows : {"nt4", "{platform: 2, major: 3, minor: 51}"})
        for (const char *event : {"query-suspend", "resume", "10"}) {
            support::Run run = support::Play(std::string("system: {windows: ") + windows +
                                             "}\nevents:\n  - {at: 3, power: " + event + "}\n");
            EXPECT_EQ(run.status, 2) << windows << " " << event;
            EXPECT_EQ(run.error.substr(0, run.error.find(" (")),
                      "test.yaml:3: key 'events.power': Windows NT before 5.0 sends no power event")
                << windows << " " << event;
            EXPECT_TRUE(run.events.empty()) << run.Dump();
        }
    // Its successor is asked, and answered as any NT 5 is.
    ExpectOutcome(Ask("2000", 0, 0x200), "deny", 0, "2000");
}

TEST(PowerVeto, AFailedEnumerationRefuses)
{
    // The enumeration refused, or no memory (or no lock on it) to enumerate into: not connected, so
    // the request is refused, and whatever was allocated is given back.
    const std::pair<const char *, int> faults[] = {
        {"{call: RasEnumConnectionsA, error: 668}", 1}, {"{call: GlobalAlloc}", 0}, {"{call: GlobalLock}", 0}};
    for (const auto &fault : faults) {
        support::Run run = support::Play("name: t\nsystem: {windows: 98, dialup: 1}\ndriver: {voice: 0, control: 0}\n"
                                         "faults: [" + std::string(fault.first) + "]\n"
                                         "events: [{at: 1.5, status: 0x200}, {at: 3, power: query-suspend}, "
                                         "{at: 4, close: true}]\n");
        ASSERT_EQ(run.status, 0) << run.Dump();
        EXPECT_FALSE(run.Find("power", {{"answer", "deny"}, {"dialup_queries", fault.second}}).is_null())
            << fault.first << "\n" << run.Dump();
        const support::Json held = run.Find("held");
        for (const auto &item : held["items"])
            EXPECT_EQ(item["kind"], "module") << fault.first << "\n" << run.Dump();
    }
}

TEST(PowerVeto, WithTheBitClearNothingIsRefused)
{
    for (const char *windows : {"98", "xp"})
        for (unsigned status : {0x0u, 0x80u, 0x60u, 0x1FFu, 0x400u})
            ExpectOutcome(Ask(windows, 0, status), "default", 0,
                          std::string(windows) + " status " + std::to_string(status));
}

TEST(PowerVeto, WithoutTheModemControlDeviceNoSuspendIsRefused)
{
    // The driver would report the bit, but the record is never read.
    for (const char *windows : {"98", "xp"})
        ExpectOutcome(Ask(windows, 0, 0x200, "query-suspend", "{voice: 0}"), "default", 0,
                      std::string(windows) + " without the control device");
}

TEST(PowerVeto, OtherPowerEventsGetTheDefaultAnswer)
{
    for (const char *event : {"resume", "2", "4", "6", "10", "18"})
        for (const char *windows : {"98", "xp"})
            ExpectOutcome(Ask(windows, 0, 0x200, event), "default", 0,
                          std::string(windows) + " event " + event);
}

TEST(PowerVeto, TheAnswerFollowsTheStatusWordTheLastPollRead)
{
    support::Run run = support::Play("name: t\nsystem: {windows: xp}\ndriver: {voice: 0, control: 0}\n"
                                     "events:\n"
                                     "  - {at: 0.5, power: query-suspend}\n"   // before the first poll
                                     "  - {at: 1.5, status: 0x200}\n"
                                     "  - {at: 2.5, power: query-suspend}\n"
                                     "  - {at: 3.5, status: 0}\n"
                                     "  - {at: 4.5, power: query-suspend}\n"
                                     "  - {at: 5, close: true}\n");
    ASSERT_EQ(run.status, 0) << run.Dump();
    auto answers = run.Of("power");
    ASSERT_EQ(answers.size(), 3u) << run.Dump();
    EXPECT_EQ(answers[0]["answer"], "default") << run.Dump();
    EXPECT_EQ(answers[1]["answer"], "deny") << run.Dump();
    EXPECT_EQ(answers[2]["answer"], "default") << run.Dump();
}

}  // namespace

namespace {


TEST(PowerScenarios, TheBundledScenariosShowWhatTheirNamesSay)
{
    struct Case { const char *file; std::vector<std::string> answers; };
    const Case cases[] = {
        {"suspend-nt5.yaml", {"deny", "default", "default"}},
        {"suspend-win98-one-connection.yaml", {"default"}},
        {"suspend-win98-no-connection.yaml", {"deny"}},
        {"suspend-win98-two-connections.yaml", {"deny"}},
        {"suspend-no-control-device.yaml", {"default"}},
    };
    for (const Case &c : cases) {
        std::string yaml = support::BundledScenario(c.file);
        ASSERT_FALSE(yaml.empty()) << c.file;
        auto run = support::Play(yaml);
        ASSERT_EQ(run.status, 0) << c.file << "\n" << run.Dump();
        std::vector<std::string> answers;
        for (const Json &e : run.Of("power"))
            answers.push_back(e["answer"].get<std::string>());
        EXPECT_EQ(answers, c.answers) << c.file << "\n" << run.Dump();
    }
}

}  // namespace
