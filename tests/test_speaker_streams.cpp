// The playback and capture streams against the sound card double: starts, stops, the rings, refusals
// at every step, and notices that arrive late.
#include <cstring>

#include "speaker_support.h"

using spk::Calls;
using spk::Join;
using spk::Repeat;

namespace {

bool Prepared(const WAVEHDR &h) { return h.dwFlags & WHDR_PREPARED; }

// Flags of each header of a ring, as a string of letters: P prepared, Q queued, D done.
std::string Flags(const WAVEHDR *hdr, int n)
{
    std::string out;
    for (int k = 0; k < n; ++k) {
        if (k)
            out += " ";
        DWORD f = hdr[k].dwFlags;
        out += (f & WHDR_PREPARED) ? "P" : "";
        out += (f & WHDR_INQUEUE) ? "Q" : "";
        out += (f & WHDR_DONE) ? "D" : "";
        if (!(f & (WHDR_PREPARED | WHDR_INQUEUE | WHDR_DONE)))
            out += "0";
    }
    return out;
}

void ExpectFormat(const SpkLockMem *b)
{
    EXPECT_EQ(b->WaveFormat.wf.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(b->WaveFormat.wf.nChannels, 1);
    EXPECT_EQ(b->WaveFormat.wf.nSamplesPerSec, 8000u);
    EXPECT_EQ(b->WaveFormat.wf.nAvgBytesPerSec, 16000u);
    EXPECT_EQ(b->WaveFormat.wf.nBlockAlign, 2);
    EXPECT_EQ(b->WaveFormat.wBitsPerSample, 16);
}

// The trace's stream and fault events as "t out running", "t fault waveOutReset" lines.
std::vector<std::string> StreamTimeline(const std::vector<support::Json> &events)
{
    std::vector<std::string> out;
    for (auto &e : events) {
        std::string t = std::to_string(e["t"].get<long long>());
        if (e["ev"] == "stream")
            out.push_back(t + " " + e["dir"].get<std::string>() + " " + e["state"].get<std::string>());
        else if (e["ev"] == "fault")
            out.push_back(t + " fault " + e["call"].get<std::string>());
    }
    return out;
}

}  // namespace

TEST(SpeakerStreams, WithoutABlockEveryOperationDoesNothingAndStartsFail)
{
    ASSERT_TRUE(support::InChild([] {
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            InitStreamGuards();
            ASSERT_EQ(pSpkLockMem, nullptr);
            EXPECT_EQ(StartPlayback(hwnd), 0);
            EXPECT_EQ(StartRecord(hwnd), 0);
            StopPlayback();
            StopRecord();
            OnPlaybackDone((HWAVEOUT)0xC000, NULL);
            OnRecordData((HWAVEIN)0x8000, NULL);
            EXPECT_CALLS({}, Calls());
        });
    }));
}

TEST(SpeakerStreams, PlaybackOnACardWithoutTheFormatOpensNothing)
{
    ASSERT_TRUE(support::InChild([] {
        sim::SoundConfigure(true, true, false);
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            SpkLockMem *b = spk::NewBlock();
            memset(b->PlayData, 0x55, sizeof(b->PlayData));
            b->PlayIndex = 6;
            EXPECT_EQ(StartPlayback(hwnd), 0);
            EXPECT_EQ(b->PlayState, 0);
            EXPECT_EQ(b->PlayIndex, 3);
            EXPECT_EQ(b->hWaveOut, (HWAVEOUT)0);
            ExpectFormat(b);
            bool zero = true;
            for (short s : b->PlayData)
                zero = zero && s == 0;
            EXPECT_TRUE(zero) << "the playback area is cleared even when the format is refused";
            EXPECT_CALLS({"waveOutOpen -> 32"}, Calls());  // the format query, WAVERR_BADFORMAT
            EXPECT_EQ(sim::SoundOpenCount(true), 0u);
            EXPECT_FALSE(spk::Trace().empty());
            EXPECT_EQ(spk::Trace().back()["ev"], "stream");
            EXPECT_EQ(spk::Trace().back()["reason"], "format refused");
        });
    }));
}

