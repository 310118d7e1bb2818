// The suspend veto called directly, inside a world: the table of answers row by row.
#include <windows.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "app/power.h"
#include "driver/device_link.h"
#include "support.h"
#include "system.h"
#include "world.h"

using support::InWorld;

namespace {


struct Row {
    uint32_t platform, major;
    bool record;          // the line-status record exists
    DWORD status;         // its StatusWord
    int dialup;           // active connections
    WPARAM event;
    LRESULT answer;       // expected
    int queries;          // RasEnumConnectionsA calls expected
};

const LRESULT kDeny = BROADCAST_QUERY_DENY;
const Row kVetoTable[] = {
    // no bit, or no record: the default window procedure, whatever the system
    {2, 5, true, 0x000, 0, PBT_APMQUERYSUSPEND, 0, 0},
    {1, 4, true, 0x080, 1, PBT_APMQUERYSUSPEND, 0, 0},
    {1, 4, false, 0x000, 0, PBT_APMQUERYSUSPEND, 0, 0},
    {2, 5, false, 0x000, 2, PBT_APMQUERYSUSPEND, 0, 0},
    // bit set, NT family of major version 5: refused without asking
    {2, 5, true, 0x200, 0, PBT_APMQUERYSUSPEND, kDeny, 0},
    {2, 5, true, 0x200, 1, PBT_APMQUERYSUSPEND, kDeny, 0},
    {2, 5, true, 0x2C0, 2, PBT_APMQUERYSUSPEND, kDeny, 0},
    // bit set elsewhere: exactly one connection lets it pass
    {1, 4, true, 0x280, 1, PBT_APMQUERYSUSPEND, 0, 1},
    {2, 4, true, 0x200, 1, PBT_APMQUERYSUSPEND, 0, 1},
    {2, 6, true, 0x200, 1, PBT_APMQUERYSUSPEND, 0, 1},
    {1, 4, true, 0x200, 0, PBT_APMQUERYSUSPEND, kDeny, 1},
    {1, 4, true, 0x200, 2, PBT_APMQUERYSUSPEND, kDeny, 1},
    {2, 6, true, 0x200, 5, PBT_APMQUERYSUSPEND, kDeny, 1},
    // other power events: the default window procedure
    {2, 5, true, 0x200, 0, PBT_APMRESUMESUSPEND, 0, 0},
    {1, 4, true, 0x200, 0, PBT_APMSUSPEND, 0, 0},
    {1, 4, true, 0x200, 0, PBT_APMQUERYSUSPENDFAILED, 0, 0},
    {2, 5, true, 0x200, 0, PBT_APMPOWERSTATUSCHANGE, 0, 0},
};

TEST(PowerVetoTable, EveryRowGetsItsAnswer)
{
    for (const Row &row : kVetoTable) {
        char name[128];
        std::snprintf(name, sizeof(name), "platform %u major %u record %d status 0x%x dialup %d event %u",
                      row.platform, row.major, row.record, (unsigned)row.status, row.dialup, (unsigned)row.event);
        EXPECT_TRUE(InWorld([&row, name] {
            sim::SetOsVersion(row.platform, row.major, row.platform == 1 ? 10 : 0);
            sim::SetDialUpConnections(row.dialup);
            LineStatusRecord record = {};
            record.StatusWord = row.status;
            pLineStatusRecord = row.record ? &record : NULL;
            LRESULT answer = HandlePowerBroadcast(NULL, row.event, 1);
            EXPECT_EQ(answer, row.answer) << name;
            EXPECT_EQ(sim::DialUpQueries(), row.queries) << name;
            EXPECT_EQ(sim::GlobalBlocksInUse(), 0) << name;
            pLineStatusRecord = NULL;
        })) << name;
    }
}

// Fills the stack below the caller with DWORDs alternating 2 and 5 (or 5 and 2): a version structure
// left unwritten there reads as the NT family of major version 5 in one of the two phases.
__attribute__((noinline)) void PaintStackNt5(int phase)
{
    volatile DWORD area[1024];
    for (size_t k = 0; k < 1024; k++)
        area[k] = (k + phase) % 2 ? 5 : 2;
    (void)area[0];
}

// A version query that fails tells nothing: whatever the stack held, the system is taken for one
// outside NT 5, and the dial-up connection decides.
TEST(PowerVetoTable, AFailedVersionQueryIsNotNt5WhateverTheStackHeld)
{
    for (int phase = 0; phase < 2; ++phase) {
        EXPECT_TRUE(InWorld([phase] {
            sim::SetOsVersion(2, 5, 0);
            sim::SetDialUpConnections(1);
            sim::AddFault("GetVersionExA", 1, 1);
            LineStatusRecord record = {};
            record.StatusWord = 0x200;
            pLineStatusRecord = &record;
            PaintStackNt5(phase);
            EXPECT_EQ(HandlePowerBroadcast(NULL, PBT_APMQUERYSUSPEND, 1), 0) << phase;
            EXPECT_EQ(sim::DialUpQueries(), 1) << phase;
            pLineStatusRecord = NULL;
        })) << phase;
    }
}

TEST(PowerDialUp, OneConnectionCountsTwoOrMoreDoNot)
{
    const int expected[] = {0, 1, 0, 0};
    for (int connections = 0; connections < 4; ++connections) {
        EXPECT_TRUE(InWorld([connections, &expected] {
            sim::SetDialUpConnections(connections);
            EXPECT_EQ(IsDialUpConnected(), expected[connections]) << connections << " connections";
            EXPECT_EQ(sim::DialUpQueries(), 1);
            EXPECT_EQ(sim::GlobalBlocksInUse(), 0) << "the buffer is freed";
        })) << connections;
    }
}

TEST(PowerDialUp, AFailingAllocationOrEnumerationCountsAsNotConnected)
{
    for (const char *call : {"GlobalAlloc", "RasEnumConnectionsA"}) {
        EXPECT_TRUE(InWorld([call] {
            sim::SetDialUpConnections(1);
            sim::AddFault(call, 1, 1, ERROR_NOT_ENOUGH_MEMORY);
            EXPECT_EQ(IsDialUpConnected(), 0) << call;
            EXPECT_EQ(sim::GlobalBlocksInUse(), 0) << call;
            EXPECT_EQ(IsDialUpConnected(), 1) << call << ": the next query asks again";
        })) << call;
    }
}

}  // namespace
