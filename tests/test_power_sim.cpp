// The world's calls behind the suspend veto as only the world shows them: RasEnumConnectionsA with
// the connections a scenario gives, and global memory's account. Their Win32 rules are checked by the
// conformance suite (tests/conformance/), in the world and under Wine.
#include <windows.h>
#include <ras.h>

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "support.h"
#include "system.h"
#include "world.h"

using support::InWorld;

namespace {


// ---- RasEnumConnectionsA ----

// A buffer of `entries` classic 32-bit entries (412 bytes each), the first one's size set.
std::vector<unsigned char> ClassicBuffer(int entries)
{
    std::vector<unsigned char> buffer(412 * entries, 0);
    DWORD size = 412;
    std::memcpy(buffer.data(), &size, sizeof(size));
    return buffer;
}

TEST(SimDialUp, OneConnectionFillsTheClassicEntry)
{
    EXPECT_TRUE(InWorld([] {
        sim::SetDialUpConnections(1);
        auto buffer = ClassicBuffer(1);
        DWORD size = 412, count = 0;
        EXPECT_EQ(RasEnumConnectionsA((LPRASCONNA)buffer.data(), &size, &count), (DWORD)ERROR_SUCCESS);
        EXPECT_EQ(count, 1u);
        EXPECT_EQ(size, 412u);
        DWORD dwSize;
        std::memcpy(&dwSize, buffer.data(), 4);
        EXPECT_EQ(dwSize, 412u);
        // The classic 32-bit layout: a 4-byte handle, then the entry name at 8.
        uint32_t handle;
        std::memcpy(&handle, buffer.data() + 4, 4);
        EXPECT_NE(handle, 0u);
        EXPECT_GT(std::strlen((const char *)buffer.data() + 8), 0u);
        EXPECT_LE(std::strlen((const char *)buffer.data() + 8), 256u);
    }));
}

TEST(SimDialUp, MoreConnectionsThanFitAnswerBufferTooSmallWithTheSizeNeeded)
{
    EXPECT_TRUE(InWorld([] {
        sim::SetDialUpConnections(2);
        auto buffer = ClassicBuffer(1);
        DWORD size = 412, count = 99;
        EXPECT_EQ(RasEnumConnectionsA((LPRASCONNA)buffer.data(), &size, &count), (DWORD)ERROR_BUFFER_TOO_SMALL);
        EXPECT_EQ(size, 824u);
        EXPECT_EQ(count, 0u);
        // With room for both, both are reported.
        buffer = ClassicBuffer(2);
        size = 824;
        EXPECT_EQ(RasEnumConnectionsA((LPRASCONNA)buffer.data(), &size, &count), (DWORD)ERROR_SUCCESS);
        EXPECT_EQ(count, 2u);
        DWORD second;
        std::memcpy(&second, buffer.data() + 412, 4);
        EXPECT_EQ(second, 412u) << "every entry carries its size";
        // No buffer: the size needed, in the host's own entries.
        size = 0;
        EXPECT_EQ(RasEnumConnectionsA(NULL, &size, &count), (DWORD)ERROR_BUFFER_TOO_SMALL);
        EXPECT_EQ(size, 2 * sizeof(RASCONNA));
    }));
}

TEST(SimDialUp, TheHostsOwnEntrySizeIsAcceptedBesideTheClassicOne)
{
    EXPECT_TRUE(InWorld([] {
        sim::SetDialUpConnections(1);
        RASCONNA entry;
        std::memset(&entry, 0, sizeof(entry));
        entry.dwSize = sizeof(RASCONNA);
        DWORD size = sizeof(entry), count = 0;
        EXPECT_EQ(RasEnumConnectionsA(&entry, &size, &count), (DWORD)ERROR_SUCCESS);
        EXPECT_EQ(count, 1u);
        EXPECT_NE(entry.hrasconn, (HRASCONN)NULL);
        EXPECT_GT(std::strlen(entry.szEntryName), 0u);
        EXPECT_EQ(sim::DialUpQueries(), 1);
    }));
}

// ---- global memory ----

// The GlobalAlloc family's rules are the conformance suite's (kernel32_mem.c); here what only the
// world shows: memory not asked to be zeroed is not, and every block is counted until it is freed.
TEST(SimGlobalMemory, UnzeroedMemoryIsNotZeroAndBlocksAreCounted)
{
    EXPECT_TRUE(InWorld([] {
        HGLOBAL raw = GlobalAlloc(GMEM_FIXED, 16);
        EXPECT_NE(((unsigned char *)raw)[0], 0) << "without GMEM_ZEROINIT the bytes are not zeroed";
        HGLOBAL moveable = GlobalAlloc(GHND, 64);
        EXPECT_EQ(sim::GlobalBlocksInUse(), 2);
        GlobalFree(raw);
        GlobalFree(moveable);
        EXPECT_EQ(sim::GlobalBlocksInUse(), 0);
    }));
}

}  // namespace
