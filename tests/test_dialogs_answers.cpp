// The call dialogs: the caller they show, and the user's answers that reach the driver. Scenario
// tests play the real program; the procedure tests call the dialog procedures in a world of their own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calls_support.h"
#include "driver/device_link.h"
#include "driver/line_status.h"
#include "driver_double.h"
#include "notify/call_dialogs.h"
#include "notify/status_poll.h"
#include "res/resource.h"
#include "world.h"

using calls::ExpectCalls;
using calls::Json;
using calls::Scenario;
using calls::Trace;
using support::Play;

TEST(CallDialogAnswers, AcceptAndIgnoreSendTwoFourTenAndTwelve)
{
    // Each new word replaces the dialog; the box is ticked before the last two answers.
    Trace run = Play(Scenario("  - {at: 0.5, status: 16}\n"
                              "  - {at: 1.5, click: 1}\n"
                              "  - {at: 2.5, status: 0x50}\n"
                              "  - {at: 3.5, click: 2}\n"
                              "  - {at: 4.5, status: 32, caller: \"0100\"}\n"
                              "  - {at: 5.2, check: 1000}\n"
                              "  - {at: 5.5, click: 1}\n"
                              "  - {at: 6.5, status: 0x60}\n"
                              "  - {at: 7.2, click: 1000}\n"
                              "  - {at: 7.5, click: 2}\n",
                              9));
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectCalls(run, {"1000 dialog 101", "1500 user click 1 ok", "1500 response 2", "1500 closed 101",
                      "3000 dialog 103", "3500 user click 2 ok", "3500 response 4", "3500 closed 103",
                      "5000 dialog 101", "5200 user check 1000 ok", "5500 user click 1 ok", "5500 response 10",
                      "5500 closed 101", "7000 dialog 103", "7200 user click 1000 ok", "7500 user click 2 ok",
                      "7500 response 12", "7500 closed 103"});
}

TEST(CallDialogAnswers, TheBoxAloneSendsNothingAndIsReadOnlyWhenTheCallIsAnswered)
{
    // Ticked, unticked, then ticked again by a click: the dialog stays open, and its expiry sends 12.
    Trace run = Play(Scenario("  - {at: 0.5, status: 16}\n"
                              "  - {at: 2.5, check: 1000}\n"
                              "  - {at: 3.5, uncheck: 1000}\n"
                              "  - {at: 4.5, click: 1000}\n",
                              22));
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectCalls(run, {"1000 dialog 101", "2500 user check 1000 ok", "3500 user uncheck 1000 ok",
                      "4500 user click 1000 ok", "21000 response 12", "21000 closed 101"});
}

TEST(CallDialogAnswers, BackOnLineSendsOneWithTheWholeRecordAndClosesAtOnce)
{
    Trace run = Play(Scenario("  - {at: 0.5, status: 0x60, caller: \"555 0100\", hold: 600}\n"
                              "  - {at: 1.5, click: 1}\n"
                              "  - {at: 2.5, status: 0x2C0}\n"
                              "  - {at: 3.2, check: 1000}\n"
                              "  - {at: 3.5, click: 1}\n"
                              "  - {at: 5.5, click: 1}\n",
                              6));
    ASSERT_EQ(run.status, 0) << run.Dump();
    // 0x2C0 is call state 128. The on-hold dialog has no box, and no second answer comes from a
    // dialog that is gone.
    ExpectCalls(run, {"1000 dialog 103", "1500 user click 1 ok", "1500 response 2", "1500 closed 103",
                      "3000 dialog 102", "3200 user check 1000 refused", "3500 user click 1 ok",
                      "3500 response 1", "3500 closed 102", "5500 user click 1 refused"});
    std::vector<Json> responses = run.Of("response");
    ASSERT_EQ(responses.size(), 2u);
    EXPECT_EQ(responses[1]["status"], 0x2C0) << responses[1].dump();
    EXPECT_EQ(responses[1]["hold"], 600) << responses[1].dump();
    EXPECT_EQ(responses[1]["caller"], "555 0100") << responses[1].dump();
    Json dialog = run.Find("dialog", {{"template", 102}});
    EXPECT_EQ(dialog["controls"]["1001"], "555 0100") << "the caller of the incoming-call dialog";
    EXPECT_EQ(dialog["controls"]["1002"], "10:00");
}

