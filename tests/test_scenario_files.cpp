// Bad scenario files get a clear message and exit status 2; good ones replay byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "scenario.h"

namespace {

struct Result {
    int status;
    std::string out;
};

Result Runner(const std::string &args)
{
    std::string cmd = std::string(VUDIZERI_RUNNER) + " " + args + " 2>&1";
    FILE *p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0)
        out.append(buf, n);
    int status = pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::string WriteTemp(const std::string &text)
{
    char path[] = "/tmp/vudizeri-scenario-XXXXXX";
    int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, text.data(), text.size()), (ssize_t)text.size());
    close(fd);
    return path;
}

std::string ErrorFor(const std::string &yaml)
{
    try {
        sim::ParseScenario(yaml, "bad.yaml");
    } catch (const sim::ScenarioError &e) {
        return e.what();
    }
    return "(accepted)";
}

}  // namespace

TEST(ScenarioFiles, BadKeysAndValuesNameTheFileLineAndKey)
{
    EXPECT_EQ(ErrorFor("name: x\ndriver:\n  voice: 0\n  volume: 3\n"), "bad.yaml:4: key 'driver.volume': unknown key");
    EXPECT_EQ(ErrorFor("events:\n  - {at: 1, status: lots}\n"),
              "bad.yaml:2: key 'events.status': expected a whole number, got 'lots'");
    EXPECT_EQ(ErrorFor("events:\n  - {status: 1}\n"), "bad.yaml:2: key 'events.at': every event needs a time");
    EXPECT_EQ(ErrorFor("events:\n  - {at: 1, close: true, dismiss: true}\n").substr(0, 28),
              "bad.yaml:2: key 'events': an");
    EXPECT_EQ(ErrorFor("system: {windows: 3.11}\n").substr(0, 40), "bad.yaml:1: key 'system.windows': unknow");
    EXPECT_EQ(ErrorFor("end: -4\n"), "bad.yaml:1: key 'end': expected seconds (a number from 0), got '-4'");
    EXPECT_EQ(ErrorFor("faults: [{nth: 2}]\n"), "bad.yaml:1: key 'faults.call': a fault names the call it fails");
    EXPECT_EQ(ErrorFor("events: [{at: 1, status: 32, caller: " + std::string(101, 'x') + "}]\n"),
              "bad.yaml:1: key 'events.caller': CallerId holds at most 100 bytes");
    EXPECT_EQ(ErrorFor("driver: [1, 2]\n"), "bad.yaml:1: key 'driver': expected a mapping");
    EXPECT_EQ(ErrorFor("name: [unclosed\n").substr(0, 11), "bad.yaml:2:");
    EXPECT_EQ(ErrorFor("events:\n  - {at: 1, dismiss: [GetLastError]}\n"),
              "bad.yaml:2: key 'events.dismiss': expected true or a message box caption");
    EXPECT_EQ(ErrorFor("events:\n  - {at: 1, dismiss: false}\n"),
              "bad.yaml:2: key 'events.dismiss': only true or a caption has a meaning");
    EXPECT_EQ(ErrorFor("system: {windows: 7}\nevents:\n  - {at: 1, power: 2}\n"),
              "bad.yaml:3: key 'events.power': Windows Vista and later never send PBT_APMQUERYSUSPENDFAILED "
              "(system.windows is 6.1)");
}

TEST(ScenarioFiles, RunnerExitsTwoWithTheMessageForBadOrUnreadableFiles)
{
    std::string bad = WriteTemp("driver: {voice: 0}\nevents:\n  - {at: 1, shout: true}\n");
    Result r = Runner(bad);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find(bad + ":3: key 'events.shout': unknown key"), std::string::npos) << r.out;
    Result missing = Runner("/nonexistent/scenario.yaml");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.out.find("/nonexistent/scenario.yaml: cannot read the file"), std::string::npos) << missing.out;
    Result usage = Runner("--format xml " + bad);
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.out.find("usage:"), std::string::npos) << usage.out;
    std::string dir = WriteTemp("");
    remove(dir.c_str());
}

TEST(ScenarioFiles, SameScenarioSameTraceByteForByte)
{
    std::string path = std::string(VUDIZERI_SOURCE_DIR) + "/scenarios/default.yaml";
    Result a = Runner(path);
    Result b = Runner(path);
    ASSERT_EQ(a.status, 0) << a.out;
    EXPECT_GT(a.out.size(), 100u);
    EXPECT_EQ(a.out, b.out);
    Result text = Runner("--format text " + path);
    ASSERT_EQ(text.status, 0) << text.out;
    EXPECT_NE(text.out.find("0.000 s  window"), std::string::npos) << text.out;
}

TEST(ScenarioFiles, TextFormatKeepsOneEventPerLine)
{
    // The watch thread's box shows the system's text, which ends in a line break.
    std::string path = WriteTemp("driver: {voice: 0, control: 0}\nevents:\n  - {at: 1, voice_error: 31}\n"
                                 "  - {at: 2, dismiss: true}\n  - {at: 3, close: true}\n");
    Result json = Runner(path), text = Runner("--format text " + path);
    unlink(path.c_str());
    ASSERT_EQ(json.status, 0) << json.out;
    ASSERT_EQ(text.status, 0) << text.out;
    auto lines = [](const std::string &s) { return std::count(s.begin(), s.end(), '\n'); };
    EXPECT_EQ(lines(text.out), lines(json.out)) << text.out;
    EXPECT_NE(text.out.find("text=\"A device attached to the system is not functioning.\\r\\n\""), std::string::npos)
        << text.out;
}
