// The world's devices and Win32 details that need the world to be seen: the driver double's devices
// (the voice read pending until the driver speaks, buffer lengths, a removed device), FormatMessageA's
// whole table of insert rules, the trace's decoding of ANSI bytes, each call's failure under a fault,
// the account of what is held, the beeps of discarded keystrokes. (Message order, timers, waits, the
// characters of keystrokes and the rest of the world's Win32 are
// held to real Win32 by the conformance suite, tests/conformance/.) Each case runs in a world of its own.
#include <gtest/gtest.h>

#include <mmsystem.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "driver_double.h"
#include "registry.h"
#include "support.h"
#include "system.h"
#include "user.h"
#include "user32.h"
#include "world.h"

namespace {

void InWorld(const std::function<void()> &body)
{
    EXPECT_TRUE(support::InWorld(body));
}

// A playback and a record device of the speakerphone format, and a 512-byte header for them.
WAVEHDR &OpenBothWithAHeader(HWAVEOUT *out, HWAVEIN *in)
{
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    EXPECT_EQ(waveOutOpen(out, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInOpen(in, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    static char data[512];
    static WAVEHDR header;
    header.lpData = data;
    header.dwBufferLength = sizeof(data);
    return header;
}

// What the world reports as the program's fault from now on, "call kind state" each.
const std::vector<std::string> &MisuseReported()
{
    static std::vector<std::string> misuse;
    misuse.clear();
    sim::SetTraceSink([](const std::string &line) {
        auto e = support::Json::parse(line);
        if (e["ev"] == "misuse")
            misuse.push_back(e["call"].get<std::string>() + " " + e["kind"].get<std::string>() + " " +
                             e["state"].get<std::string>());
    });
    return misuse;
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
        // Any length but the driver contract's is refused at once, shorter or longer, and the trace
        // shows the length of every read the driver was asked for.
        static std::vector<int64_t> lengths;
        static std::vector<std::string> misuse;
        sim::EnableTraceDetail("read");
        sim::SetTraceSink([](const std::string &line) {
            auto e = support::Json::parse(line);
            if (e["ev"] == "read")
                lengths.push_back(e["length"].get<int64_t>());
            if (e["ev"] == "misuse")
                misuse.push_back(e["call"].get<std::string>() + " " + e["state"].get<std::string>());
        });
        for (DWORD length : {100u, 33459u, 33461u, 36864u}) {
            EXPECT_FALSE(ReadFile(voice, block, length, &n, NULL)) << length;
            EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER) << length;
        }
        EXPECT_TRUE(misuse.empty());
        // A read without a place for its count is the program's fault (Windows writes the count
        // through the pointer), reported and answered as with one; an overlapped read may go
        // without it on NT, not on Windows 95 and 98.
        EXPECT_FALSE(ReadFile(voice, block, 100, NULL, NULL));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
        OVERLAPPED overlapped = {};
        EXPECT_FALSE(ReadFile(voice, block, sizeof(block), NULL, &overlapped));
        EXPECT_EQ(misuse, (std::vector<std::string>{"ReadFile no-count"}));
        sim::SetOsVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10);
        EXPECT_FALSE(ReadFile(voice, block, sizeof(block), NULL, &overlapped));
        EXPECT_EQ(misuse, (std::vector<std::string>{"ReadFile no-count", "ReadFile no-count"}));
        EXPECT_EQ(sim::Now(), 1234);
        sim::At(2000, [] { sim::DriverRequest(0, 0); });
        EXPECT_TRUE(ReadFile(voice, block, sizeof(block), &n, NULL));
        EXPECT_EQ(sim::Now(), 2000);
        EXPECT_EQ(lengths, (std::vector<int64_t>{100, 33459, 33461, 36864, 100, 33460}));
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
        // A length without its buffer faults in the system's copy, before the driver sees it.
        EXPECT_FALSE(DeviceIoControl(control, 0x80802804, NULL, 1, record, 112, &n, NULL));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOACCESS);
        EXPECT_FALSE(DeviceIoControl(control, 0x80802808, record, 112, NULL, 1, &n, NULL));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOACCESS);
        EXPECT_TRUE(DeviceIoControl(control, 0x80802808, record, 112, NULL, 0, &n, NULL));
        // Without a place for the count a synchronous call is the program's fault, even one that
        // returns no data: reported, and answered as with one.
        static std::vector<std::string> misuse;
        sim::SetTraceSink([](const std::string &line) {
            auto e = support::Json::parse(line);
            if (e["ev"] == "misuse")
                misuse.push_back(e["call"].get<std::string>() + " " + e["state"].get<std::string>());
        });
        EXPECT_TRUE(DeviceIoControl(control, 0x80802804, NULL, 0, record, 112, &n, NULL));
        EXPECT_TRUE(misuse.empty());
        EXPECT_TRUE(DeviceIoControl(control, 0x80802808, record, 112, NULL, 0, NULL, NULL));
        EXPECT_EQ(misuse, (std::vector<std::string>{"DeviceIoControl no-count"}));
    });
}

