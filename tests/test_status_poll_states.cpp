// The status poll's change test and call-state switch, played as scenarios: which dialog a status
// word opens, which words change nothing, when a dialog is created anew, and what closes it.
#include <gtest/gtest.h>

#include "calls_support.h"

using calls::ExpectCalls;
using calls::Json;
using calls::Trace;
using calls::Scenario;
using support::Play;

TEST(StatusPollCallStates, EachCallStateOpensItsDialogAndEveryChangeReplacesTheDialog)
{
    // 16 and 32 without Modem-On-Hold: 101; with it (0x40, and 0x200 beside it): 103; 128: 102.
    Trace run = Play(Scenario("  - {at: 0.5, status: 16, caller: \"555 0100\"}\n"
                            "  - {at: 1.5, status: 32}\n"
                            "  - {at: 2.5, status: 0x50}\n"
                            "  - {at: 3.5, status: 0x60}\n"
                            "  - {at: 4.5, status: 0x260}\n"
                            "  - {at: 5.5, status: 128, hold: 90}\n",
                            6.5));
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectCalls(run, {"1000 dialog 101", "2000 closed 101", "2000 dialog 101", "3000 closed 101",
                      "3000 dialog 103", "4000 closed 103", "4000 dialog 103", "5000 closed 103",
                      "5000 dialog 103", "6000 closed 103", "6000 dialog 102", "6500 closed 102"});
    std::vector<Json> dialogs = run.Of("dialog");
    ASSERT_EQ(dialogs.size(), 6u) << run.Dump();
    const char *na = "Caller ID information is not available";
    // Only call state 32 shows the identity; 16 and 0x50 show the default text even with CallerId set.
    std::vector<std::string> shown = {na, "555 0100", na, "555 0100", "555 0100", "555 0100"};
    for (size_t i = 0; i < dialogs.size(); ++i)
        EXPECT_EQ(dialogs[i]["controls"]["1001"], shown[i]) << "dialog " << i << ": " << dialogs[i].dump();
    EXPECT_TRUE(run.Of("response").empty()) << "a status change sends nothing:\n" << run.Dump();
}

TEST(StatusPollCallStates, WordsThatAreNoCallEventChangeNoDialog)
{
    // 0x30 is call state 48, 0x81 is 129, 0x140 is 0x100 (and no warning: bit 0x40 stays in that
    // test). The dialog opened by 16 stays, and its countdown runs on to its expiry at 21 s.
    Trace run = Play(Scenario("  - {at: 0.5, status: 16}\n"
                            "  - {at: 2.5, status: 0x30}\n"
                            "  - {at: 4.5, status: 0x81}\n"
                            "  - {at: 6.5, status: 0x140}\n"
                            "  - {at: 8.5, status: 0x31}\n",
                            22.5));
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectCalls(run, {"1000 dialog 101", "21000 response 4", "21000 closed 101"});
}

TEST(StatusPollCallStates, AnUnchangedWordNeverCreatesTheDialogAgain)
{
    // 32 on every tick: one dialog; once the user has ignored it, it stays closed while the word stays.
    Trace run = Play(Scenario("  - {at: 0.5, status: 32, caller: \"0100\"}\n"
                            "  - {at: 3.5, click: 2}\n",
                            30));
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectCalls(run, {"1000 dialog 101", "3500 user click 2 ok", "3500 response 4", "3500 closed 101"});
}

TEST(StatusPollCallStates, OnlyTheNoSuspendBitChangingStillCreatesTheDialogAnew)
{
    // 32 to 0x220: the full word changed. The new dialog has its box cleared and a new 20-second
    // countdown: it expires 20 ticks after 3 s, sending 4 without the flag.
    Trace run = Play(Scenario("  - {at: 0.5, status: 32, caller: \"0100\"}\n"
                            "  - {at: 1.5, check: 1000}\n"
                            "  - {at: 2.5, status: 0x220}\n",
                            24));
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectCalls(run, {"1000 dialog 101", "1500 user check 1000 ok", "3000 closed 101", "3000 dialog 101",
                      "23000 response 4", "23000 closed 101"});
    std::vector<Json> dialogs = run.Of("dialog");
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[1]["controls"]["1000"], false) << dialogs[1].dump();
    EXPECT_EQ(dialogs[1]["controls"]["1001"], "0100") << dialogs[1].dump();
}

TEST(StatusPollCallStates, IdleClosesAnyDialogWithoutAnAnswer)
{
    // 0 closes; so does 0x40 (call state 0) and 0x200; a first word of 0 does nothing at all.
    Trace run = Play(Scenario("  - {at: 1.5, status: 16}\n"
                            "  - {at: 3.5, status: 0}\n"
                            "  - {at: 4.5, status: 128, hold: 0xFFFF}\n"
                            "  - {at: 6.5, status: 0x40}\n"
                            "  - {at: 7.5, status: 0x60}\n"
                            "  - {at: 9.5, status: 0x200}\n",
                            11));
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectCalls(run, {"2000 dialog 101", "4000 closed 101", "5000 dialog 102", "7000 closed 102",
                      "8000 dialog 103", "10000 closed 103"});
    EXPECT_TRUE(run.Of("response").empty()) << run.Dump();
}

TEST(StatusPollCallStates, ClosingTheProgramWithADialogOpenSendsNothing)
{
    Trace run = Play(Scenario("  - {at: 0.5, status: 0x60, caller: \"0100\"}\n", 4.5));
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectCalls(run, {"1000 dialog 103", "4500 closed 103"});
    EXPECT_EQ(run.Find("exit")["code"], 0) << run.Dump();
}

TEST(StatusPollCallStates, AFailedDialogCreationIsNotRetriedUntilTheWordChanges)
{
    Trace run = Play("driver: {voice: 0, control: 0}\n"
                   "faults: [{call: CreateDialogParamA, nth: 1}]\n"
                   "events:\n"
                   "  - {at: 0.5, status: 16}\n"
                   "  - {at: 4.5, status: 32, caller: \"0100\"}\n"
                   "  - {at: 6, close: true}\n");
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectCalls(run, {"5000 dialog 101", "6000 closed 101"});
    EXPECT_FALSE(run.Find("fault", {{"call", "CreateDialogParamA"}}).is_null()) << run.Dump();
}

TEST(StatusPollCallStates, FailedReadsEndTheTickButTheCountdownRunsOn)
{
    // Reads 2 to 15 fail (the first read opened the dialog); the countdown keeps its pace through
    // them, so the dialog still expires 20 ticks after it opened.
    Trace run = Play("driver: {voice: 0, control: 0}\n"
                   "faults: [{call: DeviceIoControl, nth: 2, count: 14, error: 31}]\n"
                   "events:\n"
                   "  - {at: 0.5, status: 16}\n"
                   "  - {at: 22, close: true}\n");
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectCalls(run, {"1000 dialog 101", "21000 response 4", "21000 closed 101"});
    EXPECT_EQ(run.Of("fault").size(), 14u) << run.Dump();
}