TEST(SpeakerStreams, RefusedOutputOpenLeavesNoDevice)
{
    ASSERT_TRUE(support::InChild([] {
        sim::AddFault("waveOutOpen", 2, 1, MMSYSERR_ALLOCATED);
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            SpkLockMem *b = spk::NewBlock();
            EXPECT_EQ(StartPlayback(hwnd), 0);
            EXPECT_CALLS((std::vector<std::string>{"waveOutOpen", "waveOutOpen -> 4"}), Calls());
            EXPECT_EQ(b->hWaveOut, (HWAVEOUT)0);
            EXPECT_EQ(b->PlayState, 0);
            EXPECT_EQ(b->PlayIndex, 3);
        });
    }));
}

TEST(SpeakerStreams, PlaybackStartQueuesFourOfEightPreparedBuffers)
{
    ASSERT_TRUE(support::InChild([] {
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            SpkLockMem *b = spk::NewBlock();
            EXPECT_EQ(StartPlayback(hwnd), 1);
            EXPECT_NE(b->hWaveOut, (HWAVEOUT)0);
            EXPECT_EQ(b->PlayIndex, 3);
            EXPECT_EQ(b->PlayState, 4);
            EXPECT_EQ(Flags(b->PlayHdr, 8), "PQ PQ PQ PQ P P P P");
            for (int k = 0; k < 8; ++k) {
                EXPECT_EQ(b->PlayHdr[k].lpData, (LPSTR)b + 2048 * k) << "header " << k;
                EXPECT_EQ(b->PlayHdr[k].dwBufferLength, 2048u) << "header " << k;
                EXPECT_EQ(b->PlayHdr[k].dwLoops, 0u) << "header " << k;
            }
            ExpectFormat(b);
            EXPECT_CALLS(spk::PlaybackStartCalls(), Calls());
            EXPECT_EQ(sim::SoundQueued(true), 4u);
        });
    }));
}

TEST(SpeakerStreams, RecordStartQueuesTwoOfSixteenPreparedBuffers)
{
    ASSERT_TRUE(support::InChild([] {
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            SpkLockMem *b = spk::NewBlock();
            memset(b->RecData, 0x55, sizeof(b->RecData));
            EXPECT_EQ(StartRecord(hwnd), 1);
            EXPECT_NE(b->hWaveIn, (HWAVEIN)0);
            EXPECT_EQ(b->RecIndex, 1);
            EXPECT_EQ(b->RecState, 4);
            EXPECT_EQ(Flags(b->RecHdr, 16), "PQ PQ P P P P P P P P P P P P P P");
            for (int k = 0; k < 16; ++k) {
                EXPECT_EQ(b->RecHdr[k].lpData, (LPSTR)b + 16384 + 1024 * k) << "header " << k;
                EXPECT_EQ(b->RecHdr[k].dwBufferLength, 1024u) << "header " << k;
                EXPECT_EQ(b->RecHdr[k].dwUser, 0u) << "header " << k;
            }
            bool zero = true;
            for (short s : b->RecData)
                zero = zero && s == 0;
            EXPECT_TRUE(zero) << "the record area is cleared at the start";
            ExpectFormat(b);
            EXPECT_CALLS(spk::RecordStartCalls(), Calls());
        });
    }));
}

TEST(SpeakerStreams, PlaybackCompletionsQueueTheFourthBufferOnward)
{
    ASSERT_TRUE(support::InChild([] {
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            SpkLockMem *b = spk::NewBlock();
            ASSERT_EQ(StartPlayback(hwnd), 1);
            size_t mark = sim::SoundCalls().size();
            spk::Pump(hwnd, 128 + 10);  // the first buffer has played
            EXPECT_EQ(b->PlayIndex, 4);
            EXPECT_CALLS({"waveOutWrite P4"}, Calls(mark));
            EXPECT_EQ(Flags(b->PlayHdr, 8), "PD PQ PQ PQ PQ P P P");
            spk::Pump(hwnd, 4 * 128);  // four more: the fifth completion queues header 0
            EXPECT_EQ(b->PlayIndex, 0);
            EXPECT_CALLS(Join({Repeat("waveOutWrite", 'P', 4, 7), {"waveOutWrite P0"}}), Calls(mark));
            EXPECT_EQ(sim::SoundQueued(true), 4u);
            spk::Pump(hwnd, 3 * 128);
            EXPECT_EQ(b->PlayIndex, 3);
        });
    }));
}