namespace {

// A call's failure as a table line: "CALL RESULT LAST-ERROR" ("untouched" when it left the last error
// alone).
std::string Failure(const char *call, const std::string &result)
{
    DWORD e = GetLastError();
    return std::string(call) + " " + result + " " + (e == 0xDEADBEEF ? std::string("untouched") : std::to_string(e));
}

std::string Lines(const std::vector<std::string> &lines)
{
    std::string s;
    for (auto &l : lines)
        s += "    " + l + "\n";
    return s;
}

// A plain window of a class of its own, for the calls that act on one.
HWND MakeWindow()
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "test";
    EXPECT_NE(RegisterClassA(&wc), 0);
    HWND hwnd = CreateWindowExA(0, "test", "test", 0, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    EXPECT_NE(hwnd, nullptr);
    return hwnd;
}

std::string Bool(BOOL b) { return b ? "TRUE" : "FALSE"; }
std::string Null(const void *p) { return p ? "a value" : "NULL"; }

}  // namespace

TEST(SimFaults, EachCallFailsWithItsDocumentedResultAndError)
{
    InWorld([] {
        // What the failing calls act on, made before any fault is set.
        HWND hwnd = MakeWindow();
        HWND other = CreateWindowExA(0, "test", "other", 0, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
        SetTimer(hwnd, 1, 100, nullptr);
        void *memory = VirtualAlloc(NULL, 100, MEM_COMMIT, PAGE_READWRITE);
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 16);
        GlobalLock(block);
        sim::RegistryCreateKey("Software");
        HKEY key = nullptr;
        RegOpenKeyA(HKEY_CURRENT_USER, "Software", &key);
        HMODULE library = LoadLibraryA("TAPI32.DLL");
        char *text = nullptr;
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, NULL, 31, 0, (LPSTR)&text, 0, NULL);
        RECT rect{1, 2, 3, 4};
        struct Row {
            const char *call;
            std::optional<DWORD> error;  // the scenario's, or none: the documented one
            std::function<std::string()> invoke;
        };
        const std::vector<Row> rows = {
            {"KillTimer", {}, [&] { return Bool(KillTimer(hwnd, 1)); }},
            {"SetTimer", {}, [&] { return std::to_string(SetTimer(hwnd, 2, 100, nullptr)); }},
            {"VirtualFree", {}, [&] { return Bool(VirtualFree(memory, 0, MEM_RELEASE)); }},
            {"SetWindowPos", {}, [&] { return Bool(SetWindowPos(hwnd, NULL, 5, 5, 0, 0, SWP_NOSIZE)); }},
            {"SetDlgItemTextA", {}, [&] { return Bool(SetDlgItemTextA(hwnd, 5, "x")); }},
            {"GetWindowRect", {}, [&] { return Bool(GetWindowRect(hwnd, &rect)) + (rect.left == 1 ? "" : " written"); }},
            {"GetSystemMetrics", {}, [&] { return std::to_string(GetSystemMetrics(SM_CXSCREEN)); }},
            {"LoadIconA", {}, [&] { return Null(LoadIconA(NULL, IDI_APPLICATION)); }},
            {"LoadCursorA", {}, [&] { return Null(LoadCursorA(NULL, IDC_ARROW)); }},
            {"GetStockObject", {}, [&] { return Null(GetStockObject(WHITE_BRUSH)); }},
            {"UpdateWindow", 5, [&] { return Bool(UpdateWindow(hwnd)); }},
            {"RegCloseKey", {}, [&] { return std::to_string(RegCloseKey(key)); }},
            {"GlobalLock", {}, [&] { return Null(GlobalLock(block)); }},
            {"GlobalUnlock", {}, [&] { return Bool(GlobalUnlock(block)); }},
            {"GlobalFree", {}, [&] { return GlobalFree(block) == block ? std::string("the handle") : "NULL"; }},
            {"LocalFree", {}, [&] { return LocalFree(text) == text ? std::string("the handle") : "NULL"; }},
            {"FreeLibrary", {}, [&] { return Bool(FreeLibrary(library)); }},
            {"MessageBoxA", {}, [&] { return std::to_string(MessageBoxA(NULL, "text", "caption", MB_OK)); }},
            {"FormatMessageA", {}, [&] {
                 char buffer[256];
                 return std::to_string(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, NULL, 31, 0, buffer, 256, NULL));
             }},
            {"DestroyWindow", 1400, [&] { return Bool(DestroyWindow(hwnd)); }},
        };
        const std::vector<std::string> expected = {
            "KillTimer FALSE 87", "SetTimer 0 8", "VirtualFree FALSE 87", "SetWindowPos FALSE 1400",
            "SetDlgItemTextA FALSE 1421", "GetWindowRect FALSE 1400", "GetSystemMetrics 0 untouched",
            "LoadIconA NULL 1814", "LoadCursorA NULL 1814", "GetStockObject NULL untouched", "UpdateWindow FALSE 5",
            "RegCloseKey 6 untouched", "GlobalLock NULL 6", "GlobalUnlock FALSE 6", "GlobalFree the handle 6",
            "LocalFree the handle 6", "FreeLibrary FALSE 126", "MessageBoxA 0 8", "FormatMessageA 0 8",
            "DestroyWindow FALSE 1400",
        };
        std::vector<std::string> actual;
        for (const Row &row : rows) {
            sim::AddFault(row.call, 1, 1000000, row.error);
            SetLastError(0xDEADBEEF);
            std::string result = row.invoke();
            actual.push_back(Failure(row.call, result));
        }
        EXPECT_EQ(actual, expected) << "expected:\n" << Lines(expected) << "actual:\n" << Lines(actual);
        // A refused destroy leaves the window; the one the world makes for WM_CLOSE inside
        // DefWindowProcA is not the program's call, and no fault touches it.
        EXPECT_TRUE(IsWindow(hwnd));
        DefWindowProcA(other, WM_CLOSE, 0, 0);
        EXPECT_FALSE(IsWindow(other));
    });
}

