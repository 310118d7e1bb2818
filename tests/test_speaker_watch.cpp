// The watch thread following the driver's requests, played as scenarios with the whole program.
#include <cstring>

#include "driver_double.h"
#include "speaker/watch.h"
#include "speaker_support.h"

using spk::Calls;
using spk::Join;

namespace {

const char *kBoth = R"(
driver: {voice: 0, control: 0, line: {tone: 440}, mic: {tone: 1000}}
)";

bool AreaIsZero(const short *area, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (area[i])
            return false;
    return true;
}

}  // namespace

TEST(WatchThread, RequestsForBothStopBothThenStartPlaybackThenRecording)
{
    ASSERT_TRUE(support::InChild([] {
        spk::PlayWithProbes(std::string(kBoth) + R"(
events:
  - {at: 1, speaker: {pD: 0xC, rD: 4}}
  - {at: 2, close: true}
)",
                            {{1001, [] {
                                  SpkLockMem *b = pSpkLockMem;
                                  // Nothing was open, so the stops made no call.
                                  EXPECT_CALLS(Join({spk::PlaybackStartCalls(), spk::RecordStartCalls()}), Calls());
                                  EXPECT_STREQ(WatchTrace, "WatchProc pD=12, rD=4");
                                  EXPECT_EQ(b->PlayState, 4);
                                  EXPECT_EQ(b->RecState, 4);
                                  EXPECT_EQ(b->pD, 0xC) << "the program never clears the requests";
                                  EXPECT_EQ(b->rD, 4);
                              }}});
    }));
}

TEST(WatchThread, RequestsZeroAndZeroStopBothAndStartNone)
{
    ASSERT_TRUE(support::InChild([] {
        static size_t mark;
        spk::PlayWithProbes(std::string(kBoth) + R"(
events:
  - {at: 1, speaker: {pD: 0xC, rD: 4}}
  - {at: 2, speaker: {pD: 0, rD: 0}}
  - {at: 3, close: true}
)",
                            {{1500, [] { mark = sim::SoundCalls().size(); }},
                             {2500, [] {
                                  SpkLockMem *b = pSpkLockMem;
                                  // The ring's own calls before the request, then the two stops.
                                  std::vector<std::string> calls = Calls(mark);
                                  std::vector<std::string> stops = Join({spk::PlaybackStopCalls(), spk::RecordStopCalls()});
                                  ASSERT_GE(calls.size(), stops.size());
                                  EXPECT_CALLS(stops, std::vector<std::string>(calls.end() - stops.size(), calls.end()));
                                  EXPECT_STREQ(WatchTrace, "WatchProc pD=0, rD=0");
                                  EXPECT_EQ(b->hWaveOut, (HWAVEOUT)0);
                                  EXPECT_EQ(b->hWaveIn, (HWAVEIN)0);
                                  EXPECT_EQ(b->PlayState, 0);
                                  EXPECT_EQ(b->RecState, 0);
                                  EXPECT_FALSE(sim::SoundDeviceOpen(true));
                                  EXPECT_FALSE(sim::SoundDeviceOpen(false));
                              }}});
    }));
}

TEST(WatchThread, SameRequestsAgainCloseAndReopenBothAndClearBothAreas)
{
    ASSERT_TRUE(support::InChild([] {
        static size_t mark;
        spk::PlayWithProbes(std::string(kBoth) + R"(
events:
  - {at: 1, speaker: {pD: 0xC, rD: 4}}
  - {at: 2, speaker: {pD: 0xC, rD: 4}}
  - {at: 3, close: true}
)",
                            {{1999, [] {
                                  SpkLockMem *b = pSpkLockMem;
                                  EXPECT_FALSE(AreaIsZero(b->PlayData, 4096)) << "the driver has filled the first buffers";
                                  EXPECT_FALSE(AreaIsZero(b->RecData, 8192)) << "the microphone was recorded";
                                  mark = sim::SoundCalls().size();
                              }},
                             {2001, [] {
                                  SpkLockMem *b = pSpkLockMem;
                                  EXPECT_CALLS(Join({spk::PlaybackStopCalls(), spk::RecordStopCalls(),
                                                     spk::PlaybackStartCalls(), spk::RecordStartCalls()}),
                                               Calls(mark));
                                  EXPECT_TRUE(AreaIsZero(b->PlayData, 4096)) << "the queued buffers are silence again";
                                  EXPECT_TRUE(AreaIsZero(b->RecData, 8192));
                                  EXPECT_EQ(b->PlayIndex, 3);
                                  EXPECT_EQ(b->RecIndex, 1);
                                  EXPECT_EQ(sim::SoundSessions(true).size(), 2u);
                                  EXPECT_EQ(sim::SoundSessions(false).size(), 2u);
                              }}});
    }));
}

TEST(WatchThread, OtherStatusValuesChangeNothingAndTheThreadReadsAgain)
{
    ASSERT_TRUE(support::InChild([] {
        spk::PlayWithProbes(std::string(kBoth) + R"(
events:
  - {at: 1, voice_status: 0}
  - {at: 2, voice_status: 2}
  - {at: 3, voice_status: 3}
  - {at: 4, speaker: {pD: 8, rD: 0}}
  - {at: 5, close: true}
)",
                            {{1500, [] {
                                  EXPECT_STREQ(WatchTrace, "pSpkLockMem->Status != 1");
                                  EXPECT_NE(WatchThread, (HANDLE)NULL);
                              }},
                             {3500, [] {
                                  EXPECT_STREQ(WatchTrace, "pSpkLockMem->Status != 1");
                                  EXPECT_NE(WatchThread, (HANDLE)NULL);
                                  EXPECT_TRUE(sim::DriverReadPending()) << "the thread reads again at once";
                                  EXPECT_CALLS({}, Calls());
                                  EXPECT_EQ(pSpkLockMem->Status, 3);
                              }},
                             {4500, [] {
                                  EXPECT_STREQ(WatchTrace, "WatchProc pD=8, rD=0");
                                  EXPECT_EQ(pSpkLockMem->PlayState, 4);
                                  EXPECT_EQ(pSpkLockMem->RecState, 0);
                              }}});
    }));
}

