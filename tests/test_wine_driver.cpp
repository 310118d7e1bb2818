// The driver double under Wine: the contract the program relies on, checked from user mode by a
// Win32 program run in the prefix (tools/wine/driver/selftest.c). Skipped where Wine is missing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_wine_support.h"

namespace {

TEST(WineDriver, HonoursTheContractAndRefusesBadRequests)
{
    if (!wine::Available())
        GTEST_SKIP() << "Wine is not installed";
    wine::Session session;
    ASSERT_TRUE(session.ok) << session.log;
    std::string out = session.Run("vxselftest.exe", 120);
    // Every check the self-test names must pass; the names say what broke.
    std::vector<std::string> failures;
    int passed = 0;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("ok ", 0) == 0)
            passed++;
        else if (line.rfind("FAIL ", 0) == 0)
            failures.push_back(line);
    }
    std::string all;
    for (auto &f : failures)
        all += f + "\n";
    EXPECT_TRUE(failures.empty()) << all;
    // The checks that must have run, not merely not failed.
    for (const char *name : {"absent-voice-does-not-open", "voice-is-exclusive", "get-line-status-short-buffer",
                             "response-kept-whole", "short-read-refused", "requests-written-in-place",
                             "stop-signal-completes-read", "stop-signal-hangs", "absent-device-fails-read",
                             "read-fails-with-error"})
        EXPECT_NE(out.find(std::string("ok ") + name + "\n"), std::string::npos) << name << " did not pass:\n" << out;
    EXPECT_GE(passed, 26) << out;
}

}  // namespace
