// The speakerphone block as the driver sees it: fields at their offsets in every build, the whole
// 32-bit layout in the shipped build, and no byte written by the program where it has no business.
#include <cstdio>
#include <cstring>
#include <fstream>

#include "speaker_support.h"

namespace {

int32_t At32(const void *block, size_t offset)
{
    int32_t v;
    memcpy(&v, (const char *)block + offset, 4);
    return v;
}

uint16_t At16(const void *block, size_t offset)
{
    uint16_t v;
    memcpy(&v, (const char *)block + offset, 2);
    return v;
}

}  // namespace

TEST(SpeakerLayout, TheDriversFieldsSitAtTheirOffsetsAfterAStart)
{
    ASSERT_TRUE(support::InChild([] {
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            SpkLockMem *b = spk::NewBlock();
            ASSERT_NE(b, nullptr);
            // What the driver writes at its offsets is what the program reads from its fields.
            int32_t requests[3] = {-1, 4, 7};
            memcpy((char *)b + 0x8008, &requests[0], 4);
            memcpy((char *)b + 0x800C, &requests[1], 4);
            memcpy((char *)b + 0x8018, &requests[2], 4);
            EXPECT_EQ(b->pD, -1);
            EXPECT_EQ(b->rD, 4);
            EXPECT_EQ(b->Status, 7);
            memset(b->Reserved, 0xA5, sizeof(b->Reserved));
            ASSERT_EQ(StartPlayback(hwnd), 1);
            ASSERT_EQ(StartRecord(hwnd), 1);
            EXPECT_EQ(At32(b, 0x8000), 3) << "PlayIndex";
            EXPECT_EQ(At32(b, 0x8004), 1) << "RecIndex";
            EXPECT_EQ(At32(b, 0x8010), 4) << "PlayState";
            EXPECT_EQ(At32(b, 0x8014), 4) << "RecState";
            // The format record's values, member by member, as the wave interface reads them.
            size_t f = offsetof(SpkLockMem, WaveFormat);
            EXPECT_EQ(At16(b, f + 0), 1) << "wFormatTag";
            EXPECT_EQ(At16(b, f + 2), 1) << "nChannels";
            EXPECT_EQ(At32(b, f + 4), 8000) << "nSamplesPerSec";
            EXPECT_EQ(At32(b, f + 8), 16000) << "nAvgBytesPerSec";
            EXPECT_EQ(At16(b, f + 12), 2) << "nBlockAlign";
            EXPECT_EQ(At16(b, f + 14), 16) << "wBitsPerSample";
            spk::Pump(hwnd, 1000);
            StopPlayback();
            StopRecord();
            // The program never clears the requests and never touches the driver's reserved bytes.
            EXPECT_EQ(At32(b, 0x8008), -1);
            EXPECT_EQ(At32(b, 0x800C), 4);
            EXPECT_EQ(At32(b, 0x8018), 7);
            bool untouched = true;
            for (BYTE x : b->Reserved)
                untouched = untouched && x == 0xA5;
            EXPECT_TRUE(untouched) << "Reserved was written";
        });
    }));
}

TEST(SpeakerLayout, TheProgramWritesNoSampleButTheZerosOfAStart)
{
    ASSERT_TRUE(support::InChild([] {
        sim::Signal mic;
        mic.kind = sim::Signal::Counter;
        sim::SoundSetMic(mic);
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            SpkLockMem *b = spk::NewBlock();
            ASSERT_EQ(StartPlayback(hwnd), 1);
            ASSERT_EQ(StartRecord(hwnd), 1);
            // No driver here: whatever is in the playback area after a second of streaming was put
            // there by the program, and it is nothing but the start's zeros.
            spk::Pump(hwnd, 1000);
            bool silent = true;
            for (short s : b->PlayData)
                silent = silent && s == 0;
            EXPECT_TRUE(silent);
            // The record area holds what the sound card recorded, untouched by the program.
            const auto &captured = sim::SoundSessions(false).back().samples;
            ASSERT_EQ(captured.size(), 15u * 512) << "fifteen buffers of 64 ms filled in a second";
            EXPECT_EQ(memcmp(b->RecData, captured.data(), captured.size() * 2), 0);
        });
    }));
}

TEST(SpeakerLayout, ThirtyTwoBitBuildPutsEveryFieldAndHeaderAtItsOffset)
{
    // The shipped program is 32-bit: its compiler proves the whole layout, this test's own list of
    // offsets included, without running anything.
    const char *compiler = "i686-w64-mingw32-g++";
    if (system((std::string("command -v ") + compiler + " > /dev/null").c_str()) != 0)
        GTEST_SKIP() << compiler << " is not installed";
    char dir[] = "/tmp/spk-layout-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string source = std::string(dir) + "/layout.cpp";
    std::ofstream(source) << R"(#include "speaker/spk_lock_mem.h"
#define AT(field, offset) static_assert(offsetof(SpkLockMem, field) == offset, #field)
AT(PlayData, 0); AT(RecData, 16384); AT(PlayIndex, 32768); AT(RecIndex, 32772); AT(pD, 32776);
AT(rD, 32780); AT(PlayState, 32784); AT(RecState, 32788); AT(Status, 32792); AT(Reserved, 32796);
AT(hWaveOut, 32924); AT(hWaveIn, 32928); AT(WaveFormat, 32932);
AT(WaveFormat.wf.nSamplesPerSec, 0x80A8); AT(WaveFormat.wBitsPerSample, 0x80B2);
AT(PlayHdr[0], 32948); AT(PlayHdr[7], 32948 + 7 * 32); AT(RecHdr[0], 33204); AT(RecHdr[7].reserved, 33456);
AT(RecHdr[8], 33460); AT(RecHdr[15], 33204 + 15 * 32);
static_assert(sizeof(SpkLockMem) == 33716, "record header 15 ends at byte 33,715");
static_assert(SPK_READ_LENGTH == 33460 && SPK_LOCK_MEM_REQUEST == 33460, "read length and request");
static_assert(SPK_LOCK_MEM_COMMITTED == 9 * 4096, "nine pages");
)";
    std::string command = std::string(compiler) + " -std=c++17 -fsyntax-only -Wall -Werror -I " VUDIZERI_SOURCE_DIR " " +
                          source + " 2>&1";
    FILE *p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string output;
    char buf[512];
    while (fgets(buf, sizeof(buf), p))
        output += buf;
    int status = pclose(p);
    EXPECT_EQ(status, 0) << output;
    unlink(source.c_str());
    rmdir(dir);
}