TEST(SimHeld, TheAccountListsWhatIsStillHeldInTheOrderAcquiredAndWhatAFaultKept)
{
    InWorld([] {
        HANDLE thread = CreateThread(NULL, 0, [](LPVOID) -> DWORD { return 0; }, NULL, 0, NULL);
        WaitForSingleObject(thread, INFINITE);
        sim::DriverSetPresent(true, true);
        sim::DriverSetPresent(false, true);
        HANDLE voice = CreateFileA("\\\\.\\VVOICE", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        HANDLE control = CreateFileA("\\\\.\\VXMCOM", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        sim::AddFault("CloseHandle", 2, 1);
        EXPECT_TRUE(CloseHandle(voice));
        EXPECT_FALSE(CloseHandle(control));
        HMODULE first = LoadLibraryA("TAPI32.DLL");
        EXPECT_TRUE(FreeLibrary(LoadLibraryA("tapi32")));
        void *kept = VirtualAlloc(NULL, 100, MEM_COMMIT, PAGE_READWRITE);
        EXPECT_TRUE(VirtualFree(VirtualAlloc(NULL, 5000, MEM_COMMIT, PAGE_READWRITE), 0, MEM_RELEASE));
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 16);
        GlobalLock(block);
        char *text = nullptr;
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, NULL, 5, 0, (LPSTR)&text, 0, NULL);
        sim::RegistryCreateKey("Software");
        HKEY key = nullptr;
        RegOpenKeyA(HKEY_CURRENT_USER, "Software", &key);
        HWAVEOUT out = nullptr;
        HWAVEIN in = nullptr;
        WAVEHDR &header = OpenBothWithAHeader(&out, &in);
        EXPECT_EQ(waveOutPrepareHeader(out, &header, sizeof(header)), MMSYSERR_NOERROR);
        EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
        HWND hwnd = MakeWindow();
        static CRITICAL_SECTION a, b;
        InitializeCriticalSection(&a);
        InitializeCriticalSection(&b);
        DeleteCriticalSection(&a);

        std::vector<std::string> actual;
        for (auto &item : sim::HeldItems()) {
            std::string line = item["kind"].get<std::string>() + " " + item["name"].get<std::string>() + " by " +
                               item["by"].get<std::string>() + " " + item["nth"].dump();
            for (const char *key_name : {"handle", "size", "device", "ended", "kept_by", "kept_nth"})
                if (item.contains(key_name))
                    line += std::string(" ") + key_name + "=" + item[key_name].dump();
            actual.push_back(line);
        }
        const std::vector<std::string> expected = {
            "thread thread 2 by CreateThread 1 handle=\"0x100\" ended=true",
            "device \\\\.\\VXMCOM by CreateFileA 2 handle=\"0x108\" kept_by=\"CloseHandle\" kept_nth=2",
            "module TAPI32.DLL by LoadLibraryA 1",
            "memory 100 bytes by VirtualAlloc 1 size=4096",
            "global 16 bytes by GlobalAlloc 1 handle=\"0x10000\" size=16",
            "global lock of 16 bytes by GlobalLock 1 handle=\"0x10000\"",
            "local 20 bytes by FormatMessageA 1 size=20",
            "key HKEY_CURRENT_USER\\Software by RegOpenKeyA 1 handle=\"0x2000\"",
            "waveout WAVE_MAPPER by waveOutOpen 1 handle=\"0xc000\"",
            "header 512 bytes by waveOutPrepareHeader 1 size=512 device=\"0xc000\"",
            "window test by CreateWindowExA 1 handle=\"0x10020\"",
            "critical-section critical section by InitializeCriticalSection 2",
        };
        EXPECT_EQ(actual, expected) << "expected:\n" << Lines(expected) << "actual:\n" << Lines(actual);
        (void)first, (void)kept, (void)hwnd;
    });
}