TEST(CallDialogAnswers, TheOnHoldDialogShowsTheCallerTheLastIncomingCallDialogLeft)
{
    // Before any incoming-call dialog: empty, not the template's text. After call state 16: the
    // default text. After call state 32: the identity, even once the driver has cleared CallerId.
    Trace run = Play(Scenario("  - {at: 0.5, status: 128, hold: 0xFFFF, caller: \"stale\"}\n"
                              "  - {at: 1.5, status: 16}\n"
                              "  - {at: 2.5, status: 128}\n"
                              "  - {at: 3.5, status: 32, caller: \"Jones 0100\"}\n"
                              "  - {at: 4.5, status: 128, caller: \"\"}\n",
                              6));
    ASSERT_EQ(run.status, 0) << run.Dump();
    std::vector<Json> dialogs = run.Of("dialog");
    ASSERT_EQ(dialogs.size(), 5u) << run.Dump();
    EXPECT_EQ(dialogs[0]["controls"]["1001"], "");
    EXPECT_EQ(dialogs[2]["controls"]["1001"], "Caller ID information is not available");
    EXPECT_EQ(dialogs[3]["controls"]["1001"], "Jones 0100");
    EXPECT_EQ(dialogs[4]["controls"]["1001"], "Jones 0100");
}

TEST(CallDialogAnswers, CallerIdentitiesAreShownWholeUpTo100BytesAndNeverReadPastTheField)
{
    std::string longest(99, 'x');
    longest[0] = 'A';
    longest[98] = 'Z';
    Trace whole = Play(Scenario("  - {at: 0.5, status: 32, caller: \"" + longest + "\"}\n", 2));
    ASSERT_EQ(whole.status, 0) << whole.Dump();
    EXPECT_EQ(whole.Find("dialog")["controls"]["1001"], longest) << whole.Dump();

    // 100 bytes and no NUL: the hold time behind the field is "AAAA" and the status word's first byte a
    // blank, so a copy running on would show five more characters, and one cut short one fewer.
    std::string full(100, 'y');
    full[99] = 'z';
    Trace cut = Play(Scenario("  - {at: 0.5, status: 32, hold: 0x41414141, caller: \"" + full + "\"}\n", 2));
    ASSERT_EQ(cut.status, 0) << cut.Dump();
    EXPECT_EQ(cut.Find("dialog")["controls"]["1001"], full) << cut.Dump();

    // 50 double-byte characters of code page 932 fill the field: all 50 are shown, no half of one.
    std::string sjis, utf8;
    for (int k = 0; k < 25; ++k) {
        sjis += "\x93\x64\x98\x62";
        utf8 += "\xE9\x9B\xBB\xE8\xA9\xB1";
    }
    Trace japanese = Play(Scenario("  - {at: 0.5, status: 32, hold: 0x41414141, caller: \"" + sjis + "\"}\n", 2,
                                   "{codepage: 932}"));
    ASSERT_EQ(japanese.status, 0) << japanese.Dump();
    EXPECT_EQ(japanese.Find("dialog")["controls"]["1001"], utf8) << japanese.Dump();
}

TEST(CallDialogAnswers, UserActionsWithoutATargetAreRefused)
{
    Trace run = Play(Scenario("  - {at: 0.5, click: 1}\n"
                              "  - {at: 1.5, status: 16}\n"
                              "  - {at: 2.5, click: 1001}\n"
                              "  - {at: 2.6, check: 1}\n"
                              "  - {at: 2.7, click: 7}\n"
                              "  - {at: 2.8, click: -1}\n",
                              3.5));
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectCalls(run, {"500 user click 1 refused", "2000 dialog 101", "2500 user click 1001 refused",
                      "2600 user check 1 refused", "2700 user click 7 refused", "2800 user click -1 refused",
                      "3500 closed 101"});
}

// ---- the procedures themselves ----