TEST(SpeakerStreams, RecordRingWrapsAfterFifteenCompletions)
{
    ASSERT_TRUE(support::InChild([] {
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            SpkLockMem *b = spk::NewBlock();
            ASSERT_EQ(StartRecord(hwnd), 1);
            size_t mark = sim::SoundCalls().size();
            spk::Pump(hwnd, 64 + 5);
            EXPECT_EQ(b->RecIndex, 2);
            EXPECT_EQ(b->RecHdr[0].dwBytesRecorded, 1024u);
            spk::Pump(hwnd, 13 * 64);
            EXPECT_EQ(b->RecIndex, 15);
            spk::Pump(hwnd, 64);  // the fifteenth completion
            EXPECT_EQ(b->RecIndex, 0);
            EXPECT_CALLS(Join({Repeat("waveInAddBuffer", 'R', 2, 15), {"waveInAddBuffer R0"}}), Calls(mark));
            spk::Pump(hwnd, 64);
            EXPECT_EQ(b->RecIndex, 1);
            EXPECT_EQ(sim::SoundQueued(false), 2u);
        });
    }));
}

TEST(SpeakerStreams, RefusedSixthPrepareUnpreparesTheFiveBeforeAndCloses)
{
    ASSERT_TRUE(support::InChild([] {
        sim::AddFault("waveOutPrepareHeader", 6, 1, MMSYSERR_NOMEM);
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            SpkLockMem *b = spk::NewBlock();
            EXPECT_EQ(StartPlayback(hwnd), 0);
            EXPECT_CALLS(Join({{"waveOutOpen", "waveOutOpen"},
                               Repeat("waveOutPrepareHeader", 'P', 0, 4),
                               {"waveOutPrepareHeader P5 -> 7"},
                               Repeat("waveOutUnprepareHeader", 'P', 0, 4),
                               {"waveOutClose"}}),
                         Calls());
            EXPECT_EQ(b->hWaveOut, (HWAVEOUT)0);
            EXPECT_EQ(b->PlayState, 0);
            EXPECT_FALSE(sim::SoundDeviceOpen(true));
            for (int k = 0; k < 8; ++k)
                EXPECT_FALSE(Prepared(b->PlayHdr[k])) << "header " << k;
        });
    }));
}

TEST(SpeakerStreams, RefusedThirdWriteResetsUnpreparesAllAndCloses)
{
    ASSERT_TRUE(support::InChild([] {
        sim::AddFault("waveOutWrite", 3, 1, MMSYSERR_ERROR);
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            SpkLockMem *b = spk::NewBlock();
            EXPECT_EQ(StartPlayback(hwnd), 0);
            EXPECT_CALLS(Join({{"waveOutOpen", "waveOutOpen"},
                               Repeat("waveOutPrepareHeader", 'P', 0, 7),
                               {"waveOutPause", "waveOutWrite P0", "waveOutWrite P1", "waveOutWrite P2 -> 1",
                                "waveOutReset"},
                               Repeat("waveOutUnprepareHeader", 'P', 0, 7),
                               {"waveOutClose"}}),
                         Calls());
            EXPECT_EQ(b->hWaveOut, (HWAVEOUT)0);
            EXPECT_EQ(b->PlayState, 0);
            size_t mark = sim::SoundCalls().size();
            spk::Pump(hwnd, 300);
            // Headers 0 and 1 came back from the reset; their notices change nothing.
            EXPECT_EQ(spk::CountNotices(MM_WOM_DONE), 2);
            EXPECT_EQ(spk::HeaderName((WAVEHDR *)spk::Notices()[1].lParam), "P0");
            EXPECT_EQ(spk::HeaderName((WAVEHDR *)spk::Notices()[2].lParam), "P1");
            EXPECT_CALLS({}, Calls(mark));
            EXPECT_EQ(b->PlayIndex, 3);
        });
    }));
}

