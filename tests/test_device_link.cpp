// The device link and the host window, played as scenarios against the real program.
#include <gtest/gtest.h>

#include "support.h"

using support::Json;
using support::Play;
using Trace = support::Run;

namespace {

// The trace's events of the given kinds, as "t ev key=value..." lines, for comparing with a table.
std::vector<std::string> Timeline(const Trace &run, const std::vector<std::string> &kinds)
{
    std::vector<std::string> out;
    for (auto &e : run.events) {
        bool wanted = false;
        for (const std::string &k : kinds)
            wanted = wanted || e["ev"] == k;
        if (!wanted)
            continue;
        std::string line = std::to_string(e["t"].get<long long>()) + " " + e["ev"].get<std::string>();
        for (auto &item : e.items())
            if (item.key() != "t" && item.key() != "ev")
                line += " " + item.key() + "=" + (item.value().is_string() ? item.value().get<std::string>()
                                                                            : item.value().dump());
        out.push_back(line);
    }
    return out;
}

std::string Lines(const std::vector<std::string> &lines)
{
    std::string s;
    for (auto &l : lines)
        s += "  " + l + "\n";
    return s;
}

// Compares the events of the given kinds with the expected table, printing both when they differ.
void ExpectTimeline(const Trace &run, const std::vector<std::string> &kinds, const std::vector<std::string> &expected)
{
    std::vector<std::string> actual = Timeline(run, kinds);
    EXPECT_EQ(actual, expected) << "expected:\n" << Lines(expected) << "actual:\n" << Lines(actual);
}

}  // namespace

TEST(DeviceLink, BothDevicesPresentStartsThreadAndPollWithoutRetry)
{
    Trace run = Play(R"(
driver: {voice: 0, control: 0}
trace: [ioctl]
events: [{at: 3.5, close: true}]
)");
    ASSERT_EQ(run.status, 0) << run.Dump();
    // The window's class and styles as the system holds them, readable by any program from the window.
    ExpectTimeline(run, {"class", "window", "device", "thread", "timer", "ioctl", "exit"},
                    {"0 class name=Tarvo VudIzeri style=0 class_extra=0 window_extra=0 module=program icon=GENERIC "
                     "cursor=cursor 32512 brush=stock 0 menu=null",
                     "0 window class=Tarvo VudIzeri title=Tarvo VudIzeri visible=false style=13565952 exstyle=0",
                     "0 device name=\\\\.\\VVOICE ok=true", "0 thread event=start",
                     "0 device name=\\\\.\\VXMCOM ok=true", "0 timer id=1 period=1000 set=true",
                     "1000 ioctl code=2155882500 ok=true", "2000 ioctl code=2155882500 ok=true",
                     "3000 ioctl code=2155882500 ok=true", "3500 timer id=1 set=false", "3500 thread event=end",
                     "3500 exit code=0"});
}

// Every version the program meets: the watch thread starts (Windows 95, 98 and Me refuse a thread
// without a place for its identifier), the streams run when the driver asks, the telephony check
// finds the location (Windows 95's library has only the generic name), and the suspend veto is asked
// where the system sends power events at all (not on NT 4).
TEST(DeviceLink, EveryVersionStartsTheWatchThreadRunsTheStreamsAndFindsTheLocation)
{
    for (const char *windows : {"95", "98", "me", "nt4", "2000", "xp"}) {
        bool power = std::string(windows) != "nt4";
        Trace run = Play(std::string("system: {windows: ") + windows + ", telephony: location, dialup: 0}\n" +
                         "driver: {voice: 0, control: 0}\n"
                         "events:\n"
                         "  - {at: 1.5, status: 0x200}\n"
                         "  - {at: 2, speaker: {pD: 0xC, rD: 4}}\n" +
                         (power ? "  - {at: 3, power: query-suspend}\n" : "") +
                         "  - {at: 4, close: true}\n");
        ASSERT_EQ(run.status, 0) << windows << "\n" << run.Dump();
        EXPECT_FALSE(run.Find("thread", {{"event", "start"}}).is_null()) << windows << "\n" << run.Dump();
        EXPECT_FALSE(run.Find("stream", {{"dir", "out"}, {"state", "running"}}).is_null()) << windows << "\n"
                                                                                            << run.Dump();
        EXPECT_FALSE(run.Find("stream", {{"dir", "in"}, {"state", "running"}}).is_null()) << windows << "\n"
                                                                                           << run.Dump();
        EXPECT_TRUE(run.Of("exec").empty()) << windows << ": the control panel opened\n" << run.Dump();
        if (power) {
            EXPECT_FALSE(run.Find("power", {{"answer", "deny"}}).is_null()) << windows << "\n" << run.Dump();
        }
        EXPECT_EQ(run.Find("exit")["code"], 0) << windows << "\n" << run.Dump();
    }
}

