// The start-up chores called directly, each inside a world of its own.
#include <windows.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/chores.h"
#include "support.h"
#include "system.h"
#include "world.h"

using support::InWorld;

namespace {


TEST(ChoresBinding, AFailedBindingAnswers0x80000049OnceAndMinus16AfterwardsWithoutTryingAgain)
{
    for (const char *mode : {"no-library", "no-function"}) {
        EXPECT_TRUE(InWorld([mode] {
            sim::SetTelephony(mode);
            char country[TAPI_CODE_SIZE] = "", city[TAPI_CODE_SIZE] = "";
            EXPECT_EQ(BindTapiLocationInfo(country, city), (LONG)0x80000049) << mode;
            int loads = sim::TelephonyLibraryLoads();
            EXPECT_EQ(BindTapiLocationInfo(country, city), -16) << mode;
            EXPECT_EQ(BindTapiLocationInfo(country, city), -16) << mode;
            // The library was looked for once; when it was there it stays loaded, unbound.
            EXPECT_EQ(sim::TelephonyLibraryLoads(), loads) << mode;
            EXPECT_EQ(loads, std::string(mode) == "no-function" ? 1 : 0) << mode;
            EXPECT_EQ(sim::TelephonyLocationCalls(), 0) << mode;
            // The function is looked for, by both names, only in a library that loaded: never with no
            // module, which would search the program's own file.
            EXPECT_EQ(sim::CallsMade("GetProcAddress"), std::string(mode) == "no-function" ? 2 : 0) << mode;
        })) << mode;
    }
}

TEST(ChoresBinding, ABoundFunctionIsCalledEveryTimeWithTheCallersBuffers)
{
    EXPECT_TRUE(InWorld([] {
        sim::SetTelephony("location");
        char country[TAPI_CODE_SIZE] = "", city[TAPI_CODE_SIZE] = "";
        EXPECT_EQ(BindTapiLocationInfo(country, city), 0);
        EXPECT_STRNE(country, "");
        EXPECT_STRNE(city, "");
        EXPECT_EQ(BindTapiLocationInfo(country, city), 0);
        EXPECT_EQ(sim::TelephonyLocationCalls(), 2);
        EXPECT_EQ(sim::TelephonyLibraryLoads(), 1);
    }));
}

TEST(ChoresBinding, ALocationQueryThatFailsIsAskedAgainAndItsAnswerPassedOn)
{
    EXPECT_TRUE(InWorld([] {
        sim::SetTelephony("no-location");
        char country[TAPI_CODE_SIZE] = "", city[TAPI_CODE_SIZE] = "";
        EXPECT_EQ(BindTapiLocationInfo(country, city), -16);
        EXPECT_EQ(BindTapiLocationInfo(country, city), -16);
        EXPECT_EQ(sim::TelephonyLocationCalls(), 2);
        EXPECT_EQ(CheckTelephonyLocation(), 1);
    }));
}

TEST(ChoresBinding, CheckTelephonyLocationReturnsOneEitherWay)
{
    for (const char *mode : {"location", "no-location", "no-function", "no-library"})
        EXPECT_TRUE(InWorld([mode] {
            sim::SetTelephony(mode);
            EXPECT_EQ(CheckTelephonyLocation(), 1) << mode;
        })) << mode;
}

const char kSpare[] = "C:\\WINDOWS\\system32\\vxmport.cp_";
const char kApplet[] = "C:\\WINDOWS\\system32\\vxmport.cpl";

TEST(ChoresRestore, ACopyThatFailedAfterTheDeleteIsMendedAtTheNextStart)
{
    EXPECT_TRUE(InWorld([] {
        sim::SetOsVersion(VER_PLATFORM_WIN32_NT, 5, 1);
        sim::SetWindowsDir("C:\\WINDOWS");
        sim::PutFile(kSpare, "new applet", FILE_ATTRIBUTE_ARCHIVE);
        sim::PutFile(kApplet, "old applet", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
        sim::AddFault("CopyFileA", 1, 1, ERROR_ACCESS_DENIED);

        RestoreControlApplet();
        EXPECT_FALSE(sim::FileAt(kApplet)) << "the applet was deleted before the copy failed";
        ASSERT_TRUE(sim::FileAt(kSpare)) << "the spare stays in place";
        EXPECT_EQ(sim::FileAt(kSpare)->content, "new applet");

        RestoreControlApplet();  // the next start
        auto applet = sim::FileAt(kApplet);
        ASSERT_TRUE(applet) << "the next start puts the applet back";
        EXPECT_EQ(applet->content, "new applet");
        EXPECT_EQ(applet->attributes, (uint32_t)FILE_ATTRIBUTE_ARCHIVE);
        EXPECT_TRUE(sim::FileAt(kSpare));
    }));
}

TEST(ChoresRestore, TheAppletBecomesAByteCopyOfTheSpareWithItsAttributes)
{
    EXPECT_TRUE(InWorld([] {
        sim::SetOsVersion(VER_PLATFORM_WIN32_NT, 5, 0);
        sim::SetWindowsDir("C:\\WINDOWS");
        std::string image("MZ\0\x90 spare", 9);
        sim::PutFile(kSpare, image, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
        sim::PutFile(kApplet, "old", FILE_ATTRIBUTE_READONLY);
        RestoreControlApplet();
        auto applet = sim::FileAt(kApplet);
        ASSERT_TRUE(applet);
        EXPECT_EQ(applet->content, image);
        EXPECT_EQ(applet->attributes, (uint32_t)(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
        // A read-only copy is made writable and replaced again at the next start.
        sim::PutFile(kSpare, "newer", FILE_ATTRIBUTE_ARCHIVE);
        RestoreControlApplet();
        ASSERT_TRUE(sim::FileAt(kApplet));
        EXPECT_EQ(sim::FileAt(kApplet)->content, "newer");
    }));
}

// A failed version query, or a failed Windows directory query (its buffer holds nothing usable):
// no path is made, no file touched.
TEST(ChoresRestore, AFailedSystemQueryTouchesNoFile)
{
    const std::pair<const char *, DWORD> failures[] = {{"GetVersionExA", ERROR_INVALID_PARAMETER},
                                                       {"GetWindowsDirectoryA", ERROR_NOT_ENOUGH_MEMORY}};
    for (auto [call, error] : failures) {
        EXPECT_TRUE(InWorld([call = call, error = error] {
            sim::SetOsVersion(VER_PLATFORM_WIN32_NT, 5, 1);
            sim::SetWindowsDir("C:\\WINDOWS");
            sim::PutFile(kSpare, "new", FILE_ATTRIBUTE_ARCHIVE);
            sim::PutFile(kApplet, "old", FILE_ATTRIBUTE_READONLY);
            sim::AddFault(call, 1, 1, error);
            RestoreControlApplet();
            EXPECT_EQ(sim::CallsMade("wsprintfA"), 0) << call;
            EXPECT_EQ(sim::CallsMade("GetFileAttributesA"), 0) << call;
            ASSERT_TRUE(sim::FileAt(kApplet));
            EXPECT_EQ(sim::FileAt(kApplet)->content, "old") << call;
            EXPECT_EQ(sim::FileAt(kApplet)->attributes, (uint32_t)FILE_ATTRIBUTE_READONLY) << call;
        })) << call;
    }
}

TEST(ChoresRestore, ALongWindowsDirectoryLeavesEveryFileAsItWas)
{
    for (size_t length : {235u, 256u, 400u}) {
        EXPECT_TRUE(InWorld([length] {
            std::string dir = "C:\\" + std::string(length - 3, 'w');
            sim::SetOsVersion(VER_PLATFORM_WIN32_NT, 5, 1);
            sim::SetWindowsDir(dir);
            // The paths cut at 255 characters: a restore that truncated them would touch these.
            std::string spare = dir + "\\system32\\vxmport.cp_", applet = dir + "\\system32\\vxmport.cpl";
            sim::PutFile(spare, "new", FILE_ATTRIBUTE_ARCHIVE);
            sim::PutFile(applet, "old", FILE_ATTRIBUTE_READONLY);
            sim::PutFile(spare.substr(0, 255), "cut", FILE_ATTRIBUTE_ARCHIVE);
            sim::PutFile(applet.substr(0, 255), "cut", FILE_ATTRIBUTE_ARCHIVE);
            RestoreControlApplet();
            // Decided on the length alone: neither path is ever written, so none can overrun its
            // buffer, and no file is looked at.
            EXPECT_EQ(sim::CallsMade("GetWindowsDirectoryA"), 1) << length;
            EXPECT_EQ(sim::CallsMade("wsprintfA"), 0) << length;
            EXPECT_EQ(sim::CallsMade("GetFileAttributesA"), 0) << length;
            EXPECT_EQ(sim::FileAt(applet)->content, "old") << length;
            EXPECT_EQ(sim::FileAt(applet)->attributes, (uint32_t)FILE_ATTRIBUTE_READONLY) << length;
            EXPECT_TRUE(sim::FileAt(spare.substr(0, 255))) << length;
            EXPECT_EQ(sim::FileAt(applet.substr(0, 255))->content, "cut") << length;
        })) << length;
    }
}

}  // namespace
