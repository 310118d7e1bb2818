// The world's devices and Win32 details that need the world to be seen: the driver double's devices
// (the voice read pending until the driver speaks, buffer lengths, a removed device), FormatMessageA's
// whole table of insert rules, the trace's decoding of ANSI bytes. (Message order, timers, waits and
// the rest of the world's Win32 are held to real Win32 by the conformance suite, tests/conformance/.)
// Each case runs in a world of its own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver_double.h"
#include "support.h"
#include "user32.h"
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

TEST(SimDriver, ARemovedDeviceStaysRemovedForTheHandlesOpenedBefore)
{
    InWorld([] {
        sim::DriverSetPresent(false, true);
        sim::DriverSetPresent(true, true);
        auto open = [](const char *name) {
            return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        };
        HANDLE control = open("\\\\.\\VXMCOM"), voice = open("\\\\.\\VVOICE");
        ASSERT_NE(control, INVALID_HANDLE_VALUE);
        ASSERT_NE(voice, INVALID_HANDLE_VALUE);
        uint8_t record[112] = {};
        static uint8_t block[33460];
        DWORD n = 0;
        sim::DriverSetPresent(false, false);
        sim::DriverSetPresent(true, false);
        sim::DriverSetPresent(false, true);
        sim::DriverSetPresent(true, true);
        // Back again, but not for the old handles.
        EXPECT_FALSE(DeviceIoControl(control, 0x80802804, NULL, 0, record, 112, &n, NULL));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_DEV_NOT_EXIST);
        EXPECT_FALSE(ReadFile(voice, block, sizeof(block), &n, NULL));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_DEV_NOT_EXIST);
        // A new open gets a working handle, though the old one is still open; closing the old one
        // leaves the new one the only one.
        HANDLE again = open("\\\\.\\VXMCOM");
        ASSERT_NE(again, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(DeviceIoControl(again, 0x80802804, NULL, 0, record, 112, &n, NULL));
        EXPECT_TRUE(CloseHandle(control));
        EXPECT_EQ(open("\\\\.\\VXMCOM"), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
        EXPECT_TRUE(DeviceIoControl(again, 0x80802804, NULL, 0, record, 112, &n, NULL));
    });
}

// ---- FormatMessageA: the system's texts, languages and insert rules ----