TEST(DeviceLink, NeitherDeviceRetriesOnlyTheVoiceDeviceEveryMinute)
{
    Trace run = Play(R"(
driver: {}
events: [{at: 200, close: true}]
)");
    ASSERT_EQ(run.status, 0) << run.Dump();
    // Closing waits for no thread: the process ends in the same millisecond.
    ExpectTimeline(run, {"device", "thread", "timer", "exit"},
                    {"0 device name=\\\\.\\VVOICE ok=false", "0 timer id=2 period=60000 set=true",
                     "60000 device name=\\\\.\\VVOICE ok=false", "120000 device name=\\\\.\\VVOICE ok=false",
                     "180000 device name=\\\\.\\VVOICE ok=false", "200000 exit code=0"});
}

TEST(DeviceLink, ControlDeviceAppearingLaterStartsPollButNoSecondThread)
{
    Trace run = Play(R"(
driver: {voice: 0, control: 90}
events: [{at: 130, close: true}]
)");
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectTimeline(run, {"device", "thread", "timer"},
                    {"0 device name=\\\\.\\VVOICE ok=true", "0 thread event=start",
                     "0 device name=\\\\.\\VXMCOM ok=false", "0 timer id=2 period=60000 set=true",
                     "60000 device name=\\\\.\\VXMCOM ok=false", "120000 device name=\\\\.\\VXMCOM ok=true",
                     "120000 timer id=1 period=1000 set=true", "120000 timer id=2 set=false",
                     "130000 timer id=1 set=false", "130000 thread event=end"});
}

TEST(DeviceLink, VoiceDeviceAppearingLaterStartsThreadAndPollInTheSameTick)
{
    Trace run = Play(R"(
driver: {voice: 30, control: 0}
events: [{at: 61, close: true}]
)");
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectTimeline(run, {"device", "thread", "timer"},
                    {"0 device name=\\\\.\\VVOICE ok=false", "0 timer id=2 period=60000 set=true",
                     "60000 device name=\\\\.\\VVOICE ok=true", "60000 thread event=start",
                     "60000 device name=\\\\.\\VXMCOM ok=true", "60000 timer id=1 period=1000 set=true",
                     "60000 timer id=2 set=false", "61000 timer id=1 set=false", "61000 thread event=end"});
}

TEST(DeviceLink, ShutDownTerminatesAThreadWhoseReadNeverCompletes)
{
    Trace hang = Play(R"(
driver: {voice: 0, control: 0, stop: hang}
events: [{at: 5, close: true}]
)");
    ASSERT_EQ(hang.status, 0) << hang.Dump();
    ExpectTimeline(hang, {"thread", "exit"},
                    {"0 thread event=start", "7000 thread event=terminated", "7000 exit code=0"});

    Trace complete = Play(R"(
driver: {voice: 0, control: 0, stop: complete}
events: [{at: 5, close: true}]
)");
    ASSERT_EQ(complete.status, 0) << complete.Dump();
    ExpectTimeline(complete, {"thread", "exit"},
                    {"0 thread event=start", "5000 thread event=end", "5000 exit code=0"});

    // A wait that fails tells nothing of the thread, whose read may still be pending: it is
    // terminated at once, before the devices are closed and the block released.
    Trace failed = Play(R"(
driver: {voice: 0, control: 0, stop: hang}
faults: [{call: WaitForSingleObject, error: 6}]
events: [{at: 5, close: true}]
)");
    ASSERT_EQ(failed.status, 0) << failed.Dump();
    ExpectTimeline(failed, {"fault", "thread", "exit"},
                    {"0 thread event=start", "5000 fault call=WaitForSingleObject n=1 error=6",
                     "5000 thread event=terminated", "5000 exit code=0"});

    // A thread that outlives the wait and refuses to be terminated may still be in its read, and uses
    // the voice device, the block and the stream guards when it returns: those stay; the streams it
    // started are stopped, and the control device and the record are released all the same.
    Trace refused = Play(R"(
driver: {voice: 0, control: 0, stop: hang}
faults: [{call: TerminateThread}]
events: [{at: 2, speaker: {pD: 0xC, rD: 4}}, {at: 5, close: true}]
)");
    ASSERT_EQ(refused.status, 0) << refused.Dump();
    ExpectTimeline(refused, {"fault", "thread", "exit"},
                    {"0 thread event=start", "7000 fault call=TerminateThread n=1 error=5", "7000 exit code=0"});
    std::vector<std::string> held;
    Json account = refused.Find("held");
    for (auto &item : account["items"])
        held.push_back(item["kind"].get<std::string>() + " " + item["name"].get<std::string>());
    const std::vector<std::string> kept = {"critical-section critical section", "critical-section critical section",
                                           "memory 33460 bytes", "device \\\\.\\VVOICE", "module TAPI32.DLL"};
    EXPECT_EQ(held, kept) << "expected:\n" << Lines(kept) << "held:\n" << Lines(held);
}