TEST(WatchThread, StatusFourEndsTheThreadAndLeavesTheStreamsToTheShutDown)
{
    ASSERT_TRUE(support::InChild([] {
        static int index_then;
        spk::PlayWithProbes(std::string(kBoth) + R"(
events:
  - {at: 1, speaker: {pD: 4, rD: 4}}
  - {at: 2, voice_status: 4}
  - {at: 4, close: true}
)",
                            {{2500, [] {
                                  EXPECT_STREQ(WatchTrace, "pSpkLockMem->Status != 1");
                                  EXPECT_EQ(spk::Events("thread").back()["event"], "end");
                                  EXPECT_EQ(pSpkLockMem->PlayState, 4);
                                  EXPECT_EQ(pSpkLockMem->RecState, 4);
                                  index_then = pSpkLockMem->PlayIndex;
                              }},
                             {3000, [] {
                                  EXPECT_NE(pSpkLockMem->PlayIndex, index_then) << "the rings keep turning";
                                  EXPECT_TRUE(sim::SoundDeviceOpen(true));
                                  for (auto &e : spk::Events("stream"))
                                      EXPECT_EQ(e["state"], "running") << e.dump();
                              }},
                             {4001, [] {
                                  // The shut-down stopped both streams before it released the block.
                                  EXPECT_EQ(pSpkLockMem, nullptr);
                                  EXPECT_FALSE(sim::SoundDeviceOpen(true));
                                  EXPECT_FALSE(sim::SoundDeviceOpen(false));
                                  auto streams = spk::Events("stream");
                                  ASSERT_EQ(streams.size(), 4u);
                                  EXPECT_EQ(streams[2]["state"], "closed");
                                  EXPECT_EQ(streams[2]["reason"], "stopped");
                                  EXPECT_EQ(streams[3]["state"], "closed");
                                  EXPECT_EQ(spk::Refusals(), 0) << spk::Lines(Calls());
                              }}});
    }));
}

TEST(WatchThread, NegativeRequestsShowSignedAndStartBoth)
{
    ASSERT_TRUE(support::InChild([] {
        spk::PlayWithProbes(std::string(kBoth) + R"(
events:
  - {at: 1, speaker: {pD: -1, rD: 4}}
  - {at: 2, close: true}
)",
                            {{1500, [] {
                                  EXPECT_STREQ(WatchTrace, "WatchProc pD=-1, rD=4");
                                  EXPECT_EQ(pSpkLockMem->PlayState, 4);
                                  EXPECT_EQ(pSpkLockMem->RecState, 4);
                              }}});
    }));
}

TEST(WatchThread, OnlyTheExaminedBitsRequestAStream)
{
    ASSERT_TRUE(support::InChild([] {
        spk::PlayWithProbes(std::string(kBoth) + R"(
events:
  - {at: 1, speaker: {pD: 3, rD: 8}}
  - {at: 2, speaker: {pD: 16, rD: 3}}
  - {at: 3, speaker: {pD: 4, rD: 0}}
  - {at: 4, close: true}
)",
                            {{1500, [] { EXPECT_CALLS({}, Calls()); }},
                             {2500, [] { EXPECT_CALLS({}, Calls()); }},
                             {3500, [] {
                                  std::vector<std::string> calls = Calls();
                                  calls.resize(std::min(calls.size(), spk::PlaybackStartCalls().size()));
                                  EXPECT_CALLS(spk::PlaybackStartCalls(), calls);
                                  EXPECT_EQ(pSpkLockMem->PlayState, 4);
                                  EXPECT_EQ(pSpkLockMem->RecState, 0);
                              }}});
    }));
}

TEST(WatchThread, AFailedReadShowsTheSystemsTextAndEndsTheThread)
{
    ASSERT_TRUE(support::InChild([] {
        spk::PlayWithProbes(std::string(kBoth) + R"(
events:
  - {at: 1, speaker: {pD: 4, rD: 4}}
  - {at: 2, voice_error: 31}
  - {at: 5, dismiss: true}
  - {at: 6, close: true}
)",
                            {{3000, [] {
                                  auto boxes = spk::Events("messagebox");
                                  ASSERT_EQ(boxes.size(), 1u);
                                  EXPECT_EQ(boxes[0]["caption"], "GetLastError");
                                  EXPECT_EQ(boxes[0]["text"], "A device attached to the system is not functioning.\r\n");
                                  EXPECT_EQ(boxes[0]["flags"], MB_ICONINFORMATION);
                                  EXPECT_NE(WatchThread, (HANDLE)NULL) << "the thread waits for the box";
                                  EXPECT_EQ(pSpkLockMem->PlayState, 4) << "the streams are left as they are";
                              }},
                             {5500, [] {
                                  EXPECT_EQ(WatchThread, (HANDLE)NULL);
                                  EXPECT_EQ(spk::Events("thread").back()["event"], "end");
                                  EXPECT_EQ(pSpkLockMem->PlayState, 4);
                                  EXPECT_TRUE(sim::SoundDeviceOpen(true));
                              }}});
    }));
}
