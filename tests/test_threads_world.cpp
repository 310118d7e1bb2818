// Both program threads under the world's scheduler: hand-offs between them stay sound (these run under
// ThreadSanitizer too), and the same scenario with the same preemption seed replays identically.
#include <algorithm>

#include <gtest/gtest.h>

#include "speaker_support.h"
#include "support.h"

namespace {

const char *kBothThreadsBusy = R"(
driver: {voice: 0, control: 0, stop: hang}
trace: [ioctl]
events:
  - {at: 0.5, voice_status: 2}
  - {at: 1.2, voice_error: 31}
  - {at: 3.7, dismiss: true}
  - {at: 4.1, close: true}
)";

std::string Lines(const support::Run &run, const char *ev)
{
    std::string out;
    for (auto &e : run.Of(ev))
        out += e.dump() + "\n";
    return out;
}

}  // namespace

TEST(ThreadsWorld, WatchThreadMessageBoxAndPollRunSideBySide)
{
    support::Run run = support::Play(kBothThreadsBusy);
    ASSERT_EQ(run.status, 0) << run.Dump();
    // The message box belongs to the watch thread; the poll goes on meanwhile.
    EXPECT_EQ(run.Of("ioctl").size(), 4u) << run.Dump();
    EXPECT_EQ(run.Find("messagebox-closed")["t"], 3700);
    // The thread ended on its failed read: the shut-down finds no thread and terminates nothing.
    EXPECT_TRUE(run.Find("thread", {{"event", "terminated"}}).is_null()) << run.Dump();
    EXPECT_EQ(run.Find("exit")["t"], 4100);
}

TEST(ThreadsWorld, PreemptionAtPlatformCallsKeepsTheObservableOrderAndReplays)
{
    support::Run plain = support::Play(kBothThreadsBusy);
    for (int seed : {1, 2, 3, 17, 99}) {
        std::string yaml = std::string(kBothThreadsBusy) + "schedule: {preempt: " + std::to_string(seed) + "}\n";
        support::Run a = support::Play(yaml);
        support::Run b = support::Play(yaml);
        ASSERT_EQ(a.status, 0) << a.Dump();
        EXPECT_EQ(a.Dump(), b.Dump()) << "seed " << seed << " did not replay";
        for (const char *ev : {"ioctl", "messagebox", "messagebox-closed", "exit"})
            EXPECT_EQ(Lines(a, ev), Lines(plain, ev)) << "seed " << seed << ", " << ev;
    }
}

TEST(ThreadsWorld, ShutDownClosesTheThreadHandleItWaitedForWhenTheThreadEndsDuringTheWait)
{
    // The read fails and the thread's box waits for the user; the window closes at 2 s, and the
    // shut-down is waiting for the thread when the user dismisses the box at 3 s: the thread ends and
    // clears its handle in the middle of the wait.
    const std::string yaml = R"(
driver: {voice: 0, control: 0}
events:
  - {at: 1, voice_error: 31}
  - {at: 2, close: true}
  - {at: 3, dismiss: true}
)";
    for (int seed : {0, 1, 2, 3, 17}) {
        std::string scenario = yaml + (seed ? "schedule: {preempt: " + std::to_string(seed) + "}\n" : "");
        EXPECT_TRUE(support::InChild([&scenario] {
            static HANDLE thread;
            sim::AtFinish([] {
                std::string timeline;
                for (auto &e : spk::Trace())
                    if (e["ev"] == "thread" || e["ev"] == "messagebox-closed" || e["ev"] == "exit")
                        timeline += std::to_string(e["t"].get<long long>()) + " " + e["ev"].get<std::string>() +
                                    (e.contains("event") ? " " + e["event"].get<std::string>() : "") + "\n";
                EXPECT_EQ(timeline, "0 thread start\n3000 messagebox-closed\n3000 thread end\n3000 exit\n");
                DWORD code;
                EXPECT_FALSE(GetExitCodeThread(thread, &code)) << "the handle waited for is still open";
            });
            spk::PlayWithProbes(scenario, {{1500, [] {
                                                thread = WatchThread;
                                                EXPECT_NE(thread, (HANDLE)NULL);
                                            }}});
        })) << "seed " << seed;
    }
}

TEST(ThreadsWorld, AReaderReturningDuringShutDownNeverMeetsAStreamHalfShut)
{
    // The wait for the thread runs out at 7 s and the thread cannot be terminated, as the driver
    // completes the read with a new request at that very moment: the shut-down stops the streams
    // while the thread, back from its read, stops and starts them. Each stream's work runs whole, one
    // thread after the other, whichever way the two threads are interleaved: nothing is refused for
    // the other thread's half-done work (a header unprepared while queued, a device closed while
    // playing, a header written that the other has just unprepared, a device used after its close).
    // The only refusal is the thread's late open, the window for its notices being gone by then.
    const std::string yaml = R"(
driver: {voice: 0, control: 0, stop: hang}
faults: [{call: TerminateThread}]
events:
  - {at: 2, speaker: {pD: 0xC, rD: 4}}
  - {at: 5, close: true}
  - {at: 7, speaker: {pD: 0xC, rD: 4}}
)";
    for (int seed = 1; seed <= 24; ++seed) {
        std::string scenario = yaml + "schedule: {preempt: " + std::to_string(seed) + "}\n";
        EXPECT_TRUE(support::InChild([&scenario] {
            static size_t from;
            sim::AtFinish([] {
                std::vector<std::string> calls = spk::Calls(from);
                for (const std::string &c : calls) {
                    if (c.find(" -> ") != std::string::npos) {
                        EXPECT_TRUE(c == "waveOutOpen -> 11" || c == "waveInOpen -> 11")
                            << c << " among the calls from the shut-down on:\n" << spk::Lines(calls);
                    }
                }
                // The shut-down stopped both streams.
                EXPECT_NE(std::find(calls.begin(), calls.end(), "waveOutClose"), calls.end()) << spk::Lines(calls);
                EXPECT_NE(std::find(calls.begin(), calls.end(), "waveInClose"), calls.end()) << spk::Lines(calls);
            });
            spk::PlayWithProbes(scenario, {{6999, [] { from = sim::SoundCalls().size(); }}});
        })) << "seed " << seed;
    }
}