TEST(DeviceLink, DevicesAreOpenedExclusivelyAndClosedAtShutDown)
{
    // A second program could open the devices only after this one has closed them: the double
    // refuses a second open while a handle is open, so a device that opens at the next start proves
    // it was closed. Here: the control device vanishes and comes back; the poll's reads fail from then
    // on, since the handle opened before the removal stays dead after the device is back.
    Trace run = Play(R"(
driver: {voice: 0, control: 0}
trace: [ioctl]
events:
  - {at: 1.5, devices: {control: absent}}
  - {at: 2.5, devices: {control: present}}
  - {at: 3.2, close: true}
)");
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectTimeline(run, {"ioctl"},
                    {"1000 ioctl code=2155882500 ok=true", "2000 ioctl code=2155882500 ok=false",
                     "3000 ioctl code=2155882500 ok=false"});
}

TEST(HostWindow, CloseEndsTheProcessWithExitCodeZero)
{
    Trace run = Play(R"(
driver: {voice: 0, control: 0}
events: [{at: 1, close: true}]
end: 100
)");
    ASSERT_EQ(run.status, 0) << run.Dump();
    Json exit = run.Find("exit");
    ASSERT_FALSE(exit.is_null()) << run.Dump();
    EXPECT_EQ(exit["code"], 0);
    EXPECT_EQ(exit["t"], 1000);
    EXPECT_EQ(run.events.back()["ev"], "end");
    EXPECT_EQ(run.events.back()["reason"], "exit");
}

// Another program posts keystrokes to the hidden window. Its message loop translates them: Alt with a
// letter or a digit goes to the window menu, which has no item for it, and the system beeps; the letter
// alone and Alt with Tab make no sound. The program runs on until it is closed.
TEST(HostWindow, AltWithALetterPostedByAnotherProgramBeeps)
{
    Trace run = Play(R"(
driver: {voice: 0, control: 0}
events:
  - {at: 1, key: Alt+V}
  - {at: 1.5, key: V}
  - {at: 2, key: Alt+Tab}
  - {at: 2.5, key: alt+5}
  - {at: 3, close: true}
end: 4000
)");
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectTimeline(run, {"user", "beep", "shown", "exit"},
                    {"1000 user action=key key=Alt+V ok=true", "1000 beep type=0 window=Tarvo VudIzeri",
                     "1500 user action=key key=V ok=true", "2000 user action=key key=Alt+Tab ok=true",
                     "2500 user action=key key=alt+5 ok=true", "2500 beep type=0 window=Tarvo VudIzeri",
                     "3000 exit code=0"});
}

TEST(HostWindow, IsNeverShownWhateverTheShowCommand)
{
    for (const char *show : {"normal", "maximized", "minimized", "show", "default"}) {
        Trace run = Play(std::string("system: {show: ") + show + "}\ndriver: {voice: 0, control: 0}\n"
                       "events: [{at: 2, close: true}]\n");
        ASSERT_EQ(run.status, 0) << run.Dump();
        EXPECT_EQ(run.Of("window").size(), 1u) << show;
        EXPECT_EQ(run.Find("window")["visible"], false) << show;
        EXPECT_TRUE(run.Of("shown").empty()) << "shown with " << show << ":\n" << run.Dump();
    }
}

