// The lines the Wine controller plays (tools/wine/lines.cpp) mean what the scenario means in the
// world: every status line, applied to the record as the controller applies it
// (tools/wine/controller/record.h), gives the record the world's driver double reports after the same
// event; a devices event changes every device it names; what the Wine side cannot make is refused.
// Runs on the host, without Wine.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sndfile.h>

#include "../tools/wine/controller/record.h"
#include "driver_double.h"
#include "scenario.h"
#include "sound.h"
#include "support.h"

namespace {

std::string Lines(const std::string &yaml, int *status)
{
    std::string runner = VUDIZERI_RUNNER;
    std::string dir = runner.substr(0, runner.rfind('/'));
    char path[] = "/tmp/wine-lines-XXXXXX";
    int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, yaml.data(), yaml.size()), (ssize_t)yaml.size());
    close(fd);
    std::string out = std::string(path) + ".lines";
    int s = std::system((dir + "/vudizeri-wine-lines " + path + " >" + out + " 2>&1").c_str());
    *status = WIFEXITED(s) ? WEXITSTATUS(s) : 128;
    std::ifstream in(out);
    std::stringstream ss;
    ss << in.rdbuf();
    unlink(path);
    unlink(out.c_str());
    return ss.str();
}

std::vector<std::string> Matching(const std::string &text, const std::string &what)
{
    std::vector<std::string> out;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.find(what) != std::string::npos)
            out.push_back(line);
    return out;
}

// Each status event of the scenario, played in a fresh world and, line by line, to the controller's
// record: after every event the two records are the same 112 bytes.
void ExpectSameRecords(const std::string &yaml)
{
    int status = 0;
    std::string lines = Lines(yaml, &status);
    ASSERT_EQ(status, 0) << lines;
    std::vector<std::string> wine_lines = Matching(lines, " status ");
    sim::Scenario s = sim::ParseScenario(yaml, "inline.yaml");
    std::vector<sim::Event> events;
    for (const sim::Event &e : s.events)
        if (e.kind == sim::Event::Status)
            events.push_back(e);
    ASSERT_EQ(wine_lines.size(), events.size()) << lines;
    ASSERT_TRUE(support::InWorld([&] {
        sim::DriverSetPresent(false, true);
        HANDLE control = CreateFileA("\\\\.\\VXMCOM", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(control, INVALID_HANDLE_VALUE);
        unsigned char wine_record[VXD_RECORD_SIZE] = {0};
        for (size_t i = 0; i < events.size(); ++i) {
            sim::DriverSetStatus(events[i].status, events[i].caller, events[i].hold);
            unsigned char world_record[VXD_RECORD_SIZE];
            DWORD got = 0;
            ASSERT_TRUE(DeviceIoControl(control, 0x80802804u, nullptr, 0, world_record, sizeof(world_record), &got,
                                        nullptr));
            const std::string &line = wine_lines[i];
            ASSERT_TRUE(VxdApplyStatus(wine_record, line.c_str() + line.find(" status ") + 8)) << line;
            EXPECT_EQ(std::string((char *)world_record, sizeof(world_record)),
                      std::string((char *)wine_record, sizeof(wine_record)))
                << "after event " << i << ": " << line;
        }
        CloseHandle(control);
    }));
}

TEST(ScenarioLinesForWine, StatusLinesGiveTheWorldsRecord)
{
    // An explicitly empty caller clears the previous one; no caller and no hold keep them; a caller
    // of 100 bytes has no NUL; a shorter one after it leaves no tail of the longer.
    ExpectSameRecords("driver: {voice: 0, control: 0}\n"
                      "events:\n"
                      "  - {at: 1, status: 32, caller: \"Jones 0100\", hold: 30}\n"
                      "  - {at: 2, status: 64}\n"
                      "  - {at: 3, status: 32, caller: \"\"}\n"
                      "  - {at: 4, status: 32, caller: \"" + std::string(100, 'x') + "\", hold: 4294967295}\n"
                      "  - {at: 5, status: 16, caller: \"Li\"}\n"
                      "  - {at: 6, status: 4294967295, hold: 0}\n"
                      "  - {at: 7, close: true}\n");
}

TEST(ScenarioLinesForWine, BundledStatusLinesGiveTheWorldsRecord)
{
    for (const char *name : {"default.yaml", "caller-identity-arrives-late.yaml", "on-hold-runs-out.yaml",
                             "line-current-warning-japanese.yaml"}) {
        SCOPED_TRACE(name);
        ExpectSameRecords(support::BundledScenario(name));
    }
}

TEST(ScenarioLinesForWine, DevicesEventChangesEveryDeviceItNames)
{
    int status = 0;
    std::string lines = Lines("driver: {voice: 0, control: 0}\n"
                              "events:\n"
                              "  - {at: 1, devices: {voice: absent, control: absent}}\n"
                              "  - {at: 2, devices: {control: present}}\n"
                              "  - {at: 3, close: true}\n",
                              &status);
    ASSERT_EQ(status, 0) << lines;
    std::vector<std::string> devices = Matching(lines, " devices ");
    ASSERT_EQ(devices.size(), 3u) << lines;
    EXPECT_EQ(devices[0], "at 1000 devices voice 0");
    EXPECT_EQ(devices[1], "at 1000 devices control 0");
    EXPECT_EQ(devices[2], "at 2000 devices control 1");
}

TEST(ScenarioLinesForWine, TheSystemsVersionIsAlwaysTold)
{
    int status = 0;
    EXPECT_EQ(Matching(Lines("events: [{at: 1, close: true}]\n", &status), "windows "),
              std::vector<std::string>{"windows xp"});
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Matching(Lines("system: {windows: 95}\nevents: [{at: 1, close: true}]\n", &status), "windows "),
              std::vector<std::string>{"windows 95"});
    EXPECT_EQ(status, 0);
    // A version Wine has no name for cannot be told.
    Lines("system: {windows: {platform: 1, major: 4, minor: 3}}\nevents: [{at: 1, close: true}]\n", &status);
    EXPECT_EQ(status, 3);
}