TEST(SimKernel32, ACriticalSectionUsedAfterItsDeletionBeforeItsInitialisationOrLeftUnownedIsReported)
{
    InWorld([] {
        const std::vector<std::string> &misuse = MisuseReported();
        static CRITICAL_SECTION a, never;
        InitializeCriticalSection(&a);
        EnterCriticalSection(&a);
        EnterCriticalSection(&a);
        LeaveCriticalSection(&a);
        LeaveCriticalSection(&a);
        EXPECT_TRUE(misuse.empty());
        // Left once more than entered: the thread no longer owns it.
        LeaveCriticalSection(&a);
        DeleteCriticalSection(&a);
        // Every use after the deletion is reported, each time, and the world goes on.
        EnterCriticalSection(&a);
        EnterCriticalSection(&a);
        LeaveCriticalSection(&a);
        LeaveCriticalSection(&a);
        DeleteCriticalSection(&a);
        EnterCriticalSection(&never);
        LeaveCriticalSection(&never);
        DeleteCriticalSection(&never);
        // Initialised again, the section is like any other.
        InitializeCriticalSection(&a);
        EnterCriticalSection(&a);
        LeaveCriticalSection(&a);
        DeleteCriticalSection(&a);
        const std::vector<std::string> expected = {
            "LeaveCriticalSection critical-section not-owned",
            "EnterCriticalSection critical-section deleted", "EnterCriticalSection critical-section deleted",
            "LeaveCriticalSection critical-section deleted", "LeaveCriticalSection critical-section deleted",
            "DeleteCriticalSection critical-section deleted",
            "EnterCriticalSection critical-section uninitialised",
            "LeaveCriticalSection critical-section uninitialised",
            "DeleteCriticalSection critical-section uninitialised",
        };
        EXPECT_EQ(misuse, expected);
        EXPECT_TRUE(sim::HeldItems().empty()) << sim::HeldItems().dump();
    });
}

