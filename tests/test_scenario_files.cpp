// Bad scenario files get a clear message and exit status 2; good ones replay byte for byte and end
// holding only what the program keeps by design.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "calls.h"
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
    EXPECT_EQ(ErrorFor("faults:\n  - {call: CloseHandel, nth: 2}\n"),
              "bad.yaml:2: key 'call': unknown call 'CloseHandel'");
    EXPECT_EQ(ErrorFor("faults: [{call: GetMessageA}]\n").substr(0, 54),
              "bad.yaml:1: key 'call': 'GetMessageA' cannot be failed");
    EXPECT_EQ(ErrorFor("events: [{at: 1, status: 32, caller: " + std::string(101, 'x') + "}]\n"),
              "bad.yaml:1: key 'events.caller': CallerId holds at most 100 bytes");
    EXPECT_EQ(ErrorFor("driver: [1, 2]\n"), "bad.yaml:1: key 'driver': expected a mapping");
    EXPECT_EQ(ErrorFor("name: [unclosed\n").substr(0, 11), "bad.yaml:2:");
    EXPECT_EQ(ErrorFor("events:\n  - {at: 1, dismiss: [GetLastError]}\n"),
              "bad.yaml:2: key 'events.dismiss': expected true or a message box caption");
    EXPECT_EQ(ErrorFor("events:\n  - {at: 1, dismiss: false}\n"),
              "bad.yaml:2: key 'events.dismiss': only true or a caption has a meaning");
    for (const char *key : {"Ctrl+A", "Alt+", "F1", "AB", "Alt+Alt+A"})
        EXPECT_EQ(ErrorFor(std::string("events:\n  - {at: 1, key: \"") + key + "\"}\n"),
                  "bad.yaml:2: key 'events.key': expected a letter, a digit, Space, Enter, Escape, Tab or "
                  "Backspace, after Alt+ or not")
            << key;
    EXPECT_EQ(ErrorFor("events:\n  - {at: 1, key: alt+SPACE}\n"), "(accepted)");
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

// What a run's trace says the program still held at its end: "kind name" per item, the event names
// from `exit` on (but `audio`), and the calls the program made.
struct Ending {
    std::vector<std::string> held;
    std::vector<std::string> last_events;
    nlohmann::ordered_json calls;
};

Ending EndingOf(const std::string &trace)
{
    Ending e;
    std::istringstream lines(trace);
    std::string line;
    bool exited = false;
    while (std::getline(lines, line)) {
        auto j = nlohmann::ordered_json::parse(line);
        std::string ev = j["ev"];
        exited = exited || ev == "exit";
        if (exited && ev != "audio")  // the end-of-run reports come after exit, audio among them
            e.last_events.push_back(ev);
        if (ev == "held")
            for (auto &item : j["items"])
                e.held.push_back(item["kind"].get<std::string>() + " " + item["name"].get<std::string>());
        if (ev == "calls")
            e.calls = j["calls"];
    }
    return e;
}

std::string Lines(const std::vector<std::string> &lines)
{
    std::string s;
    for (auto &l : lines)
        s += "    " + l + "\n";
    return s.empty() ? "    (nothing)\n" : s;
}

TEST(ScenarioFiles, EveryBundledScenarioReplaysByteForByteAndEndsHoldingOnlyWhatTheProgramKeeps)
{
    // The program keeps the telephony library loaded for good; nothing else outlives a run that closes
    // the window (a watch thread ended on a failed read would keep its handle: no bundled file has one).
    const std::vector<std::string> kept = {"module TAPI32.DLL"};
    const std::map<std::string, std::vector<std::string>> except = {{"chores-no-telephony.yaml", {}}};
    int played = 0;
    for (const auto &entry : std::filesystem::directory_iterator(std::string(VUDIZERI_SOURCE_DIR) + "/scenarios")) {
        std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".yaml")
            continue;
        ++played;
        Result a = Runner("--calls " + entry.path().string());
        Result b = Runner("--calls " + entry.path().string());
        ASSERT_EQ(a.status, 0) << name << "\n" << a.out;
        EXPECT_EQ(a.out, b.out) << name;
        Ending end = EndingOf(a.out);
        auto it = except.find(name);
        const std::vector<std::string> &expected = it == except.end() ? kept : it->second;
        EXPECT_EQ(end.held, expected) << name << " expected to hold:\n"
                                      << Lines(expected) << "held:\n" << Lines(end.held);
        EXPECT_EQ(end.last_events, (std::vector<std::string>{"exit", "held", "calls", "end"})) << name;
        // Every call the program makes is one the world knows, with a failure or a reason it has none.
        ASSERT_TRUE(end.calls.is_object()) << name;
        for (auto &call : end.calls.items()) {
            const sim::CallInfo *info = sim::FindCall(call.key());
            ASSERT_NE(info, nullptr) << call.key() << " in " << name;
            EXPECT_GT(call.value().get<int>(), 0) << call.key();
        }
    }
    EXPECT_GE(played, 19);
    // Only the program's own calls count, also those it makes from inside its window and timer
    // procedures; not the ones the world makes inside another call (the owned windows a destroy takes
    // with it, a dialog's own showing).
    Ending played_default = EndingOf(Runner("--calls " + std::string(VUDIZERI_SOURCE_DIR) + "/scenarios/default.yaml").out);
    for (auto [call, count] : std::vector<std::pair<const char *, int>>{
             {"CreateWindowExA", 1}, {"CreateDialogParamA", 2}, {"ShowWindow", 3}, {"DestroyWindow", 3},
             {"KillTimer", 1}, {"SetTimer", 1}, {"ReadFile", 3}, {"LoadLibraryA", 1}})
        EXPECT_EQ(played_default.calls[call], count) << call << " in " << played_default.calls.dump();
    std::string path = std::string(VUDIZERI_SOURCE_DIR) + "/scenarios/default.yaml";
    Result plain = Runner(path);
    EXPECT_EQ(plain.out.find("\"calls\""), std::string::npos) << "the calls event comes only with --calls";
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
