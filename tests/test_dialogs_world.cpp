// The world's dialog manager as only the world shows it: the scripted user, what the trace shows of
// the program's dialogs, their place on screens of several sizes, the focus. (The dialog calls' own
// rules are the conformance suite's, tests/conformance/user32_dialog.c.)
// Each case runs in a world of its own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calls_support.h"
#include "dialogs.h"
#include "user.h"
#include "user32.h"
#include "world.h"

using calls::Json;
using calls::Scenario;
using calls::Trace;
using support::Play;

namespace {

std::vector<std::string> g_seen;  // what the test dialog procedure saw, in order
std::vector<Json> g_trace;        // the child world's trace
INT_PTR g_init_answer = TRUE;     // what the test procedure answers to WM_INITDIALOG

std::string Name(UINT msg)
{
    switch (msg) {
    case WM_SETFONT: return "setfont";
    case WM_INITDIALOG: return "initdialog";
    case WM_COMMAND: return "command";
    case WM_DESTROY: return "destroy";
    default: return "";
    }
}

INT_PTR CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    std::string name = Name(msg);
    if (name.empty())
        return FALSE;
    if (msg == WM_INITDIALOG) {
        HWND accept = GetDlgItem(hwnd, 1);
        name += std::string(" focus=") + ((HWND)wParam == accept && accept ? "accept" : "other");
        name += " param=" + std::to_string(lParam);
        name += std::string(" visible=") + (IsWindowVisible(hwnd) ? "yes" : "no");
        g_seen.push_back(name);
        return g_init_answer;
    }
    if (msg == WM_COMMAND) {
        HWND from = GetDlgItem(hwnd, LOWORD(wParam));
        name += " " + std::to_string(LOWORD(wParam)) + " " + std::to_string(HIWORD(wParam))
                + ((HWND)lParam == from ? " from-control" : " from-elsewhere");
    }
    g_seen.push_back(name);
    return msg == WM_COMMAND;
}

void InWorld(const std::function<void()> &body)
{
    EXPECT_TRUE(support::InChild([&] {
        sim::SetEndTime(3600 * 1000);
        sim::SetTraceSink([](const std::string &line) { g_trace.push_back(Json::parse(line)); });
        sim::RunMain([&] {
            body();
            return 0;
        });
    }));
}

// Runs the thread's message loop until `until` virtual milliseconds.
void LoopUntil(sim::Ms until)
{
    bool done = false;
    sim::At(until, [&done] { done = true; });
    sim::ModalLoop([&done] { return done; });
}

std::vector<Json> Traced(const std::string &ev)
{
    std::vector<Json> out;
    for (const Json &e : g_trace)
        if (e["ev"] == ev)
            out.push_back(e);
    return out;
}

HWND Open(int id, HWND owner = NULL, LPARAM param = 0)
{
    return CreateDialogParamA(sim::kProgramInstance, MAKEINTRESOURCEA(id), owner, RecordingProc, param);
}

}  // namespace

TEST(DialogManager, TheUsersClickReachesTheDialogThroughTheQueueAsBnClicked)
{
    InWorld([] {
        HWND d = Open(101);
        ASSERT_NE(d, nullptr);
        g_seen.clear();
        sim::At(1000, [] { sim::UserAction(sim::kUserClick, 1000); });
        sim::At(2000, [] { sim::UserAction(sim::kUserCheck, 1000); });    // ticked already: nothing
        sim::At(3000, [] { sim::UserAction(sim::kUserUncheck, 1000); });
        sim::At(4000, [] { sim::UserAction(sim::kUserUncheck, 1000); });  // unticked already: nothing
        sim::At(5000, [] { sim::UserAction(sim::kUserClick, 2); });
        sim::At(6000, [] { sim::UserAction(sim::kUserCheck, 2); });       // not a check box: refused
        LoopUntil(6500);
        EXPECT_EQ(g_seen, (std::vector<std::string>{"command 1000 0 from-control", "command 1000 0 from-control",
                                                     "command 2 0 from-control"}));
        EXPECT_EQ(IsDlgButtonChecked(d, 1000), (UINT)BST_UNCHECKED);
        std::vector<Json> users = Traced("user");
        ASSERT_EQ(users.size(), 6u);
        EXPECT_EQ(users[5]["ok"], false);
        EXPECT_EQ(users[5]["reason"], "not a check box");
    });
}

