// The world's system calls behind the start-up chores: version, Windows directory, files, WinExec
// and the run-time loading of the telephony library, each as documented.
#include <windows.h>

#include <cstring>
#include <optional>
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

TEST(SimVersion, TheSizeFieldMustNameOneOfTheTwoStructures)
{
    EXPECT_TRUE(InWorld([](std::vector<Json> &) {
        sim::SetOsVersion(VER_PLATFORM_WIN32_NT, 5, 1);
        OSVERSIONINFOEXA info;
        for (DWORD size : {0u, 100u, 147u, 149u, 155u, 157u, 300u}) {
            std::memset(&info, 0xAB, sizeof(info));
            info.dwOSVersionInfoSize = size;
            SetLastError(0);
            EXPECT_FALSE(GetVersionExA((LPOSVERSIONINFOA)&info)) << size;
            EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER) << size;
            EXPECT_EQ(info.dwMajorVersion, 0xABABABABu) << size << ": nothing is written";
        }
        static_assert(sizeof(OSVERSIONINFOA) == 148 && sizeof(OSVERSIONINFOEXA) == 156, "the two sizes");
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        EXPECT_TRUE(GetVersionExA((LPOSVERSIONINFOA)&info));
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
        EXPECT_TRUE(GetVersionExA((LPOSVERSIONINFOA)&info));
    }));
}

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

// ---- GetWindowsDirectoryA ----

TEST(SimWindowsDirectory, ReturnsTheLengthOrTheSizeNeeded)
{
    EXPECT_TRUE(InWorld([](std::vector<Json> &) {
        sim::SetWindowsDir("C:\\WINNT");  // 8 characters
        char buffer[16];
        std::memset(buffer, 'x', sizeof(buffer));
        EXPECT_EQ(GetWindowsDirectoryA(buffer, 9), 8u) << "it fits with its terminating zero";
        EXPECT_STREQ(buffer, "C:\\WINNT");
        std::memset(buffer, 'x', sizeof(buffer));
        EXPECT_EQ(GetWindowsDirectoryA(buffer, 8), 9u) << "one short: the size needed, zero included";
        EXPECT_EQ(buffer[0], 'x') << "and nothing written";
        EXPECT_EQ(GetWindowsDirectoryA(NULL, 0), 9u);
        EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof(buffer)), 8u);
    }));
}

// ---- files ----

const char kFile[] = "C:\\WINDOWS\\system32\\vxmport.cpl";
const char kOther[] = "C:\\WINDOWS\\system32\\vxmport.cp_";