TEST(SpeakerStreams, RefusedRecordPrepareUnpreparesTheOnesBeforeResetsAndCloses)
{
    ASSERT_TRUE(support::InChild([] {
        sim::AddFault("waveInPrepareHeader", 10, 1, MMSYSERR_NOMEM);
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            SpkLockMem *b = spk::NewBlock();
            EXPECT_EQ(StartRecord(hwnd), 0);
            EXPECT_CALLS(Join({{"waveInOpen"},
                               Repeat("waveInPrepareHeader", 'R', 0, 8),
                               {"waveInPrepareHeader R9 -> 7"},
                               Repeat("waveInUnprepareHeader", 'R', 0, 8),
                               {"waveInReset", "waveInClose"}}),
                         Calls());
            EXPECT_EQ(b->hWaveIn, (HWAVEIN)0);
            EXPECT_EQ(b->RecState, 0);
            EXPECT_EQ(b->RecIndex, 1);
        });
    }));
}

TEST(SpeakerStreams, RefusedSecondAddLeavesRecordingClosedAndNoHeaderPrepared)
{
    ASSERT_TRUE(support::InChild([] {
        sim::AddFault("waveInAddBuffer", 2, 1, MMSYSERR_NOMEM);
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            SpkLockMem *b = spk::NewBlock();
            EXPECT_EQ(StartRecord(hwnd), 0);
            EXPECT_EQ(b->hWaveIn, (HWAVEIN)0);
            EXPECT_EQ(b->RecState, 0);
            EXPECT_FALSE(sim::SoundDeviceOpen(false));
            // The first buffer was queued: it comes back from the reset before the headers are
            // unprepared, so no unprepare is refused and none stays prepared on a closed device.
            EXPECT_EQ(spk::Refusals(), 1) << spk::Lines(Calls());
            for (int k = 0; k < 16; ++k)
                EXPECT_FALSE(Prepared(b->RecHdr[k])) << "header " << k;
            EXPECT_CALLS(Join({{"waveInOpen"},
                               Repeat("waveInPrepareHeader", 'R', 0, 15),
                               {"waveInAddBuffer R0", "waveInAddBuffer R1 -> 7", "waveInReset"},
                               Repeat("waveInUnprepareHeader", 'R', 0, 15),
                               {"waveInClose"}}),
                         Calls());
        });
    }));
}

TEST(SpeakerStreams, StopWithoutADeviceOnlyClearsTheStateAndTwiceIsHarmless)
{
    ASSERT_TRUE(support::InChild([] {
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            SpkLockMem *b = spk::NewBlock();
            b->PlayState = 4;
            b->RecState = 4;
            StopPlayback();
            StopRecord();
            EXPECT_EQ(b->PlayState, 0);
            EXPECT_EQ(b->RecState, 0);
            EXPECT_CALLS({}, Calls());

            ASSERT_EQ(StartPlayback(hwnd), 1);
            ASSERT_EQ(StartRecord(hwnd), 1);
            size_t mark = sim::SoundCalls().size();
            StopPlayback();
            StopRecord();
            EXPECT_CALLS(Join({spk::PlaybackStopCalls(), spk::RecordStopCalls()}), Calls(mark));
            mark = sim::SoundCalls().size();
            StopPlayback();
            StopRecord();
            EXPECT_CALLS({}, Calls(mark));
            EXPECT_EQ(b->hWaveOut, (HWAVEOUT)0);
            EXPECT_EQ(b->hWaveIn, (HWAVEIN)0);
            EXPECT_EQ(spk::Refusals(), 0) << spk::Lines(Calls());
        });
    }));
}