TEST(DialogManager, ADialogIsTracedWhenFirstDrawnAndItsTextsOnlyWhenTheyChangeAfterwards)
{
    InWorld([] {
        HWND d = Open(102);
        ASSERT_NE(d, nullptr);
        SetDlgItemTextA(d, 1002, "01:30");  // before it is drawn: part of the "dialog" event
        SetWindowPos(d, HWND_TOPMOST, 278, 272, 0, 0, SWP_NOSIZE);
        EXPECT_TRUE(Traced("dialog").empty()) << "announced before its thread waited for messages";
        LoopUntil(1000);
        std::vector<Json> dialogs = Traced("dialog");
        ASSERT_EQ(dialogs.size(), 1u);
        EXPECT_EQ(dialogs[0]["template"], 102);
        EXPECT_EQ(dialogs[0]["title"], "Modem-On-Hold");
        EXPECT_EQ(dialogs[0]["x"], 278);
        EXPECT_EQ(dialogs[0]["y"], 272);
        EXPECT_EQ(dialogs[0]["topmost"], true);
        EXPECT_EQ(dialogs[0]["controls"],
                  Json({{"1", "Back On-Line"}, {"1001", "Caller ID information is not available"}, {"1002", "01:30"}}));

        SetDlgItemTextA(d, 1002, "01:29");
        SetDlgItemTextA(d, 1002, "01:29");
        SetDlgItemTextA(d, 1001, "0100");
        std::vector<Json> texts = Traced("text");
        ASSERT_EQ(texts.size(), 2u) << "an unchanged text is no change";
        EXPECT_EQ(texts[0]["control"], 1002);
        EXPECT_EQ(texts[0]["text"], "01:29");
        EXPECT_EQ(texts[1]["control"], 1001);

        DestroyWindow(d);
        std::vector<Json> closed = Traced("closed");
        ASSERT_EQ(closed.size(), 1u);
        EXPECT_EQ(closed[0]["template"], 102);
    });
}

TEST(DialogManager, ADialogDestroyedBeforeItWasDrawnIsStillAnnouncedBeforeItCloses)
{
    InWorld([] {
        HWND d = Open(101);
        DestroyWindow(d);
        LoopUntil(100);
        ASSERT_EQ(Traced("dialog").size(), 1u);
        ASSERT_EQ(Traced("closed").size(), 1u);
        EXPECT_LT(g_trace.size(), 100u);
        size_t dialog_at = 0, closed_at = 0;
        for (size_t i = 0; i < g_trace.size(); ++i) {
            if (g_trace[i]["ev"] == "dialog")
                dialog_at = i;
            if (g_trace[i]["ev"] == "closed")
                closed_at = i;
        }
        EXPECT_LT(dialog_at, closed_at);
    });
}

TEST(DialogManager, CallDialogsAreCentredOnTheScreenAndTopMost)
{
    // The program centres every call dialog: (screen - size) / 2 on screens of two sizes.
    struct {
        int width, height;
    } screens[] = {{1024, 768}, {800, 600}};
    struct {
        const char *word;
        int id, width, height;
    } dialogs[] = {{"16", 101, 446, 288}, {"128", 102, 467, 223}, {"0x50", 103, 422, 280}};
    for (auto &s : screens) {
        std::string events;
        double at = 0.5;
        for (auto &d : dialogs) {
            events += "  - {at: " + std::to_string(at) + ", status: " + d.word + ", hold: 0xFFFF}\n";
            at += 1;
        }
        std::string system =
            "{screen: {width: " + std::to_string(s.width) + ", height: " + std::to_string(s.height) + "}}";
        Trace run = Play(Scenario(events, 4, system));
        ASSERT_EQ(run.status, 0) << run.Dump();
        for (auto &d : dialogs) {
            Json shown = run.Find("dialog", {{"template", d.id}});
            ASSERT_FALSE(shown.is_null()) << run.Dump();
            EXPECT_EQ(shown["width"], d.width) << shown.dump();
            EXPECT_EQ(shown["height"], d.height) << shown.dump();
            EXPECT_EQ(shown["x"], (s.width - d.width) / 2) << shown.dump();
            EXPECT_EQ(shown["y"], (s.height - d.height) / 2) << shown.dump();
            EXPECT_EQ(shown["topmost"], true) << shown.dump();
            EXPECT_EQ(shown["focus"], 1) << "the procedure asked for the default focus: " << shown.dump();
        }
    }
}

TEST(DialogManager, AProcedureAnsweringFalseToInitDialogKeepsTheFocusItself)
{
    InWorld([] {
        g_init_answer = FALSE;
        HWND d = Open(103);
        ASSERT_NE(d, nullptr);
        LoopUntil(100);
        std::vector<Json> dialogs = Traced("dialog");
        ASSERT_EQ(dialogs.size(), 1u);
        EXPECT_TRUE(dialogs[0]["focus"].is_null()) << dialogs[0].dump();
    });
}
