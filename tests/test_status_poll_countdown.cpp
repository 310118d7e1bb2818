// The countdown of the open call dialog: the incoming-call dialog's 20 seconds and the on-hold
// dialog's time, as the user sees them tick away, and what happens when they run out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calls_support.h"

using calls::ExpectCalls;
using calls::Json;
using calls::Scenario;
using calls::Trace;
using support::Play;

namespace {

// The on-hold dialog's time as it opens and after one tick, for a hold time.
std::vector<std::string> HoldTexts(const std::string &hold)
{
    Trace run = Play(Scenario("  - {at: 0.5, status: 128, hold: " + hold + "}\n", 2.5));
    std::vector<std::string> texts;
    Json dialog = run.Find("dialog", {{"template", 102}});
    if (dialog.is_null())
        return {"no dialog:\n" + run.Dump()};
    texts.push_back(dialog["controls"]["1002"]);
    for (const Json &t : run.Of("text"))
        texts.push_back(t["text"]);
    return texts;
}

}  // namespace

TEST(StatusPollCountdown, AnUnansweredIncomingCallIsIgnoredAtTheTwentiethTick)
{
    Trace plain = Play(Scenario("  - {at: 0.5, status: 16}\n", 22.5));
    ASSERT_EQ(plain.status, 0) << plain.Dump();
    ExpectCalls(plain, {"1000 dialog 101", "21000 response 4", "21000 closed 101"});

    Trace ticked = Play(Scenario("  - {at: 0.5, status: 0x60, caller: \"0100\"}\n"
                                 "  - {at: 7.5, check: 1000}\n",
                                 22.5));
    ASSERT_EQ(ticked.status, 0) << ticked.Dump();
    ExpectCalls(ticked, {"1000 dialog 103", "7500 user check 1000 ok", "21000 response 12", "21000 closed 103"});
    // The record goes back as the driver last reported it, with the answer in it.
    Json response = ticked.Find("response");
    EXPECT_EQ(response["status"], 0x60) << response.dump();
    EXPECT_EQ(response["caller"], "0100") << response.dump();
}

TEST(StatusPollCountdown, TheOnHoldTimeCountsDownEachTickAndRunsOutWithoutAnAnswer)
{
    Trace run = Play(Scenario("  - {at: 0.5, status: 128, hold: 90}\n", 93));
    ASSERT_EQ(run.status, 0) << run.Dump();
    Json dialog = run.Find("dialog");
    ASSERT_FALSE(dialog.is_null()) << run.Dump();
    EXPECT_EQ(dialog["controls"]["1002"], "01:30");
    std::vector<Json> texts = run.Of("text");
    ASSERT_EQ(texts.size(), 90u) << run.Dump();
    EXPECT_EQ(texts[0]["t"], 2000);
    EXPECT_EQ(texts[0]["text"], "01:29");
    EXPECT_EQ(texts[29]["text"], "01:00");
    EXPECT_EQ(texts[30]["text"], "00:59");
    EXPECT_EQ(texts[89]["t"], 91000);
    EXPECT_EQ(texts[89]["text"], "00:00");
    Json closed = run.Find("closed");
    EXPECT_EQ(closed["t"], 91000) << run.Dump();
    EXPECT_TRUE(run.Of("response").empty()) << "an expiring on-hold dialog sends nothing:\n" << run.Dump();
}

TEST(StatusPollCountdown, HoldTimesShowAsMinutesAndSeconds)
{
    EXPECT_EQ(HoldTexts("3599"), (std::vector<std::string>{"59:59", "59:58"}));
    EXPECT_EQ(HoldTexts("3600"), (std::vector<std::string>{"60:00", "59:59"}));
    EXPECT_EQ(HoldTexts("5"), (std::vector<std::string>{"00:05", "00:04"}));
    EXPECT_EQ(HoldTexts("6000"), (std::vector<std::string>{"100:00", "99:59"}));
    EXPECT_EQ(HoldTexts("65534"), (std::vector<std::string>{"1092:14", "1092:13"}));
}

TEST(StatusPollCountdown, HoldTimeNotAvailableShowsNAAndNeverRunsOut)
{
    Trace run = Play(Scenario("  - {at: 0.5, status: 128, hold: 0xFFFF}\n", 200));
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectCalls(run, {"1000 dialog 102", "200000 closed 102"});
    EXPECT_EQ(run.Find("dialog")["controls"]["1002"], "NA") << run.Dump();
}

TEST(StatusPollCountdown, AHoldTimeOfZeroRunsOutAtTheFirstTick)
{
    // Not a countdown of 136 years: the dialog shows 00:00 and closes at the next tick, sending nothing.
    Trace run = Play(Scenario("  - {at: 0.5, status: 128, hold: 0}\n", 5));
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectCalls(run, {"1000 dialog 102", "2000 closed 102"});
    EXPECT_EQ(run.Find("dialog")["controls"]["1002"], "00:00") << run.Dump();
}

TEST(StatusPollCountdown, HoldTimesAbove65535CountDownThroughItToTheEnd)
{
    // 65536 passes 65535 (which alone means "not available") and goes on counting.
    Trace run = Play(Scenario("  - {at: 0.5, status: 128, hold: 65536}\n", 4.5));
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectCalls(run, {"1000 dialog 102", "2000 text 1002 1092:15", "3000 text 1002 1092:14",
                      "4000 text 1002 1092:13", "4500 closed 102"});
    EXPECT_EQ(run.Find("dialog")["controls"]["1002"], "1092:16");

    EXPECT_EQ(HoldTexts("4294967295"), (std::vector<std::string>{"71582788:15", "71582788:14"}));
}

TEST(StatusPollCountdown, AClosedDialogIsNoLongerCountedDown)
{
    // After "Back On-Line" nothing ticks: no text, no expiry, until a new word opens a new dialog
    // whose countdown starts afresh.
    Trace run = Play(Scenario("  - {at: 0.5, status: 128, hold: 3}\n"
                              "  - {at: 1.5, click: 1}\n"
                              "  - {at: 6.5, status: 0x280, hold: 2}\n",
                              10));
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectCalls(run, {"1000 dialog 102", "1500 user click 1 ok", "1500 response 1", "1500 closed 102",
                      "7000 dialog 102", "8000 text 1002 00:01", "9000 text 1002 00:00", "9000 closed 102"});
}