TEST(SpeakerStreams, ADeviceThatRefusesToResetKeepsItsHandleAndNoSecondDeviceOpensBesideIt)
{
    // At the restart of 2 s the output device refuses its reset, so its headers stay queued and
    // neither unprepare nor close can succeed; the input device refuses its close. The start that
    // follows closes each first, then opens it again.
    const std::string requests = R"(
events:
  - {at: 1, speaker: {pD: 4, rD: 4}}
  - {at: 2, speaker: {pD: 4, rD: 4}}
  - {at: 3, speaker: {pD: 4, rD: 4}}
  - {at: 4, speaker: {pD: 0, rD: 0}}
  - {at: 5, close: true}
)";
    std::vector<std::string> restart = {"3000 out closed", "3000 in closed", "3000 out running", "3000 in running",
                                        "4000 out closed", "4000 in closed"};
    auto expect = [&](const std::string &faults, const std::vector<std::string> &first_request) {
        support::Run run = support::Play("driver: {voice: 0, control: 0}\nfaults: " + faults + "\n" + requests);
        ASSERT_EQ(run.status, 0) << run.Dump();
        EXPECT_EQ(StreamTimeline(run.events), Join({first_request, restart})) << faults << "\n" << run.Dump();
    };
    expect("[{call: waveOutReset}, {call: waveInClose}]",
           {"1000 out running", "1000 in running", "2000 fault waveOutReset", "2000 fault waveInClose",
            "2000 out closed", "2000 out running", "2000 in closed", "2000 in running"});
    // The start's own try is refused too: it reports failure and opens nothing; the next request's
    // stop closes the device, and its start opens one.
    expect("[{call: waveOutReset, count: 2}]",
           {"1000 out running", "1000 in running", "2000 fault waveOutReset", "2000 in closed",
            "2000 fault waveOutReset", "2000 in running"});
    // The same for recording: an input device whose close is refused by the stop and again by the
    // start's own try; the start opens nothing, and the next request's stop closes the device.
    expect("[{call: waveInClose, count: 2}]",
           {"1000 out running", "1000 in running", "2000 out closed", "2000 fault waveInClose",
            "2000 out running", "2000 fault waveInClose"});
}

TEST(SpeakerStreams, ADeviceThatRefusesToResetAtShutDownKeepsTheBlockItPlaysFrom)
{
    // Both devices refuse, or only one: a single device still open with headers queued into the block
    // keeps the block as surely as two do.
    struct Case {
        const char *faults;
        bool out_open, in_open;
        std::vector<std::string> timeline;
    };
    const Case cases[] = {
        {"[{call: waveOutReset}, {call: waveInReset}]", true, true,
         {"1000 out running", "1000 in running", "2000 fault waveOutReset", "2000 fault waveInReset"}},
        {"[{call: waveOutReset}]", true, false,
         {"1000 out running", "1000 in running", "2000 fault waveOutReset", "2000 in closed"}},
        {"[{call: waveInReset}]", false, true,
         {"1000 out running", "1000 in running", "2000 out closed", "2000 fault waveInReset"}},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(support::InChild([&c] {
            static SpkLockMem *block;
            static const Case *now;
            now = &c;
            sim::AtFinish([] {
                EXPECT_EQ(StreamTimeline(spk::Trace()), now->timeline) << now->faults;
                // The refusing device is still open with headers queued into the block, which is
                // still allocated: releasing it now succeeds.
                EXPECT_EQ(sim::SoundDeviceOpen(true), now->out_open) << now->faults;
                EXPECT_EQ(sim::SoundDeviceOpen(false), now->in_open) << now->faults;
                if (now->out_open) {
                    EXPECT_EQ(sim::SoundQueued(true), 4u) << now->faults;
                }
                if (now->in_open) {
                    EXPECT_GT(sim::SoundQueued(false), 0u) << now->faults;
                }
                EXPECT_TRUE(VirtualFree(block, 0, MEM_RELEASE)) << "the block was released under its device: "
                                                                << now->faults;
            });
            spk::PlayWithProbes(std::string("driver: {voice: 0, control: 0}\nfaults: ") + c.faults + R"(
events:
  - {at: 1, speaker: {pD: 4, rD: 4}}
  - {at: 2, close: true}
)",
                                {{1500, [] { block = pSpkLockMem; }}});
        })) << c.faults;
    }
}