// What a prepare answers is the conformance suite's; which prepares are the program's fault only the
// world can tell.
TEST(SimWinmm, AHeaderPreparedWithFlagsLeftOrStillPreparedByAnotherOpeningIsReported)
{
    InWorld([] {
        const std::vector<std::string> &misuse = MisuseReported();
        HWAVEOUT out = nullptr;
        HWAVEIN in = nullptr;
        WAVEHDR &header = OpenBothWithAHeader(&out, &in);
        WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
        // The loop flags may come set; the opening that prepared a header may prepare it again.
        header.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
        EXPECT_EQ(waveOutPrepareHeader(out, &header, sizeof(header)), MMSYSERR_NOERROR);
        EXPECT_EQ(waveOutPrepareHeader(out, &header, sizeof(header)), MMSYSERR_NOERROR);
        EXPECT_TRUE(misuse.empty());
        // Another device did not prepare it, nor did the same handle opened anew.
        EXPECT_EQ(waveInPrepareHeader(in, &header, sizeof(header)), MMSYSERR_NOERROR);
        EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        EXPECT_EQ(waveOutPrepareHeader(out, &header, sizeof(header)), MMSYSERR_NOERROR);
        // Unprepared, the header carries WHDR_DONE from a use, or flags set by hand.
        EXPECT_EQ(waveOutUnprepareHeader(out, &header, sizeof(header)), MMSYSERR_NOERROR);
        header.dwFlags = WHDR_DONE;
        EXPECT_EQ(waveOutPrepareHeader(out, &header, sizeof(header)), MMSYSERR_NOERROR);
        EXPECT_EQ(header.dwFlags, (DWORD)WHDR_PREPARED);
        EXPECT_EQ(waveOutUnprepareHeader(out, &header, sizeof(header)), MMSYSERR_NOERROR);
        header.dwFlags = 0;
        EXPECT_EQ(waveOutPrepareHeader(out, &header, sizeof(header)), MMSYSERR_NOERROR);
        EXPECT_EQ(waveOutUnprepareHeader(out, &header, sizeof(header)), MMSYSERR_NOERROR);
        const std::vector<std::string> expected = {
            "waveInPrepareHeader header prepared-elsewhere",
            "waveOutPrepareHeader header prepared-elsewhere",
            "waveOutPrepareHeader header flags-left",
        };
        EXPECT_EQ(misuse, expected);
        EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
        EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
        EXPECT_TRUE(sim::HeldItems().empty()) << sim::HeldItems().dump();
    });
}