TEST(SimFiles, AttributesAreReadCaseInsensitivelyAndMissingFilesSayWhy)
{
    EXPECT_TRUE(InWorld([](std::vector<Json> &trace) {
        sim::SetWindowsDir("C:\\WINDOWS");
        sim::PutFile(kFile, "x", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
        EXPECT_EQ(GetFileAttributesA("c:\\windows\\SYSTEM32\\VXMPORT.CPL"), 0x21u);
        EXPECT_EQ(GetFileAttributesA("C:/WINDOWS/system32/vxmport.cpl"), 0x21u);
        EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\system32"), 0x10u) << "a directory";
        SetLastError(0);
        EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\system32\\none.cpl"), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(GetFileAttributesA("C:\\NOWHERE\\none.cpl"), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
        EXPECT_TRUE(trace.empty()) << "reading attributes is no effect\n" << Dump(trace);
    }));
}

TEST(SimFiles, SetFileAttributesChangesOnlyExistingFilesAndNormalMeansNone)
{
    EXPECT_TRUE(InWorld([](std::vector<Json> &trace) {
        sim::SetWindowsDir("C:\\WINDOWS");
        sim::PutFile(kFile, "x", FILE_ATTRIBUTE_READONLY);
        EXPECT_TRUE(SetFileAttributesA(kFile, FILE_ATTRIBUTE_NORMAL));
        EXPECT_EQ(GetFileAttributesA(kFile), (DWORD)FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(sim::FileAt(kFile)->attributes, 0u);
        EXPECT_TRUE(SetFileAttributesA(kFile, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
        EXPECT_EQ(GetFileAttributesA(kFile), 0x3u);
        SetLastError(0);
        EXPECT_FALSE(SetFileAttributesA(kOther, FILE_ATTRIBUTE_NORMAL));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
        EXPECT_FALSE(sim::FileAt(kOther)) << "no file is made";
        ASSERT_EQ(trace.size(), 3u) << Dump(trace);
        EXPECT_EQ(trace[0]["ev"], "file");
        EXPECT_EQ(trace[0]["op"], "attributes");
        EXPECT_EQ(trace[0]["path"], kFile);
        EXPECT_EQ(trace[0]["attributes"], FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(trace[0]["ok"], true);
        EXPECT_EQ(trace[2]["ok"], false);
        EXPECT_EQ(trace[2]["error"], ERROR_FILE_NOT_FOUND);
    }));
}

TEST(SimFiles, DeleteRefusesAReadOnlyFile)
{
    EXPECT_TRUE(InWorld([](std::vector<Json> &trace) {
        sim::SetWindowsDir("C:\\WINDOWS");
        sim::PutFile(kFile, "x", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
        SetLastError(0);
        EXPECT_FALSE(DeleteFileA(kFile));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
        EXPECT_TRUE(sim::FileAt(kFile)) << "the file stays";
        EXPECT_TRUE(SetFileAttributesA(kFile, FILE_ATTRIBUTE_ARCHIVE));
        EXPECT_TRUE(DeleteFileA(kFile));
        EXPECT_FALSE(sim::FileAt(kFile));
        EXPECT_EQ(GetFileAttributesA(kFile), INVALID_FILE_ATTRIBUTES);
        EXPECT_FALSE(DeleteFileA(kFile));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
        EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\system32"));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED) << "a directory is no file";
        std::vector<std::string> ops;
        for (const Json &e : trace)
            ops.push_back(e["op"].get<std::string>() + (e["ok"].get<bool>() ? "" : "!"));
        EXPECT_EQ(ops, (std::vector<std::string>{"delete!", "attributes", "delete", "delete!", "delete!"}))
            << Dump(trace);
    }));
}

TEST(SimFiles, CopyKeepsTheSourcesContentAndAttributes)
{
    EXPECT_TRUE(InWorld([](std::vector<Json> &trace) {
        sim::SetWindowsDir("C:\\WINDOWS");
        sim::PutFile(kOther, std::string("new\0bytes", 9), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
        sim::PutFile(kFile, "old", FILE_ATTRIBUTE_ARCHIVE);
        EXPECT_TRUE(CopyFileA(kOther, kFile, FALSE));
        ASSERT_TRUE(sim::FileAt(kFile));
        EXPECT_EQ(sim::FileAt(kFile)->content, std::string("new\0bytes", 9));
        EXPECT_EQ(GetFileAttributesA(kFile), (DWORD)(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));
        EXPECT_TRUE(sim::FileAt(kOther)) << "the source stays";
        ASSERT_EQ(trace.size(), 1u) << Dump(trace);
        EXPECT_EQ(trace[0]["op"], "copy");
        EXPECT_EQ(trace[0]["path"], kFile);
        EXPECT_EQ(trace[0]["from"], kOther);
        EXPECT_EQ(trace[0]["attributes"], FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
        EXPECT_EQ(trace[0]["ok"], true);
    }));
}

TEST(SimFiles, CopyFailsAsDocumented)
{
    EXPECT_TRUE(InWorld([](std::vector<Json> &) {
        sim::SetWindowsDir("C:\\WINDOWS");
        const DWORD A = FILE_ATTRIBUTE_ARCHIVE, R = FILE_ATTRIBUTE_READONLY, H = FILE_ATTRIBUTE_HIDDEN,
                    S = FILE_ATTRIBUTE_SYSTEM;
        const char *dir = "C:\\WINDOWS\\system32";
        // Source, its attributes (0: absent), target, its attributes (0: absent), fail-if-exists,
        // the last error expected (0: the copy is made).
        struct Row {
            const char *from;
            DWORD from_attr;
            const char *to;
            DWORD to_attr;
            BOOL fail_if_exists;
            DWORD error;
        };
        const Row rows[] = {
            {kOther, A, kFile, A, TRUE, ERROR_FILE_EXISTS},
            {kOther, A, kFile, A | R, FALSE, ERROR_ACCESS_DENIED},
            {kOther, A, kFile, A | H, FALSE, ERROR_ACCESS_DENIED},
            {kOther, A, kFile, A | S, FALSE, ERROR_ACCESS_DENIED},
            {kOther, A | H, kFile, A | H, FALSE, 0},  // the new file gets the attributes it already has
            {kOther, A | H | S, kFile, A | S, FALSE, 0},
            {kOther, A | R, kFile, A, FALSE, 0},
            {dir, 0, kFile, A, FALSE, ERROR_ACCESS_DENIED},  // a directory cannot be opened as a file
            {dir, 0, "C:\\WINDOWS\\fresh.cpl", 0, FALSE, ERROR_ACCESS_DENIED},
            {"C:\\WINDOWS\\system32\\none", 0, kFile, A, FALSE, ERROR_FILE_NOT_FOUND},
            {kOther, A, "C:\\NOWHERE\\x.cpl", 0, FALSE, ERROR_PATH_NOT_FOUND},
            {kOther, A, dir, 0, FALSE, ERROR_ACCESS_DENIED},
            {kOther, A, kOther, A, FALSE, ERROR_SHARING_VIOLATION},
            {kOther, A, "C:\\WINDOWS\\system32\\fresh.cpl", 0, TRUE, 0},
        };
        std::string expected, actual;
        for (const Row &row : rows) {
            for (const char *path : {kOther, kFile, "C:\\WINDOWS\\system32\\fresh.cpl"}) {
                SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path);
            }
            if (row.from_attr)
                sim::PutFile(row.from, "new", row.from_attr);
            if (row.to_attr && strcmp(row.to, row.from) != 0)
                sim::PutFile(row.to, "old", row.to_attr);
            SetLastError(0);
            BOOL ok = CopyFileA(row.from, row.to, row.fail_if_exists);
            DWORD error = ok ? 0 : GetLastError();
            std::optional<sim::SimFile> target = sim::FileAt(row.to);
            std::string line = std::string(row.from) + " -> " + row.to + ": ";
            expected += line + std::to_string(row.error) + (row.error || !row.from_attr ? "" : " new") + "\n";
            actual += line + std::to_string(error) + (ok && target && target->content == "new" ? " new" : "") + "\n";
        }
        EXPECT_EQ(actual, expected) << "expected:\n" << expected << "actual:\n" << actual;
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

TEST(SimTelephonyLibrary, LoadsByNameAndFindsTheLocationQuery)
{
    EXPECT_TRUE(InWorld([](std::vector<Json> &) {
        sim::SetTelephony("location");
        HMODULE a = LoadLibraryA("TAPI32.DLL");
        ASSERT_NE(a, (HMODULE)NULL);
        EXPECT_EQ(LoadLibraryA("tapi32"), a) << "the same module, extension added";
        EXPECT_EQ(LoadLibraryA("C:\\WINDOWS\\system32\\Tapi32.dll"), a);
        EXPECT_EQ(sim::TelephonyLibraryLoads(), 1);
        FARPROC proc = GetProcAddress(a, "tapiGetLocationInfoA");
        ASSERT_NE(proc, (FARPROC)NULL);
        auto fn = (LocationInfo)(void (*)(void))proc;
        char country[20] = "", city[20] = "";
        EXPECT_EQ(fn(country, city), 0);
        EXPECT_STRNE(country, "");
        EXPECT_STRNE(city, "");
        SetLastError(0);
        EXPECT_EQ(GetProcAddress(a, "tapigetlocationinfoa"), (FARPROC)NULL) << "names are exact";
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_PROC_NOT_FOUND);
        EXPECT_EQ(GetProcAddress(a, MAKEINTRESOURCEA(1)), (FARPROC)NULL);
        EXPECT_EQ(LoadLibraryA("OTHER.DLL"), (HMODULE)NULL);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_MOD_NOT_FOUND);
        // Three references: freed three times, the module is gone.
        EXPECT_TRUE(FreeLibrary(a));
        EXPECT_TRUE(FreeLibrary(a));
        EXPECT_NE(GetProcAddress(a, "tapiGetLocationInfoA"), (FARPROC)NULL);
        EXPECT_TRUE(FreeLibrary(a));
        EXPECT_EQ(GetProcAddress(a, "tapiGetLocationInfoA"), (FARPROC)NULL);
        EXPECT_FALSE(FreeLibrary(a));
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
