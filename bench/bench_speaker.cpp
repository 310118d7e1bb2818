// What the program spends on each wave notice of the speakerphone, early and late in a long call.
//
// A call of 61 minutes is played through the sound card double in free-running mode: the card
// completes one record buffer every 64 ms and one playback buffer every 128 ms of call time, and each
// notice goes through the host window's routing to the stream handlers. Only the handlers are timed.
// Run under callgrind (bench/notice_cost.py does), the handlers alone are measured, in windows of
// notices after 1, 10 and 60 minutes of call, each window dumped on its own.
#include <benchmark/benchmark.h>
#include <valgrind/callgrind.h>

#include <chrono>
#include <deque>
#include <string>

#include "app/host_window.h"
#include "driver/device_link.h"
#include "sound.h"
#include "speaker/spk_lock_mem.h"
#include "speaker/streams.h"

namespace {

struct Notice {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

std::deque<Notice> g_notices;

// Call minutes at which a window of notices is measured, and its size in notices of each kind.
const int kCheckpoints[] = {1, 10, 60};
constexpr int kWindow = 200;

void Setup()
{
    sim::SoundSetNoticeSink([](HWND, UINT msg, WPARAM wParam, LPARAM lParam) {
        g_notices.push_back(Notice{msg, wParam, lParam});
    });
    InitStreamGuards();
    pSpkLockMem = (SpkLockMem *)VirtualAlloc(NULL, SPK_LOCK_MEM_REQUEST, MEM_COMMIT, PAGE_READWRITE);
    StartPlayback((HWND)0x1002);
    StartRecord((HWND)0x1002);
    g_notices.clear();  // the open notices
}

void TearDown()
{
    StopPlayback();
    StopRecord();
    VirtualFree(pSpkLockMem, 0, MEM_RELEASE);
    pSpkLockMem = NULL;
    DeleteStreamGuards();
    sim::SoundSetNoticeSink(nullptr);
    g_notices.clear();
}

// Plays `minutes` of call; returns the nanoseconds spent in the handlers and counts the notices. At
// each checkpoint the next kWindow playback notices, then the next kWindow record notices, are
// measured by callgrind, each window in a dump of its own.
double PlayCall(int minutes, long long *play_notices, long long *rec_notices)
{
    double ns = 0;
    long long steps = (long long)minutes * 60 * 1000 / 64;
    size_t checkpoint = 0;
    UINT measuring = 0;  // the notice being measured: MM_WOM_DONE, then MM_WIM_DATA; 0: none
    int left = 0;
    for (long long step = 1; step <= steps; ++step) {
        sim::SoundCompleteOldest(false);
        if (step % 2 == 0)
            sim::SoundCompleteOldest(true);
        if (!measuring && checkpoint < sizeof(kCheckpoints) / sizeof(kCheckpoints[0]) &&
            step >= (long long)kCheckpoints[checkpoint] * 60 * 1000 / 64) {
            measuring = MM_WOM_DONE;
            left = kWindow;
        }
        while (!g_notices.empty()) {
            Notice n = g_notices.front();
            g_notices.pop_front();
            bool measured = n.msg == measuring;
            if (measured)
                CALLGRIND_TOGGLE_COLLECT;
            auto start = std::chrono::steady_clock::now();
            RouteWaveMessage(n.msg, n.wParam, n.lParam);
            ns += std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
            if (measured) {
                CALLGRIND_TOGGLE_COLLECT;
                if (--left == 0) {
                    std::string label = std::string(measuring == MM_WOM_DONE ? "playback" : "record") +
                                        " notices after " + std::to_string(kCheckpoints[checkpoint]) + " min";
                    CALLGRIND_DUMP_STATS_AT(label.c_str());
                    if (measuring == MM_WOM_DONE) {
                        measuring = MM_WIM_DATA;
                        left = kWindow;
                    } else {
                        measuring = 0;
                        ++checkpoint;
                    }
                }
            }
            ++*(n.msg == MM_WOM_DONE ? play_notices : rec_notices);
        }
    }
    return ns;
}

void BM_SpeakerNotices(benchmark::State &state)
{
    long long play = 0, rec = 0;
    double ns = 0;
    for (auto _ : state) {
        Setup();
        double spent = PlayCall((int)state.range(0), &play, &rec);
        TearDown();
        state.SetIterationTime(spent / 1e9);
        ns += spent;
    }
    state.counters["playback_notices"] = (double)play;
    state.counters["record_notices"] = (double)rec;
    state.counters["ns_per_notice"] = ns / (double)(play + rec);
}
BENCHMARK(BM_SpeakerNotices)->Arg(61)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
