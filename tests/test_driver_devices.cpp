// The driver double's devices as the program uses them: the voice read pending until the driver
// speaks, exclusive opens, buffer lengths. (The world's Win32 itself, message order, timers, waits,
// is held to real Win32 by the conformance suite, tests/conformance/.) Each case runs in a world of
// its own.
#include <gtest/gtest.h>

#include <cstring>

#include "driver_double.h"
#include "support.h"
#include "world.h"

namespace {

void InWorld(const std::function<void()> &body)
{
    EXPECT_TRUE(support::InWorld(body));
}

}  // namespace

TEST(SimDriver, VoiceReadStaysPendingUntilTheDriverSpeaks)
{
    InWorld([] {
        sim::DriverSetPresent(true, true);
        HANDLE voice = CreateFileA("\\\\.\\VVOICE", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(voice, INVALID_HANDLE_VALUE);
        EXPECT_EQ(CreateFileA("\\\\.\\VVOICE", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
        static uint8_t block[33460];
        sim::At(1234, [] { sim::DriverRequest(0xC, 4); });
        DWORD n = 0;
        EXPECT_TRUE(ReadFile(voice, block, sizeof(block), &n, NULL));
        EXPECT_EQ(sim::Now(), 1234);
        int32_t pD, rD, status;
        memcpy(&pD, block + 0x8008, 4);
        memcpy(&rD, block + 0x800C, 4);
        memcpy(&status, block + 0x8018, 4);
        EXPECT_EQ(pD, 0xC);
        EXPECT_EQ(rD, 4);
        EXPECT_EQ(status, 1);
        // A word said while no read is pending is said at the next read.
        sim::DriverFailRead(31);
        EXPECT_FALSE(ReadFile(voice, block, sizeof(block), &n, NULL));
        EXPECT_EQ(GetLastError(), 31u);
        EXPECT_EQ(sim::Now(), 1234);
        // A buffer too short for the driver's fields is refused at once.
        EXPECT_FALSE(ReadFile(voice, block, 100, &n, NULL));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
        EXPECT_TRUE(CloseHandle(voice));
    });
}

TEST(SimDriver, ControlDeviceChecksBufferLengths)
{
    InWorld([] {
        sim::DriverSetPresent(false, true);
        sim::DriverSetStatus(0x60, std::string("555"), 90);
        HANDLE control = CreateFileA("\\\\.\\VXMCOM", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(control, INVALID_HANDLE_VALUE);
        uint8_t record[112] = {};
        DWORD n = 0;
        EXPECT_FALSE(DeviceIoControl(control, 0x80802804, NULL, 0, record, 111, &n, NULL));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
        EXPECT_TRUE(DeviceIoControl(control, 0x80802804, NULL, 0, record, 112, &n, NULL));
        EXPECT_EQ(n, 112u);
        EXPECT_STREQ((const char *)record, "555");
        EXPECT_EQ(record[104], 0x60);
        EXPECT_EQ(record[100], 90);
        EXPECT_FALSE(DeviceIoControl(control, 0x80802800, NULL, 0, record, 112, &n, NULL));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_FUNCTION);
    });
}