TEST(SimKernel32, FormatMessageFollowsTheLanguageAndTheInsertRules)
{
    InWorld([] {
        const DWORD SYS = FORMAT_MESSAGE_FROM_SYSTEM, STR = FORMAT_MESSAGE_FROM_STRING,
                    IGNORE = FORMAT_MESSAGE_IGNORE_INSERTS, ARRAY = FORMAT_MESSAGE_ARGUMENT_ARRAY;
        const DWORD neutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                    user = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), us = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                    uk = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK), german = MAKELANGID(0x07, SUBLANG_DEFAULT);
        static const DWORD_PTR args[] = {(DWORD_PTR) "x.exe", 42};
        const char *gen = "A device attached to the system is not functioning.\r\n";
        const char *bad_exe = "%1 is not a valid Win32 application.\r\n";
        struct Row {
            DWORD flags;
            const char *source;
            DWORD id, lang;
            const DWORD_PTR *args;
            const char *text;  // null: fails
            DWORD error;       // the last error when it fails
        };
        const Row rows[] = {
            {SYS, nullptr, ERROR_GEN_FAILURE, neutral, nullptr, gen, 0},
            {SYS, nullptr, ERROR_GEN_FAILURE, user, nullptr, gen, 0},
            {SYS, nullptr, ERROR_GEN_FAILURE, us, nullptr, gen, 0},
            {SYS, nullptr, ERROR_GEN_FAILURE, uk, nullptr, nullptr, ERROR_RESOURCE_LANG_NOT_FOUND},
            {SYS, nullptr, ERROR_GEN_FAILURE, german, nullptr, nullptr, ERROR_RESOURCE_LANG_NOT_FOUND},
            {SYS, nullptr, 3044, neutral, nullptr, nullptr, ERROR_MR_MID_NOT_FOUND},
            // A system text with an insert: without arguments it cannot be formatted.
            {SYS, nullptr, ERROR_BAD_EXE_FORMAT, neutral, nullptr, nullptr, ERROR_INVALID_PARAMETER},
            {SYS | IGNORE, nullptr, ERROR_BAD_EXE_FORMAT, neutral, nullptr, bad_exe, 0},
            {SYS | ARRAY, nullptr, ERROR_BAD_EXE_FORMAT, neutral, args,
             "x.exe is not a valid Win32 application.\r\n", 0},
            {STR | IGNORE, "test%1%2!*.*s!%99", 0, 0, nullptr, "test%1%2!*.*s!%99", 0},
            {STR | IGNORE, "%%% %.%!", 0, 0, nullptr, "%%% %.%!", 0},
            {STR | IGNORE, "%n%r%t", 0, 0, nullptr, "\r\n\r\t", 0},
            {STR | IGNORE, "test%0test", 0, 0, nullptr, "test", 0},
            {STR | IGNORE, "%0test", 0, 0, nullptr, nullptr, ERROR_NO_WORK_DONE},
            {STR | IGNORE, "hi\n\r\r\n", 0, 0, nullptr, "hi\r\n\r\n\r\n", 0},
            {STR | IGNORE | FORMAT_MESSAGE_MAX_WIDTH_MASK, "hi\r\n", 0, 0, nullptr, "hi ", 0},
            {STR | ARRAY, "%1 and %2!d! %%%.%!", 0, 0, args, "x.exe and 42 %.!", 0},
            {STR, "plain%1", 0, 0, nullptr, nullptr, ERROR_INVALID_PARAMETER},
            {IGNORE, "test", 0, 0, nullptr, nullptr, ERROR_INVALID_PARAMETER},
        };
        std::string expected, actual;
        for (const Row &row : rows) {
            char out[256] = "untouched";
            SetLastError(0xdeadbeef);
            DWORD n = FormatMessageA(row.flags, row.source, row.id, row.lang, out, sizeof(out),
                                     (va_list *)(void *)row.args);
            std::string line = std::to_string(row.flags) + " " + (row.source ? row.source : std::to_string(row.id)) +
                               " lang " + std::to_string(row.lang) + ": ";
            expected += line + (row.text ? "\"" + std::string(row.text) + "\"" : "error " + std::to_string(row.error));
            expected += "\n";
            actual += line + (n ? "\"" + std::string(out, n) + "\"" : "error " + std::to_string(GetLastError()));
            actual += n == strlen(out) || !n ? "\n" : " (length " + std::to_string(n) + ")\n";
        }
        EXPECT_EQ(actual, expected) << "expected:\n" << expected << "actual:\n" << actual;
    });
}

// ---- the trace's decoding of ANSI bytes ----

TEST(SimTrace, AnsiBytesAreDecodedWithWindowsOwnTables)
{
    InWorld([] {
        struct Row {
            int codepage;
            std::string bytes, utf8;
        };
        const Row rows[] = {
            {1252, "caf\xE9 \x80", "caf\u00E9 \u20AC"},
            {1252, "\x81\x8D\x8F\x90\x9D", "\u0081\u008D\u008F\u0090\u009D"},  // unassigned: kept as C1
            {932, "\x93\xFA\x96\x7B", "\u65E5\u672C"},
            {932, "\x93\xFA\x93", "\u65E5\u30FB"},   // a lone lead byte at the end
            {932, "\xA0\xFD\xFE\xFF\x80", "\uF8F0\uF8F1\uF8F2\uF8F3\u0080"},
            {949, "\xC7\xD1\xB1", "\uD55C?"},        // Korean: the default character is "?"
            {949, "\xB1\x20", "?"},                  // a lead byte and no trail byte: one character
        };
        std::string expected, actual;
        for (const Row &row : rows) {
            sim::SetCodePage(row.codepage);
            std::string line = std::to_string(row.codepage) + " " + sim::Hex(row.bytes) + ": ";
            expected += line + row.utf8 + "\n";
            actual += line + sim::AnsiToUtf8(row.bytes) + "\n";
        }
        EXPECT_EQ(actual, expected) << "expected:\n" << expected << "actual:\n" << actual;
    });
}