TEST(ScenarioLinesForWine, RefusesWhatTheWineSideCannotMake)
{
    int status = 0;
    // A driver completes a read with an NTSTATUS: only 16 bits of a Win32 code come back under Wine.
    std::string why = Lines("events: [{at: 1, voice_error: 65536}, {at: 2, close: true}]\n", &status);
    EXPECT_EQ(status, 3);
    EXPECT_NE(why.find("events.voice_error"), std::string::npos) << why;
    Lines("events: [{at: 1, voice_error: 65535}, {at: 2, close: true}]\n", &status);
    EXPECT_EQ(status, 0);
    // The prefix's Windows directory is C:\windows.
    why = Lines("system: {windows_dir: 'C:\\WINNT'}\nevents: [{at: 1, close: true}]\n", &status);
    EXPECT_EQ(status, 3);
    EXPECT_NE(why.find("system.windows_dir"), std::string::npos) << why;
    why = Lines("system: {files: {'D:\\x.cpl': {content: a}}}\nevents: [{at: 1, close: true}]\n", &status);
    EXPECT_EQ(status, 3);
    EXPECT_NE(why.find("system.files"), std::string::npos) << why;
    // The controller posts no keystrokes.
    why = Lines("events: [{at: 1, key: Alt+V}, {at: 2, close: true}]\n", &status);
    EXPECT_EQ(status, 3);
    EXPECT_NE(why.find("events.key"), std::string::npos) << why;
    // Telephony, dial-up and files under the Windows directory are told as they are.
    std::string lines = Lines("system: {windows: 98, dialup: 2, telephony: no-function, files: "
                              "{'C:\\WINDOWS\\system32\\vxmport.cpl': {content: ab, readonly: true}}}\n"
                              "events: [{at: 1, close: true}]\n",
                              &status);
    EXPECT_EQ(status, 0) << lines;
    EXPECT_NE(lines.find("telephony no-function\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("dialup 2\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("file 33 6162 C:\\WINDOWS\\system32\\vxmport.cpl\n"), std::string::npos) << lines;
}

// What the far end says and what the microphone hears reach the Wine side as the world's own samples:
// one period of the line for the driver double, the microphone from its sample 0 for the whole run
// and 30 s more for the harness. A WAV file the world refuses is refused here too, by file, line and key.
TEST(ScenarioLinesForWine, SignalsAreTheWorldsSamplesAndOtherWavFormatsAreBad)
{
    std::string runner = VUDIZERI_RUNNER;
    std::string bin = runner.substr(0, runner.rfind('/'));
    char dir[] = "/tmp/wine-signals-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string d = dir;
    std::ofstream(d + "/call.yaml") << "driver:\n  voice: 0\n  line: {tone: 440}\n  mic: sequence\n"
                                       "events: [{at: 1, speaker: {pD: 12, rD: 4}}, {at: 2, close: true}]\n";
    ASSERT_EQ(std::system((bin + "/vudizeri-wine-lines " + d + "/call.yaml " + d + " >" + d + "/lines").c_str()), 0);
    std::ifstream lines(d + "/lines");
    std::stringstream text;
    text << lines.rdbuf();
    EXPECT_NE(text.str().find("line line.raw\ntaken line-out.raw\n"), std::string::npos) << text.str();
    auto samples = [](const std::string &path) {
        std::ifstream in(path, std::ios::binary);
        std::vector<int16_t> v;
        int16_t x;
        while (in.read(reinterpret_cast<char *>(&x), 2))
            v.push_back(x);
        return v;
    };
    sim::Signal tone, seq;
    tone.kind = sim::Signal::Tone;
    tone.hz = 440;
    seq.kind = sim::Signal::Sequence;
    std::vector<int16_t> line = samples(d + "/line.raw"), mic = samples(d + "/mic.raw");
    ASSERT_EQ(line.size(), 200u) << "one period of 440 Hz";
    for (size_t n = 0; n < line.size(); ++n)
        ASSERT_EQ(line[n], sim::SignalSample(tone, (int64_t)n)) << n;
    ASSERT_EQ(mic.size(), (7u + 30u) * 8000u);
    for (size_t n = 0; n < mic.size(); n += 997)
        ASSERT_EQ(mic[n], sim::SignalSample(seq, (int64_t)n)) << n;

    SF_INFO info{};
    info.samplerate = 11025;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *f = sf_open((d + "/far.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    short some[64] = {1};
    sf_writef_short(f, some, 64);
    sf_close(f);
    std::ofstream(d + "/bad.yaml") << "driver:\n  voice: 0\n  line: far.wav\nevents: [{at: 2, close: true}]\n";
    int s = std::system((bin + "/vudizeri-wine-lines " + d + "/bad.yaml " + d + " >" + d + "/bad 2>&1").c_str());
    EXPECT_EQ(WIFEXITED(s) ? WEXITSTATUS(s) : -1, 2);
    std::ifstream bad(d + "/bad");
    std::stringstream why;
    why << bad.rdbuf();
    EXPECT_NE(why.str().find(d + "/bad.yaml:3: key 'driver.line': WAV file"), std::string::npos) << why.str();
    s = std::system((runner + " " + d + "/bad.yaml >" + d + "/bad 2>&1").c_str());
    EXPECT_EQ(WIFEXITED(s) ? WEXITSTATUS(s) : -1, 2) << "the world refuses it alike";
    EXPECT_EQ(std::system(("rm -rf " + d).c_str()), 0);
}

}  // namespace