TEST(HostWindow, NoWindowClassOrNoWindowEndsWithZeroAndDoesNothing)
{
    for (const char *call : {"RegisterClassA", "CreateWindowExA"}) {
        Trace run = Play(std::string("driver: {voice: 0, control: 0}\nfaults: [{call: ") + call + ", error: 8}]\n");
        ASSERT_EQ(run.status, 0) << run.Dump();
        EXPECT_EQ(run.Find("exit")["code"], 0) << call;
        EXPECT_EQ(run.Find("exit")["t"], 0) << call;
        EXPECT_TRUE(run.Of("device").empty()) << call << "\n" << run.Dump();
    }
}

TEST(WatchThread, FailedReadShowsTheSystemTextAndShutDownDoesNotWait)
{
    Trace run = Play(R"(
driver: {voice: 0, control: 0}
events:
  - {at: 1, voice_error: 31}
  - {at: 4, dismiss: true}
  - {at: 6, close: true}
)");
    ASSERT_EQ(run.status, 0) << run.Dump();
    Json box = run.Find("messagebox");
    ASSERT_FALSE(box.is_null()) << run.Dump();
    EXPECT_EQ(box["t"], 1000);
    EXPECT_EQ(box["caption"], "GetLastError");
    EXPECT_EQ(box["text"], "A device attached to the system is not functioning.\r\n");
    EXPECT_EQ(box["flags"], 0x40);  // MB_ICONINFORMATION alone
    EXPECT_EQ(box["owner"], nullptr);
    ExpectTimeline(run, {"messagebox-closed", "thread", "exit"},
                    {"0 thread event=start", "4000 messagebox-closed caption=GetLastError depth=1",
                     "4000 thread event=end", "6000 exit code=0"});
    // By design nobody closes the handle of a thread that ended on a failed read: it is what the
    // program holds at the end, beside the telephony library; the message's buffer was freed.
    Json held = run.Find("held");
    ASSERT_FALSE(held.is_null()) << run.Dump();
    ASSERT_EQ(held["items"].size(), 2u) << held.dump();
    EXPECT_EQ(held["items"][0], Json::parse(R"({"kind": "thread", "name": "thread 2", "by": "CreateThread",
                                                "nth": 1, "handle": "0x104", "ended": true})")) << held.dump();
    EXPECT_EQ(held["items"][1]["name"], "TAPI32.DLL") << held.dump();

    // A code the system has no text for shows as the code itself.
    Trace bare = Play("driver: {voice: 0, control: 0}\nevents: [{at: 1, voice_error: 536870913}]\n");
    ASSERT_EQ(bare.status, 0) << bare.Dump();
    EXPECT_EQ(bare.Find("messagebox")["text"], "Error 536870913") << bare.Dump();
}

// The message boxes of a run, opened and closed, as "t ev caption depth", and what the user did.
std::vector<std::string> Boxes(const Trace &run)
{
    std::vector<std::string> out;
    for (auto &e : run.events) {
        std::string ev = e["ev"];
        if (ev == "messagebox" || ev == "messagebox-closed")
            out.push_back(std::to_string(e["t"].get<long long>()) + " " + ev + " " +
                          e["caption"].get<std::string>() + " " + e["depth"].dump());
        else if (ev == "user" || (ev == "thread" && e["event"] != "start"))
            out.push_back(std::to_string(e["t"].get<long long>()) + " " + ev + " " +
                          e[ev == "user" ? "action" : "event"].get<std::string>() +
                          (e.contains("caption") ? " " + e["caption"].get<std::string>() : "") +
                          (e.contains("ok") && e["ok"] == false ? " refused" : ""));
    }
    return out;
}

void ExpectBoxes(const Trace &run, const std::vector<std::string> &expected)
{
    std::vector<std::string> actual = Boxes(run);
    EXPECT_EQ(actual, expected) << "expected:\n" << Lines(expected) << "actual:\n" << Lines(actual);
}