TEST(SimWorld, AProgramThreadThatNeverWaitsIsEndedAsAHang)
{
    // A loop that only makes platform calls that never block keeps the clock where it is for good.
    std::string output;
    auto start = std::chrono::steady_clock::now();
    bool ended = support::InChild(
        [] {
            setenv("VUDIZERI_WORLD_HANG_SECONDS", "2", 1);
            sim::RunMain([] {
                for (;;)
                    GetTickCount();
                return 0;
            });
        },
        &output);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_FALSE(ended);
    EXPECT_NE(output.find("for 2 s of real time: the program hangs"), std::string::npos) << output;
    EXPECT_LT(seconds, 15) << output;
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

// ---- keystrokes: the beeps no program can see ----

namespace {

LRESULT g_menu_answer;  // what the test window answers to WM_MENUCHAR; 0: DefWindowProcA's answer

LRESULT CALLBACK MenuCharProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_MENUCHAR && g_menu_answer)
        return g_menu_answer;
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace

// The system beeps for a character it discards: Alt with a letter no menu has (unless the owner answers
// MNC_CLOSE, or the window has no window menu), and a WM_SYSCHAR without Alt other than Escape. The
// scripted user's keystroke without the program's window is refused.
TEST(SimKeys, TheSystemBeepsForTheCharactersItDiscards)
{
    InWorld([] {
        std::vector<std::string> heard;
        sim::SetTraceSink([&heard](const std::string &line) {
            auto e = support::Json::parse(line);
            if (e["ev"] == "beep")
                heard.push_back(e["window"].get<std::string>() + " " + std::to_string(e["type"].get<int>()));
            else if (e["ev"] == "user")
                heard.push_back("user " + e["key"].get<std::string>() + " " + e["reason"].get<std::string>());
        });
        sim::UserKey(*sim::ParseKeyStroke("Alt+A"));
        WNDCLASSA wc{};
        wc.lpfnWndProc = MenuCharProc;
        wc.lpszClassName = "Keys";
        ASSERT_TRUE(RegisterClassA(&wc));
        HWND menu = CreateWindowExA(0, "Keys", "with", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, NULL, NULL, NULL, NULL);
        HWND bare = CreateWindowExA(0, "Keys", "without", WS_POPUP, 0, 0, 50, 50, NULL, NULL, NULL, NULL);
        const LPARAM alt = (LPARAM)(1 | (0x1E << 16) | (KF_ALTDOWN << 16)), plain = 1 | (0x1E << 16);
        auto expect = [&heard](const std::vector<std::string> &beeps, const char *what) {
            EXPECT_EQ(heard, beeps) << what;
            heard.clear();
        };
        expect({"user Alt+A no window"}, "a keystroke without the program's window");
        DefWindowProcA(menu, WM_SYSCHAR, 'a', alt);
        expect({"with 0"}, "Alt with a letter, the default answer");
        DefWindowProcA(menu, WM_SYSCHAR, '7', alt);
        expect({"with 0"}, "Alt with a digit");
        g_menu_answer = MAKELONG(0, MNC_CLOSE);
        DefWindowProcA(menu, WM_SYSCHAR, 'a', alt);
        expect({}, "Alt with a letter, MNC_CLOSE answered");
        g_menu_answer = MAKELONG(0, 7);
        DefWindowProcA(menu, WM_SYSCHAR, 'a', alt);
        expect({"with 0"}, "an answer the system does not know");
        g_menu_answer = 0;
        DefWindowProcA(bare, WM_SYSCHAR, 'a', alt);
        expect({}, "Alt with a letter, no window menu");
        for (WPARAM quiet : {(WPARAM)'\t', (WPARAM)0x1B, (WPARAM)' '})
            DefWindowProcA(menu, WM_SYSCHAR, quiet, alt);
        expect({}, "Alt with Tab, Escape or Space");
        DefWindowProcA(bare, WM_SYSCHAR, 'a', plain);
        expect({"without 0"}, "no Alt");
        DefWindowProcA(bare, WM_SYSCHAR, 0x1B, plain);
        expect({}, "Escape without Alt");
        DestroyWindow(menu);
        DestroyWindow(bare);
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
