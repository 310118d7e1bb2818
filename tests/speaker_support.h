// Helpers for the speakerphone tests: a world in this (child) process with a window that routes wave
// notices as the host window does, a message pump in virtual time, and readable call logs.
#ifndef TESTS_SPEAKER_SUPPORT_H
#define TESTS_SPEAKER_SUPPORT_H

#include <windows.h>
#include <mmsystem.h>

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/host_window.h"
#include "driver/device_link.h"
#include "play.h"
#include "sound.h"
#include "user32.h"
#include "world.h"
#include "speaker/spk_lock_mem.h"
#include "speaker/streams.h"
#include "support.h"

namespace spk {

struct Notice {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

// Every wave notice the test window received, in order.
inline std::vector<Notice> &Notices()
{
    static std::vector<Notice> notices;
    return notices;
}

// The trace of the world, as JSON objects.
inline std::vector<support::Json> &Trace()
{
    static std::vector<support::Json> trace;
    return trace;
}

inline LRESULT CALLBACK NoticeWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg >= MM_WOM_OPEN && msg <= MM_WIM_DATA) {
        Notices().push_back(Notice{msg, wParam, lParam});
        RouteWaveMessage(msg, wParam, lParam);
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// Runs body as the main thread of a fresh world; the child's exit status carries gtest's verdict even
// when the world ends the process on its own.
inline void RunWorld(const std::function<void()> &body)
{
    sim::SetTraceSink([](const std::string &line) { Trace().push_back(support::Json::parse(line)); });
    sim::AtFinish([] {
        fflush(stdout);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    });
    sim::SoundKeepCalls(true);
    sim::RunMain([&] {
        body();
        return 0;
    });
}

// Plays a scenario in this (child) process, as the runner would, with probes that look at the
// program's state at chosen virtual times (before any scenario event due at the same time). The
// child's exit status carries gtest's verdict.
inline void PlayWithProbes(const std::string &yaml, const std::vector<std::pair<sim::Ms, std::function<void()>>> &probes)
{
    sim::Scenario s = sim::ParseScenario(yaml, "test.yaml");
    for (auto &p : probes)
        sim::At(p.first, p.second);
    sim::AtFinish([] {
        fflush(stdout);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    });
    sim::SoundKeepCalls(true);
    sim::PlayOptions options;
    options.sink = [](const std::string &line) { Trace().push_back(support::Json::parse(line)); };
    sim::Play(s, options);
}

// The trace events named ev.
inline std::vector<support::Json> Events(const std::string &ev)
{
    std::vector<support::Json> out;
    for (auto &e : Trace())
        if (e["ev"] == ev)
            out.push_back(e);
    return out;
}

inline HWND NoticeWindow()
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = NoticeWindowProc;
    wc.lpszClassName = "SpeakerNotices";
    RegisterClassA(&wc);
    return CreateWindowExA(0, "SpeakerNotices", "", 0, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
}

// The speakerphone block as the device link allocates it, with the stream guards ready.
inline SpkLockMem *NewBlock()
{
    InitStreamGuards();
    pSpkLockMem = (SpkLockMem *)VirtualAlloc(NULL, SPK_LOCK_MEM_REQUEST, MEM_COMMIT, PAGE_READWRITE);
    return pSpkLockMem;
}

// Runs the window's message loop for `ms` of virtual time (10 ms at least, as window timers go).
inline void Pump(HWND hwnd, sim::Ms ms)
{
    const UINT_PTR kPumpTimer = 0x5EED;
    SetTimer(hwnd, kPumpTimer, (UINT)ms, NULL);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0)) {
        if (msg.message == WM_TIMER && msg.wParam == kPumpTimer)
            break;
        DispatchMessageA(&msg);
    }
    KillTimer(hwnd, kPumpTimer);
}

// "P3" for playback header 3, "R15" for record header 15, "-" for none, "?" for a foreign one.
inline std::string HeaderName(const WAVEHDR *h)
{
    SpkLockMem *b = pSpkLockMem;
    if (!h)
        return "-";
    if (b && h >= b->PlayHdr && h < b->PlayHdr + PLAY_BUFFERS)
        return "P" + std::to_string(h - b->PlayHdr);
    if (b && h >= b->RecHdr && h < b->RecHdr + REC_BUFFERS)
        return "R" + std::to_string(h - b->RecHdr);
    return "?";
}

// The wave calls from `from` on, one per entry: "waveOutWrite P4" with " -> 33" when refused.
inline std::vector<std::string> Calls(size_t from = 0)
{
    std::vector<std::string> out;
    const auto &calls = sim::SoundCalls();
    for (size_t i = from; i < calls.size(); ++i) {
        std::string s = calls[i].call;
        if (calls[i].header)
            s += " " + HeaderName(calls[i].header);
        if (calls[i].result != MMSYSERR_NOERROR)
            s += " -> " + std::to_string(calls[i].result);
        out.push_back(s);
    }
    return out;
}

inline std::string Lines(const std::vector<std::string> &v)
{
    std::string out;
    for (auto &s : v)
        out += "    " + s + "\n";
    return out;
}

// The calls as a sequence, compared with the expected one; both are printed when they differ.
inline ::testing::AssertionResult SameCalls(const std::vector<std::string> &expected,
                                            const std::vector<std::string> &actual)
{
    if (expected == actual)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "expected calls:\n" << Lines(expected) << "actual calls:\n"
                                         << Lines(actual);
}
#define EXPECT_CALLS(...) EXPECT_TRUE(spk::SameCalls(__VA_ARGS__))

inline std::vector<std::string> Repeat(const std::string &call, char ring, int from, int to)
{
    std::vector<std::string> out;
    for (int k = from; k <= to; ++k)
        out.push_back(call + " " + ring + std::to_string(k));
    return out;
}

inline std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> out;
    for (auto &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The calls of a whole start or stop of each stream.
inline std::vector<std::string> PlaybackStartCalls()
{
    return Join({{"waveOutOpen", "waveOutOpen"}, Repeat("waveOutPrepareHeader", 'P', 0, 7), {"waveOutPause"},
                 Repeat("waveOutWrite", 'P', 0, 3), {"waveOutRestart"}});
}
inline std::vector<std::string> RecordStartCalls()
{
    return Join({{"waveInOpen"}, Repeat("waveInPrepareHeader", 'R', 0, 15), Repeat("waveInAddBuffer", 'R', 0, 1),
                 {"waveInStart"}});
}
inline std::vector<std::string> PlaybackStopCalls()
{
    return Join({{"waveOutReset"}, Repeat("waveOutUnprepareHeader", 'P', 0, 7), {"waveOutClose"}});
}
inline std::vector<std::string> RecordStopCalls()
{
    return Join({{"waveInStop", "waveInReset"}, Repeat("waveInUnprepareHeader", 'R', 0, 15), {"waveInClose"}});
}

inline int Refusals(size_t from = 0)
{
    int n = 0;
    const auto &calls = sim::SoundCalls();
    for (size_t i = from; i < calls.size(); ++i)
        n += calls[i].result != MMSYSERR_NOERROR;
    return n;
}

inline int CountNotices(UINT msg)
{
    int n = 0;
    for (auto &x : Notices())
        n += x.msg == msg;
    return n;
}

}  // namespace spk

#endif