TEST(WatchThread, ItsBoxAndTheMainThreadsWarningNestEachOnItsOwnThread)
{
    // The watch thread's box opens first, the main thread's warning after it: each is the outermost
    // of its thread. The user dismisses the watch thread's box by its caption although the warning
    // opened last; "dismiss: true" then takes the warning, and a caption no box has is refused.
    Trace run = Play(R"(
driver: {voice: 0, control: 0}
events:
  - {at: 0.5, voice_error: 31}
  - {at: 1.5, status: 0x100}
  - {at: 3, dismiss: GetLastError}
  - {at: 4, dismiss: GetLastError}
  - {at: 4.5, status: 0}
  - {at: 5, dismiss: true}
  - {at: 5.5, close: true}
)");
    ASSERT_EQ(run.status, 0) << run.Dump();
    Json warning = run.Find("messagebox", {{"t", 2000}});
    ASSERT_FALSE(warning.is_null()) << run.Dump();
    std::string caption = warning["caption"];
    ExpectBoxes(run, {"500 messagebox GetLastError 1", "2000 messagebox " + caption + " 1",
                      "3000 messagebox-closed GetLastError 1", "3000 thread end",
                      "4000 user dismiss GetLastError refused", "5000 messagebox-closed " + caption + " 1"});
}

TEST(WatchThread, TerminatedWithItsBoxOpenTheBoxClosesWithIt)
{
    // Nobody dismisses the box: at shut-down the wait for the thread times out and the thread is
    // terminated; its box goes with it.
    Trace run = Play(R"(
driver: {voice: 0, control: 0}
events:
  - {at: 1, voice_error: 31}
  - {at: 3, close: true}
)");
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectBoxes(run, {"1000 messagebox GetLastError 1", "5000 thread terminated",
                      "5000 messagebox-closed GetLastError 1"});
    EXPECT_EQ(run.Find("exit")["t"], 5000) << run.Dump();
    // The box's window went with the thread; the text it showed was never freed (the thread could not).
    std::vector<std::string> held;
    Json account = run.Find("held");
    for (const Json &item : account["items"])
        held.push_back(item["kind"].get<std::string>() + " " + item["name"].get<std::string>());
    ASSERT_EQ(held.size(), 2u) << run.Dump();
    EXPECT_EQ(held[0], "module TAPI32.DLL") << run.Dump();
    EXPECT_EQ(held[1].substr(0, 6), "local ") << run.Dump();
}

TEST(WatchThread, OnlyStatusFourEndsTheThread)
{
    Trace run = Play(R"(
driver: {voice: 0, control: 0}
events:
  - {at: 1, voice_status: 0}
  - {at: 2, voice_status: 2}
  - {at: 3, voice_status: 3}
  - {at: 4, speaker: {pD: 0, rD: 0}}
  - {at: 5, voice_status: 4}
  - {at: 8, close: true}
)");
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectTimeline(run, {"thread", "exit"}, {"0 thread event=start", "5000 thread event=end", "8000 exit code=0"});
}

TEST(DeviceLink, FailedThreadStartLeavesTheRestRunning)
{
    Trace run = Play(R"(
driver: {voice: 0, control: 0}
faults: [{call: CreateThread, error: 8}]
trace: [ioctl]
events: [{at: 1.5, close: true}]
)");
    ASSERT_EQ(run.status, 0) << run.Dump();
    EXPECT_TRUE(run.Of("thread").empty()) << run.Dump();
    ExpectTimeline(run, {"device", "ioctl", "exit"},
                    {"0 device name=\\\\.\\VVOICE ok=true", "0 device name=\\\\.\\VXMCOM ok=true",
                     "1000 ioctl code=2155882500 ok=true", "1500 exit code=0"});
}

TEST(DeviceLink, FailedAllocationOpensDevicesButNothingReadsIntoMissingAreas)
{
    Trace run = Play(R"(
driver: {voice: 0, control: 0}
faults: [{call: VirtualAlloc, error: 8}]
trace: [ioctl]
events:
  - {at: 2, dismiss: true}
  - {at: 3.5, close: true}
)");
    ASSERT_EQ(run.status, 0) << run.Dump();
    EXPECT_EQ(run.Of("device").size(), 2u) << run.Dump();
    // The poll has no record to read into; the watch thread's read into no block fails at once.
    EXPECT_TRUE(run.Of("ioctl").empty()) << run.Dump();
    Json box = run.Find("messagebox");
    ASSERT_FALSE(box.is_null()) << run.Dump();
    EXPECT_EQ(box["t"], 0);
    EXPECT_EQ(box["text"], "Invalid access to memory location.\r\n");
    EXPECT_EQ(run.Find("exit")["t"], 3500);
}