TEST(SpeakerStreams, NoticesFromAStopsResetChangeNothing)
{
    ASSERT_TRUE(support::InChild([] {
        // Both devices refuse to close, and keep their handles: their notices still count for nothing.
        sim::AddFault("waveOutClose", 1, 1, WAVERR_STILLPLAYING);
        sim::AddFault("waveInClose", 1, 1, WAVERR_STILLPLAYING);
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            SpkLockMem *b = spk::NewBlock();
            ASSERT_EQ(StartPlayback(hwnd), 1);
            ASSERT_EQ(StartRecord(hwnd), 1);
            spk::Pump(hwnd, 200);
            int done = spk::CountNotices(MM_WOM_DONE), data = spk::CountNotices(MM_WIM_DATA);
            int play_index = b->PlayIndex, rec_index = b->RecIndex;
            StopPlayback();
            StopRecord();
            size_t mark = sim::SoundCalls().size();
            spk::Pump(hwnd, 500);
            // Four playback buffers and two record buffers came back, and were ignored.
            EXPECT_EQ(spk::CountNotices(MM_WOM_DONE) - done, 4);
            EXPECT_EQ(spk::CountNotices(MM_WIM_DATA) - data, 2);
            EXPECT_EQ(b->PlayIndex, play_index);
            EXPECT_EQ(b->RecIndex, rec_index);
            EXPECT_CALLS({}, Calls(mark));
        });
    }));
}

TEST(SpeakerStreams, NoticesLeftOverFromBeforeARestartAreDropped)
{
    ASSERT_TRUE(support::InChild([] {
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            SpkLockMem *b = spk::NewBlock();
            ASSERT_EQ(StartPlayback(hwnd), 1);
            ASSERT_EQ(StartRecord(hwnd), 1);
            HWAVEOUT old_out = b->hWaveOut;
            HWAVEIN old_in = b->hWaveIn;
            spk::Pump(hwnd, 200);
            // As the watch thread does: stop and start again while the window's thread is busy, so
            // the reset's notices are still queued when the new streams run.
            StopPlayback();
            StopRecord();
            ASSERT_EQ(StartPlayback(hwnd), 1);
            ASSERT_EQ(StartRecord(hwnd), 1);
            // The devices are opened again under the same handles: the handle alone tells nothing.
            EXPECT_EQ(b->hWaveOut, old_out);
            EXPECT_EQ(b->hWaveIn, old_in);
            size_t mark = sim::SoundCalls().size();
            spk::Pump(hwnd, 10);  // the old notices: four playback, two record
            EXPECT_CALLS({}, Calls(mark));
            EXPECT_EQ(b->PlayIndex, 3);
            EXPECT_EQ(b->RecIndex, 1);
            spk::Pump(hwnd, 128);  // one playback buffer and two record buffers of the new streams
            EXPECT_CALLS((std::vector<std::string>{"waveInAddBuffer R2", "waveOutWrite P4", "waveInAddBuffer R3"}),
                         Calls(mark));
            EXPECT_EQ(sim::SoundQueued(true), 4u);
            EXPECT_EQ(sim::SoundQueued(false), 2u);
            EXPECT_EQ(spk::Refusals(), 0) << spk::Lines(Calls());
        });
    }));
}

TEST(SpeakerStreams, RefusedAddInRecordDataClosesRecordingAndPlaybackRunsOn)
{
    ASSERT_TRUE(support::InChild([] {
        sim::AddFault("waveInAddBuffer", 3, 1, MMSYSERR_NOMEM);
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            SpkLockMem *b = spk::NewBlock();
            ASSERT_EQ(StartPlayback(hwnd), 1);
            ASSERT_EQ(StartRecord(hwnd), 1);
            size_t mark = sim::SoundCalls().size();
            spk::Pump(hwnd, 64 + 5);
            EXPECT_CALLS(Join({{"waveInAddBuffer R2 -> 7", "waveInStop", "waveInReset"},
                               Repeat("waveInUnprepareHeader", 'R', 0, 15),
                               {"waveInClose"}}),
                         Calls(mark));
            EXPECT_EQ(b->hWaveIn, (HWAVEIN)0);
            EXPECT_EQ(b->RecState, 0);
            EXPECT_NE(b->hWaveOut, (HWAVEOUT)0);
            EXPECT_EQ(b->PlayState, 4);
            spk::Pump(hwnd, 1000);
            EXPECT_EQ(b->PlayIndex, (3 + 8) % 8) << "eight playback buffers played meanwhile";
            EXPECT_EQ(b->hWaveIn, (HWAVEIN)0) << "recording comes back only on the driver's next request";
            EXPECT_FALSE(sim::SoundDeviceOpen(false));
            support::Json closed = spk::Trace().back();
            for (const support::Json &e : spk::Trace())
                if (e["ev"] == "stream" && e["dir"] == "in" && e["state"] == "closed")
                    closed = e;
            EXPECT_EQ(closed["reason"], "waveInAddBuffer refused") << "the refusal is why it closed";
        });
    }));
}