namespace {

std::vector<Json> g_trace;  // the child world's trace

// A world with the control device open, the record allocated and the trace collected.
void InWorld(const std::function<void()> &body)
{
    EXPECT_TRUE(support::InChild([&] {
        sim::SetEndTime(3600 * 1000);
        sim::SetTraceSink([](const std::string &line) { g_trace.push_back(Json::parse(line)); });
        sim::DriverSetPresent(false, true);
        sim::RunMain([&] {
            ModemControlDevice = CreateFileA(MODEM_CONTROL_DEVICE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
            EXPECT_NE(ModemControlDevice, INVALID_HANDLE_VALUE);
            static LineStatusRecord record;
            pLineStatusRecord = &record;
            body();
            return 0;
        });
    }));
}

int Responses()
{
    int n = 0;
    for (const Json &e : g_trace)
        n += e["ev"] == "response";
    return n;
}

}  // namespace

TEST(CallDialogProcedures, TheOnHoldDialogSwallowsEveryCommandButBackOnLine)
{
    InWorld([] {
        pLineStatusRecord->HoldSeconds = 90;
        HWND dialog = CreateDialogParamA(NULL, MAKEINTRESOURCEA(IDD_ON_HOLD), NULL, OnHoldDialogProc, 0);
        ASSERT_NE(dialog, nullptr);
        CurrentDialog = dialog;
        EXPECT_EQ(OnHoldDialogProc(dialog, WM_COMMAND, IDC_IGNORE, 0), TRUE);
        EXPECT_EQ(OnHoldDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_BACK_ONLINE, 1), 0), TRUE);
        EXPECT_TRUE(IsWindow(dialog)) << "a command other than Back On-Line closed the dialog";
        EXPECT_EQ(Responses(), 0) << "a command other than Back On-Line answered";
        EXPECT_EQ(OnHoldDialogProc(dialog, WM_SETFONT, 0, 0), FALSE);

        EXPECT_EQ(OnHoldDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_BACK_ONLINE, BN_CLICKED), 0), TRUE);
        EXPECT_FALSE(IsWindow(dialog));
        EXPECT_EQ(CurrentDialog, nullptr);
        EXPECT_EQ(Responses(), 1);
        EXPECT_EQ(pLineStatusRecord->Response, (DWORD)RESPONSE_BACK_ONLINE);
    });
}

TEST(CallDialogProcedures, TheIncomingCallDialogAnswersOnlyClicksOnItsTwoButtons)
{
    InWorld([] {
        pLineStatusRecord->StatusWord = CALL_INCOMING;
        HWND dialog = CreateDialogParamA(NULL, MAKEINTRESOURCEA(IDD_INCOMING_CALL), NULL, IncomingCallDialogProc, 0);
        ASSERT_NE(dialog, nullptr);
        CurrentDialog = dialog;
        EXPECT_EQ(CountdownSeconds, (DWORD)INCOMING_CALL_TIMEOUT);
        EXPECT_TRUE(CountdownRunning);
        // The whole wParam counts: a notification other than BN_CLICKED is no answer, nor is the box.
        EXPECT_EQ(IncomingCallDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_ACCEPT, 1), 0), FALSE);
        EXPECT_EQ(IncomingCallDialogProc(dialog, WM_COMMAND, IDC_NO_MORE_PROMPTS, 0), FALSE);
        EXPECT_EQ(IncomingCallDialogProc(dialog, WM_CLOSE, 0, 0), FALSE);
        EXPECT_TRUE(IsWindow(dialog));
        EXPECT_EQ(Responses(), 0);

        SendDlgItemMessageA(dialog, IDC_NO_MORE_PROMPTS, BM_SETCHECK, BST_CHECKED, 0);
        EXPECT_EQ(IncomingCallDialogProc(dialog, WM_COMMAND, IDC_IGNORE, 0), TRUE);
        EXPECT_FALSE(IsWindow(dialog));
        EXPECT_EQ(CurrentDialog, nullptr);
        EXPECT_EQ(Responses(), 1);
        EXPECT_EQ(pLineStatusRecord->Response, (DWORD)(RESPONSE_IGNORE | RESPONSE_NO_MORE_PROMPTS));
    });
}

TEST(CallDialogProcedures, AnAnswerWithoutTheControlDeviceIsKeptInTheRecordAndTheDialogCloses)
{
    InWorld([] {
        CloseHandle(ModemControlDevice);
        ModemControlDevice = NULL;
        HWND dialog = CreateDialogParamA(NULL, MAKEINTRESOURCEA(IDD_INCOMING_CALL_MOH), NULL,
                                         IncomingCallDialogProc, 0);
        ASSERT_NE(dialog, nullptr);
        CurrentDialog = dialog;
        EXPECT_EQ(IncomingCallDialogProc(dialog, WM_COMMAND, IDC_ACCEPT, 0), TRUE);
        EXPECT_FALSE(IsWindow(dialog));
        EXPECT_EQ(Responses(), 0);
        EXPECT_EQ(pLineStatusRecord->Response, (DWORD)RESPONSE_ACCEPT);
    });
}

TEST(CallDialogProcedures, HoldTimesAreFormattedAsMinutesAndSecondsWithUnsignedDivision)
{
    char text[HOLD_TIME_TEXT_SIZE];
    const struct {
        DWORD seconds;
        const char *shown;
    } cases[] = {{0, "00:00"}, {59, "00:59"}, {60, "01:00"}, {3599, "59:59"}, {3600, "60:00"},
                 {6000, "100:00"}, {0xFFFFFFFFu, "71582788:15"}};
    for (auto &c : cases) {
        FormatHoldTime(text, c.seconds);
        EXPECT_STREQ(text, c.shown) << c.seconds << " seconds";
    }
}
