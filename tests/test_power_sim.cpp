// The world's calls behind the suspend veto: RasEnumConnectionsA and global memory, as documented.
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

TEST(SimDialUp, NoConnectionsIsSuccessWithACountOfZero)
{
    EXPECT_TRUE(InWorld([] {
        sim::SetDialUpConnections(0);
        auto buffer = ClassicBuffer(1);
        DWORD size = 412, count = 99;
        EXPECT_EQ(RasEnumConnectionsA((LPRASCONNA)buffer.data(), &size, &count), (DWORD)ERROR_SUCCESS);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(size, 0u);
    }));
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

TEST(SimDialUp, OnlyTheClassicSizeAndTheHostsOwnAreAccepted)
{
    EXPECT_TRUE(InWorld([] {
        sim::SetDialUpConnections(1);
        std::vector<unsigned char> buffer(2048, 0);
        for (DWORD dwSize : {0u, 4u, 411u, 413u, 704u, 1000u}) {
            std::memcpy(buffer.data(), &dwSize, 4);
            DWORD size = 2048, count = 0;
            EXPECT_EQ(RasEnumConnectionsA((LPRASCONNA)buffer.data(), &size, &count), (DWORD)ERROR_INVALID_SIZE)
                << dwSize;
        }
        EXPECT_EQ(ERROR_INVALID_SIZE, 632);
        RASCONNA entry;
        std::memset(&entry, 0, sizeof(entry));
        entry.dwSize = sizeof(RASCONNA);
        DWORD size = sizeof(entry), count = 0;
        EXPECT_EQ(RasEnumConnectionsA(&entry, &size, &count), (DWORD)ERROR_SUCCESS);
        EXPECT_EQ(count, 1u);
        EXPECT_NE(entry.hrasconn, (HRASCONN)NULL);
        EXPECT_GT(std::strlen(entry.szEntryName), 0u);
        EXPECT_EQ(RasEnumConnectionsA(&entry, NULL, &count), (DWORD)ERROR_INVALID_PARAMETER);
        EXPECT_EQ(RasEnumConnectionsA(&entry, &size, NULL), (DWORD)ERROR_INVALID_PARAMETER);
        EXPECT_EQ(sim::DialUpQueries(), 9);
    }));
}

// ---- global memory ----

TEST(SimGlobalMemory, FixedMemoryIsItsOwnHandleAndZeroedWhenAsked)
{
    EXPECT_TRUE(InWorld([] {
        HGLOBAL h = GlobalAlloc(GMEM_ZEROINIT, 412);
        ASSERT_NE(h, (HGLOBAL)NULL);
        unsigned char *p = (unsigned char *)GlobalLock(h);
        EXPECT_EQ((void *)p, (void *)h);
        bool zero = true;
        for (int i = 0; i < 412; ++i)
            zero = zero && p[i] == 0;
        EXPECT_TRUE(zero);
        EXPECT_TRUE(GlobalUnlock(h)) << "fixed memory has no lock count";
        EXPECT_EQ(sim::GlobalBlocksInUse(), 1);
        EXPECT_EQ(GlobalFree(h), (HGLOBAL)NULL);
        EXPECT_EQ(sim::GlobalBlocksInUse(), 0);

        HGLOBAL raw = GlobalAlloc(GMEM_FIXED, 16);
        EXPECT_NE(((unsigned char *)raw)[0], 0) << "without GMEM_ZEROINIT the bytes are not zeroed";
        GlobalFree(raw);
    }));
}

TEST(SimGlobalMemory, MoveableMemoryCountsItsLocks)
{
    EXPECT_TRUE(InWorld([] {
        HGLOBAL h = GlobalAlloc(GHND, 64);
        ASSERT_NE(h, (HGLOBAL)NULL);
        void *p = GlobalLock(h);
        ASSERT_NE(p, (void *)NULL);
        EXPECT_NE(p, (void *)h);
        EXPECT_EQ(GlobalLock(h), p);
        EXPECT_TRUE(GlobalUnlock(h)) << "still locked once";
        SetLastError(12345);
        EXPECT_FALSE(GlobalUnlock(h));
        EXPECT_EQ(GetLastError(), (DWORD)NO_ERROR) << "unlocked now";
        EXPECT_FALSE(GlobalUnlock(h));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_LOCKED);
        EXPECT_EQ(GlobalFree(h), (HGLOBAL)NULL);
        SetLastError(0);
        EXPECT_EQ(GlobalFree(h), h) << "a freed handle is handed back";
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
        EXPECT_EQ(GlobalLock(h), (void *)NULL);
        EXPECT_EQ(GlobalFree(NULL), (HGLOBAL)NULL);
        EXPECT_EQ(sim::GlobalBlocksInUse(), 0);
    }));
}

}  // namespace