TEST(SpeakerStreams, RefusedWriteInPlaybackDoneLeavesOneBufferFewerAndPlaybackRunsOn)
{
    ASSERT_TRUE(support::InChild([] {
        sim::AddFault("waveOutWrite", 5, 1, MMSYSERR_NOMEM);
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            SpkLockMem *b = spk::NewBlock();
            ASSERT_EQ(StartPlayback(hwnd), 1);
            size_t mark = sim::SoundCalls().size();
            spk::Pump(hwnd, 128 + 5);
            EXPECT_EQ(b->PlayState, 4);
            EXPECT_EQ(b->PlayIndex, 3) << "PlayIndex stays on the last buffer really queued";
            EXPECT_EQ(sim::SoundQueued(true), 3u);
            spk::Pump(hwnd, 128 * 12);
            EXPECT_EQ(b->PlayState, 4) << "playback stays running";
            EXPECT_EQ(sim::SoundQueued(true), 3u) << "one buffer fewer stays queued";
            EXPECT_EQ(sim::SoundUnderruns(), 0);
            EXPECT_EQ(b->PlayIndex, (3 + 12) % 8);
            // The refused buffer is the next one tried, so no buffer the driver filled is skipped.
            EXPECT_CALLS(Join({{"waveOutWrite P4 -> 7"}, Repeat("waveOutWrite", 'P', 4, 7),
                               Repeat("waveOutWrite", 'P', 0, 7)}),
                         Calls(mark));
            // Stopped later, the stream closes as stopped: the refusal it outlived is not why.
            StopPlayback();
            EXPECT_EQ(spk::Trace().back()["reason"], "stopped") << spk::Trace().back().dump();
        });
    }));
}

TEST(SpeakerStreams, ThreeWritesRefusedInARowLeaveOneBufferThatKeepsPlaying)
{
    ASSERT_TRUE(support::InChild([] {
        sim::AddFault("waveOutWrite", 5, 3, MMSYSERR_NOMEM);
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            SpkLockMem *b = spk::NewBlock();
            ASSERT_EQ(StartPlayback(hwnd), 1);
            spk::Pump(hwnd, 128 * 12);
            // The notice that finds one buffer owed is counted like any other: the ring goes on.
            EXPECT_EQ(sim::SoundQueued(true), 1u);
            EXPECT_EQ(b->PlayState, 4);
            EXPECT_GE(spk::CountNotices(MM_WOM_DONE), 11);
        });
    }));
}

TEST(SpeakerStreams, EveryWriteRefusedInPlaybackDoneEndsInSilenceUntilTheNextStart)
{
    // The refusals start with the first write of a notice, or once the ring has gone round (then
    // every header has been played and is marked done).
    for (int first : {5, 9}) {
        ASSERT_TRUE(support::InChild([first] {
            sim::AddFault("waveOutWrite", first, 100, MMSYSERR_NOMEM);
            spk::RunWorld([first] {
                HWND hwnd = spk::NoticeWindow();
                SpkLockMem *b = spk::NewBlock();
                ASSERT_EQ(StartPlayback(hwnd), 1);
                spk::Pump(hwnd, 128 * 12);
                EXPECT_EQ(sim::SoundQueued(true), 0u);
                EXPECT_EQ(sim::SoundUnderruns(), 1);
                EXPECT_EQ(b->PlayState, 4);
                EXPECT_EQ(spk::CountNotices(MM_WOM_DONE), first - 1) << "no further notice once nothing is queued";
                // With nothing outstanding, a notice naming any header of the device, finished or
                // not, is owed nothing: nothing is written and the ring stays where it is.
                size_t mark = sim::SoundCalls().size();
                std::vector<char> before((char *)b, (char *)b + sizeof(SpkLockMem));
                for (int k = 0; k < 8; k++)
                    RouteWaveMessage(MM_WOM_DONE, (WPARAM)b->hWaveOut, (LPARAM)&b->PlayHdr[k]);
                EXPECT_CALLS({}, Calls(mark));
                EXPECT_TRUE(memcmp(before.data(), b, sizeof(SpkLockMem)) == 0) << "the block changed";
            });
        })) << "refusals from write " << first;
    }
}

