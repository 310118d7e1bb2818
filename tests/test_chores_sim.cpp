// The world's system calls behind the start-up chores, as far as only the world shows them: each
// system's version, the trace of file changes, WinExec, the telephony modes. Their Win32 rules are
// checked by the conformance suite (tests/conformance/), in the world and under Wine.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support.h"
#include "system.h"
#include "world.h"

namespace {

using support::Json;

// Runs body as the main thread of a fresh world in a child process; the trace lands in *trace.
bool InWorld(const std::function<void(std::vector<Json> &trace)> &body)
{
    return support::InChild([&body] {
        std::vector<Json> trace;
        sim::SetTraceSink([&trace](const std::string &line) { trace.push_back(Json::parse(line)); });
        sim::RunMain([&body, &trace] {
            body(trace);
            return 0;
        });
    });
}

std::string Dump(const std::vector<Json> &trace)
{
    std::string out;
    for (const Json &e : trace)
        out += e.dump() + "\n";
    return out;
}

// ---- GetVersionExA ----

TEST(SimVersion, EachSystemReportsItsPlatformVersionAndBuild)
{
    struct Case { uint32_t platform, major, minor, build; const char *csd; };
    const Case cases[] = {
        {1, 4, 0, 0x040003B6, ""},       // 95: version in the high word of the build number
        {1, 4, 10, 0x040A07CE, ""},      // 98
        {1, 4, 90, 0x045A0BB8, ""},      // Me
        {2, 4, 0, 1381, "Service Pack 6"},
        {2, 5, 0, 2195, "Service Pack 4"},
        {2, 5, 1, 2600, "Service Pack 3"},
        {2, 6, 1, 7601, "Service Pack 1"},
    };
    for (const Case &c : cases) {
        EXPECT_TRUE(InWorld([&c](std::vector<Json> &) {
            sim::SetOsVersion(c.platform, c.major, c.minor);
            OSVERSIONINFOA info;
            std::memset(&info, 0, sizeof(info));
            info.dwOSVersionInfoSize = sizeof(info);
            ASSERT_TRUE(GetVersionExA(&info));
            EXPECT_EQ(info.dwPlatformId, c.platform);
            EXPECT_EQ(info.dwMajorVersion, c.major);
            EXPECT_EQ(info.dwMinorVersion, c.minor);
            EXPECT_EQ(info.dwBuildNumber, c.build);
            EXPECT_STREQ(info.szCSDVersion, c.csd);
            EXPECT_EQ(info.dwOSVersionInfoSize, sizeof(info)) << "the size field is left as it was";
        })) << c.platform << "." << c.major << "." << c.minor;
    }
}

TEST(SimVersion, TheExtendedStructureCarriesTheServicePackAndProduct)
{
    EXPECT_TRUE(InWorld([](std::vector<Json> &) {
        sim::SetOsVersion(VER_PLATFORM_WIN32_NT, 5, 2);
        OSVERSIONINFOEXA info;
        std::memset(&info, 0xAB, sizeof(info));
        info.dwOSVersionInfoSize = sizeof(info);
        ASSERT_TRUE(GetVersionExA((LPOSVERSIONINFOA)&info));
        EXPECT_EQ(info.wServicePackMajor, 2);
        EXPECT_EQ(info.wServicePackMinor, 0);
        EXPECT_EQ(info.wProductType, VER_NT_SERVER);
        EXPECT_EQ(info.wReserved, 0);
    }));
}

// ---- files ----

const char kFile[] = "C:\\WINDOWS\\system32\\vxmport.cpl";
const char kOther[] = "C:\\WINDOWS\\system32\\vxmport.cp_";

// The rules of the file calls are the conformance suite's (kernel32_file.c); here what only the world
// shows: every change in the trace, failures included, and the bytes that travel with a copy.
TEST(SimFiles, EveryChangeIsTracedAndACopyCarriesTheSourcesBytes)
{
    EXPECT_TRUE(InWorld([](std::vector<Json> &trace) {
        sim::SetWindowsDir("C:\\WINDOWS");
        sim::PutFile(kOther, std::string("new\0bytes", 9), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
        sim::PutFile(kFile, "old", FILE_ATTRIBUTE_READONLY);
        EXPECT_EQ(GetFileAttributesA(kFile), (DWORD)FILE_ATTRIBUTE_READONLY);
        EXPECT_TRUE(trace.empty()) << "reading attributes is no effect\n" << Dump(trace);
        EXPECT_FALSE(DeleteFileA(kFile));
        EXPECT_FALSE(CopyFileA(kOther, kFile, FALSE));
        EXPECT_EQ(sim::FileAt(kFile)->content, "old") << "a refused copy leaves the target as it was";
        EXPECT_TRUE(SetFileAttributesA(kFile, FILE_ATTRIBUTE_NORMAL));
        EXPECT_EQ(sim::FileAt(kFile)->attributes, 0u) << "FILE_ATTRIBUTE_NORMAL is stored as none";
        EXPECT_TRUE(CopyFileA(kOther, kFile, FALSE));
        EXPECT_EQ(sim::FileAt(kFile)->content, std::string("new\0bytes", 9));
        EXPECT_TRUE(sim::FileAt(kOther)) << "the source stays";
        EXPECT_FALSE(SetFileAttributesA("C:\\WINDOWS\\none.cpl", FILE_ATTRIBUTE_NORMAL));
        EXPECT_FALSE(sim::FileAt("C:\\WINDOWS\\none.cpl")) << "no file is made";
        std::vector<std::string> ops;
        for (const Json &e : trace)
            ops.push_back(e["op"].get<std::string>() + (e["ok"].get<bool>() ? "" : "!"));
        EXPECT_EQ(ops, (std::vector<std::string>{"delete!", "copy!", "attributes", "copy", "attributes!"}))
            << Dump(trace);
        ASSERT_EQ(trace.size(), 5u);
        EXPECT_EQ(trace[1]["error"], ERROR_ACCESS_DENIED);
        EXPECT_EQ(trace[2]["path"], kFile);
        EXPECT_EQ(trace[2]["attributes"], FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(trace[3]["from"], kOther);
        EXPECT_EQ(trace[3]["attributes"], FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
        EXPECT_EQ(trace[4]["error"], ERROR_FILE_NOT_FOUND);
    }));
}

// ---- WinExec ----

TEST(SimWinExec, TracesTheCommandAndReportsSuccessAbove31)
{
    EXPECT_TRUE(InWorld([](std::vector<Json> &trace) {
        EXPECT_GT(WinExec("control.exe telephon.cpl", SW_SHOWNORMAL), 31u);
        ASSERT_EQ(trace.size(), 1u) << Dump(trace);
        EXPECT_EQ(trace[0]["ev"], "exec");
        EXPECT_EQ(trace[0]["command"], "control.exe telephon.cpl");
        EXPECT_EQ(trace[0]["show"], 1);
        sim::AddFault("WinExec", 2, 1, ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(WinExec("control.exe", SW_SHOW), (UINT)ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(trace.size(), 2u) << "only the fault is traced\n" << Dump(trace);
    }));
}

// ---- LoadLibraryA, GetProcAddress, FreeLibrary ----

typedef LONG (WINAPI *LocationInfo)(LPSTR, LPSTR);

TEST(SimTelephonyLibrary, OneLoadForEveryNameOfTheLibraryAndTheQueryAnswers)
{
    EXPECT_TRUE(InWorld([](std::vector<Json> &) {
        sim::SetTelephony("location");
        HMODULE a = LoadLibraryA("TAPI32.DLL");
        ASSERT_NE(a, (HMODULE)NULL);
        EXPECT_EQ(LoadLibraryA("tapi32"), a);
        EXPECT_EQ(LoadLibraryA("C:\\WINDOWS\\system32\\Tapi32.dll"), a);
        EXPECT_EQ(sim::TelephonyLibraryLoads(), 1);
        auto fn = (LocationInfo)(void (*)(void))GetProcAddress(a, "tapiGetLocationInfoA");
        ASSERT_NE(fn, nullptr);
        char country[20] = "", city[20] = "";
        EXPECT_EQ(fn(country, city), 0);
        EXPECT_STRNE(country, "");
        EXPECT_STRNE(city, "");
        EXPECT_EQ(sim::TelephonyLocationCalls(), 1);
    }));
}

TEST(SimTelephonyLibrary, Windows95sLibraryHasOnlyTheGenericNameTheLaterOnesHaveBoth)
{
    struct Case { uint32_t platform, major, minor; bool ansi; };
    for (const Case &c : {Case{1, 4, 0, false}, Case{1, 4, 10, true}, Case{1, 4, 90, true}, Case{2, 4, 0, true},
                          Case{2, 5, 1, true}}) {
        EXPECT_TRUE(InWorld([&c](std::vector<Json> &) {
            sim::SetOsVersion(c.platform, c.major, c.minor);
            sim::SetTelephony("location");
            HMODULE module = LoadLibraryA("TAPI32.DLL");
            ASSERT_NE(module, (HMODULE)NULL);
            SetLastError(0);
            FARPROC ansi = GetProcAddress(module, "tapiGetLocationInfoA");
            EXPECT_EQ(ansi != NULL, c.ansi);
            if (!ansi) {
                EXPECT_EQ(GetLastError(), (DWORD)ERROR_PROC_NOT_FOUND);
            }
            auto generic = (LocationInfo)(void (*)(void))GetProcAddress(module, "tapiGetLocationInfo");
            ASSERT_NE(generic, nullptr);
            char country[20] = "", city[20] = "";
            EXPECT_EQ(generic(country, city), 0);
            EXPECT_STRNE(country, "");
            EXPECT_EQ(sim::TelephonyLocationCalls(), 1);
        })) << c.platform << " " << c.major << "." << c.minor;
    }
    // A library without the function lacks it under either name.
    EXPECT_TRUE(InWorld([](std::vector<Json> &) {
        sim::SetOsVersion(1, 4, 0);
        sim::SetTelephony("no-function");
        HMODULE module = LoadLibraryA("TAPI32.DLL");
        ASSERT_NE(module, (HMODULE)NULL);
        EXPECT_EQ(GetProcAddress(module, "tapiGetLocationInfo"), nullptr);
        EXPECT_EQ(GetProcAddress(module, "tapiGetLocationInfoA"), nullptr);
    }));
}

TEST(SimTelephonyLibrary, TheFourTelephonyModes)
{
    struct Case { const char *mode; bool library, function; LONG result; };
    const Case cases[] = {
        {"location", true, true, 0},
        {"no-location", true, true, -16},
        {"no-function", true, false, 0},
        {"no-library", false, false, 0},
    };
    for (const Case &c : cases) {
        EXPECT_TRUE(InWorld([&c](std::vector<Json> &) {
            sim::SetTelephony(c.mode);
            SetLastError(0);
            HMODULE module = LoadLibraryA("TAPI32.DLL");
            EXPECT_EQ(module != NULL, c.library);
            if (!module) {
                EXPECT_EQ(GetLastError(), (DWORD)ERROR_MOD_NOT_FOUND);
                return;
            }
            FARPROC proc = GetProcAddress(module, "tapiGetLocationInfoA");
            EXPECT_EQ(proc != NULL, c.function);
            if (!proc) {
                EXPECT_EQ(GetLastError(), (DWORD)ERROR_PROC_NOT_FOUND);
                return;
            }
            char country[20] = "", city[20] = "";
            EXPECT_EQ(((LocationInfo)(void (*)(void))proc)(country, city), c.result);
            if (c.result != 0) {
                EXPECT_STREQ(country, "") << "a failed query leaves the buffers alone";
            }
        })) << c.mode;
    }
}

}  // namespace