TEST(SpeakerStreams, OpenAndCloseNoticesAndForeignOnesChangeNothing)
{
    ASSERT_TRUE(support::InChild([] {
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            SpkLockMem *b = spk::NewBlock();
            ASSERT_EQ(StartPlayback(hwnd), 1);
            ASSERT_EQ(StartRecord(hwnd), 1);
            std::vector<char> before((char *)b, (char *)b + sizeof(SpkLockMem));
            size_t mark = sim::SoundCalls().size();
            WAVEHDR foreign{};
            foreign.dwFlags = WHDR_DONE | WHDR_PREPARED;
            RouteWaveMessage(MM_WOM_OPEN, (WPARAM)b->hWaveOut, 0);
            RouteWaveMessage(MM_WOM_CLOSE, (WPARAM)b->hWaveOut, 0);
            RouteWaveMessage(MM_WIM_OPEN, (WPARAM)b->hWaveIn, 0);
            RouteWaveMessage(MM_WIM_CLOSE, (WPARAM)b->hWaveIn, 0);
            // Completion notices naming another device, or a header that is not the oldest queued.
            RouteWaveMessage(MM_WOM_DONE, (WPARAM)0x1234, (LPARAM)&b->PlayHdr[0]);
            RouteWaveMessage(MM_WOM_DONE, (WPARAM)b->hWaveOut, (LPARAM)&foreign);
            RouteWaveMessage(MM_WOM_DONE, (WPARAM)b->hWaveOut, (LPARAM)&b->PlayHdr[1]);
            RouteWaveMessage(MM_WIM_DATA, (WPARAM)b->hWaveOut, (LPARAM)&b->RecHdr[0]);
            RouteWaveMessage(MM_WIM_DATA, (WPARAM)b->hWaveIn, (LPARAM)&foreign);
            // The oldest queued header, before the device has finished it.
            RouteWaveMessage(MM_WOM_DONE, (WPARAM)b->hWaveOut, (LPARAM)&b->PlayHdr[0]);
            RouteWaveMessage(MM_WIM_DATA, (WPARAM)b->hWaveIn, (LPARAM)&b->RecHdr[0]);
            EXPECT_CALLS({}, Calls(mark));
            EXPECT_TRUE(memcmp(before.data(), b, sizeof(SpkLockMem)) == 0) << "the block changed";
        });
    }));
}

TEST(SpeakerStreams, DeviceLinkShutDownStopsBothStreamsBeforeReleasingTheBlock)
{
    ASSERT_TRUE(support::InChild([] {
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            spk::NewBlock();
            ASSERT_EQ(StartPlayback(hwnd), 1);
            ASSERT_EQ(StartRecord(hwnd), 1);
            size_t mark = sim::SoundCalls().size();
            FreeSharedBlocks();
            EXPECT_EQ(pSpkLockMem, nullptr);
            EXPECT_FALSE(sim::SoundDeviceOpen(true));
            EXPECT_FALSE(sim::SoundDeviceOpen(false));
            std::vector<std::string> calls = Calls(mark);
            ASSERT_FALSE(calls.empty());
            EXPECT_EQ(calls.front(), "waveOutReset");
            EXPECT_EQ(calls.back(), "waveInClose");
            EXPECT_EQ(spk::Refusals(), 0) << spk::Lines(Calls());
            // The notices of the shut-down's resets arrive after the block is gone and are ignored.
            spk::Pump(hwnd, 50);
            EXPECT_EQ(spk::CountNotices(MM_WOM_DONE), 4);
            EXPECT_EQ(sim::SoundCalls().size(), mark + calls.size());
        });
    }));
}
