// Whole calls through the speakerphone, measured: what the sound card plays against what the far end
// said, and what the driver takes from the record area against what the microphone heard.
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "sound.h"
#include "support.h"

using support::Json;

namespace {

// The line says a counter (every sample different for 8 s), the microphone an odd tone (its phase
// never repeats within a second): a dropped, repeated or shifted buffer cannot go unnoticed.
const char *kSignals = "driver: {voice: 0, control: 0, line: counter, mic: {tone: 997}}\n";

std::string Seconds(long long ms)
{
    char s[32];
    snprintf(s, sizeof(s), "%lld.%03lld", ms / 1000, ms % 1000);
    return s;
}

// The 100 restart times of the driver, the same on every run.
std::vector<long long> RestartTimes(unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<long long> when(2000, 600000);
    std::vector<long long> times;
    while (times.size() < 100) {
        long long t = when(rng);
        if (std::find(times.begin(), times.end(), t) == times.end())
            times.push_back(t);
    }
    std::sort(times.begin(), times.end());
    return times;
}

std::string CallWithRestarts(const std::vector<long long> &restarts, const std::string &extra = "")
{
    std::string yaml = std::string(kSignals) + extra + "events:\n  - {at: 1, speaker: {pD: 0xC, rD: 4}}\n";
    for (long long t : restarts)
        yaml += "  - {at: " + Seconds(t) + ", speaker: {pD: 0xC, rD: 4}}\n";
    yaml += "  - {at: 601, close: true}\n";
    return yaml;
}

// Checks the measured figures of a call that had the speakerphone on from 1 s to 601 s.
void ExpectCleanCall(const support::Run &run, size_t sessions)
{
    ASSERT_EQ(run.status, 0) << run.error;
    Json audio = run.Find("audio");
    ASSERT_FALSE(audio.is_null()) << "no audio report";
    Json out = audio["out"], in = audio["in"];
    SCOPED_TRACE("audio: " + audio.dump());
    EXPECT_EQ(out["ms"], 600000) << "the speaker played the whole call, without a gap";
    EXPECT_EQ(out["samples"], 600000 * 8);
    EXPECT_EQ(out["matching"], out["samples"]) << "every sample played is the line's, after each start's silence";
    EXPECT_EQ(out["underruns"], 0);
    EXPECT_EQ(out["sessions"], sessions);
    EXPECT_EQ(in["ms"], 600000);
    EXPECT_EQ(in["overruns"], 0);
    EXPECT_EQ(in["matching"], in["samples"]) << "every sample the driver took is the microphone's";
    // Of each recording, only the two buffers still queued at its stop (and the partly filled one)
    // never reach the driver.
    EXPECT_GE(in["samples"].get<long long>(), 600000LL * 8 - (long long)sessions * 3 * 512);
    EXPECT_EQ(in["sessions"], sessions);
    size_t running = 0, stopped = 0;
    for (auto &e : run.Of("stream")) {
        running += e["state"] == "running";
        stopped += e["state"] == "closed" && e["reason"] == "stopped";
    }
    EXPECT_EQ(running, 2 * sessions);
    EXPECT_EQ(stopped, 2 * sessions) << "every stream ended by a stop, none by a refusal";
}

}  // namespace

TEST(SpeakerCall, TenMinuteCallPlaysTheLineAndSendsTheMicrophoneSampleForSample)
{
    support::Run run = support::Play(CallWithRestarts({}));
    ExpectCleanCall(run, 1);
}

TEST(SpeakerCall, HundredRestartsAtRandomTimesDropNorRepeatABuffer)
{
    support::Run run = support::Play(CallWithRestarts(RestartTimes(20240607)));
    ExpectCleanCall(run, 101);
}

TEST(SpeakerCall, SequenceOnBothSidesMatchesSampleForSampleAcrossRestarts)
{
    // The sequence, which never says zero, on the line and at the microphone: what the Wine runs
    // play, so that a silence can be told from a lost or repeated sample.
    std::string yaml = "driver: {voice: 0, control: 0, line: sequence, mic: sequence}\nevents:\n"
                       "  - {at: 1, speaker: {pD: 0xC, rD: 4}}\n  - {at: 4, speaker: {pD: 4, rD: 4}}\n"
                       "  - {at: 7.3, speaker: {pD: 0xC, rD: 4}}\n  - {at: 11, speaker: {pD: 0, rD: 0}}\n"
                       "  - {at: 12, close: true}\n";
    support::Run run = support::Play(yaml);
    ASSERT_EQ(run.status, 0) << run.error;
    Json audio = run.Find("audio");
    ASSERT_FALSE(audio.is_null());
    EXPECT_EQ(audio["out"]["samples"], 10000 * 8) << audio.dump();
    EXPECT_EQ(audio["out"]["matching"], audio["out"]["samples"]) << audio.dump();
    EXPECT_EQ(audio["out"]["sessions"], 3);
    EXPECT_GT(audio["in"]["samples"].get<long>(), 9000 * 8) << audio.dump();
    EXPECT_EQ(audio["in"]["matching"], audio["in"]["samples"]) << audio.dump();
}

TEST(SpeakerCall, HundredRestartsWithThreadsInterleavedAtPlatformCalls)
{
    // The watch thread may now lose the processor inside a stream operation, with the window's
    // thread wanting the same stream: the guards keep them apart.
    support::Run run = support::Play(CallWithRestarts(RestartTimes(77), "schedule: {preempt: 5}\n"));
    ExpectCleanCall(run, 101);
}

TEST(SpeakerCall, RunnerWritesWhatTheSpeakerPlayedAndWhatWentDownTheLine)
{
    char dir[] = "/tmp/spk-call-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string scenario = std::string(dir) + "/call.yaml", speaker = std::string(dir) + "/speaker.wav",
                line = std::string(dir) + "/line.wav";
    std::ofstream(scenario) << kSignals << "events:\n  - {at: 1, speaker: {pD: 4, rD: 4}}\n  - {at: 3, close: true}\n";
    std::string command = std::string(VUDIZERI_RUNNER) + " --wav-speaker " + speaker + " --wav-line " + line + " " +
                          scenario + " > /dev/null";
    ASSERT_EQ(system(command.c_str()), 0) << command;

    auto read = [](const std::string &path) {
        SF_INFO info{};
        std::vector<int16_t> samples;
        SNDFILE *f = sf_open(path.c_str(), SFM_READ, &info);
        EXPECT_NE(f, nullptr) << path;
        if (!f)
            return samples;
        EXPECT_EQ(info.samplerate, 8000);
        EXPECT_EQ(info.channels, 1);
        samples.resize((size_t)info.frames);
        sf_readf_short(f, samples.data(), info.frames);
        sf_close(f);
        return samples;
    };
    std::vector<int16_t> heard = read(speaker), sent = read(line);
    // Two seconds of playback: 512 ms of the start's silence, then the line from its first sample.
    ASSERT_EQ(heard.size(), 16000u);
    sim::Signal counter;
    counter.kind = sim::Signal::Counter;
    size_t wrong = 0;
    for (size_t k = 0; k < heard.size(); ++k)
        wrong += heard[k] != (k < 4096 ? 0 : sim::SignalSample(counter, (int64_t)k - 4096));
    EXPECT_EQ(wrong, 0u);
    // Down the line: what the microphone heard from the moment recording started (1 s: sample 8000).
    sim::Signal mic;
    mic.kind = sim::Signal::Tone;
    mic.hz = 997;
    ASSERT_GE(sent.size(), 16000u - 3 * 512);
    wrong = 0;
    for (size_t k = 0; k < sent.size(); ++k)
        wrong += sent[k] != sim::SignalSample(mic, 8000 + (int64_t)k);
    EXPECT_EQ(wrong, 0u);
    for (const std::string &p : {scenario, speaker, line})
        unlink(p.c_str());
    rmdir(dir);
}

TEST(SpeakerCall, BundledScenariosReplayByteForByte)
{
    auto run = [](const std::string &name) {
        std::string command = std::string(VUDIZERI_RUNNER) + " " VUDIZERI_SOURCE_DIR "/scenarios/" + name;
        FILE *p = popen(command.c_str(), "r");
        std::string out;
        char buf[4096];
        size_t n;
        while (p && (n = fread(buf, 1, sizeof(buf), p)) > 0)
            out.append(buf, n);
        EXPECT_EQ(p ? pclose(p) : -1, 0) << command;
        return out;
    };
    for (const char *name : {"speaker-call.yaml", "speaker-no-format.yaml"}) {
        std::string first = run(name), second = run(name);
        EXPECT_EQ(first, second) << name;
        std::vector<Json> events;
        size_t pos = 0;
        while (pos < first.size()) {
            size_t nl = first.find('\n', pos);
            events.push_back(Json::parse(first.substr(pos, nl - pos)));
            pos = nl + 1;
        }
        Json audio, last_stream;
        int streams = 0;
        for (auto &e : events) {
            if (e["ev"] == "audio")
                audio = e;
            if (e["ev"] == "stream")
                ++streams, last_stream = e;
        }
        ASSERT_FALSE(audio.is_null()) << name;
        EXPECT_EQ(audio["out"]["matching"], audio["out"]["samples"]) << name;
        EXPECT_EQ(audio["in"]["matching"], audio["in"]["samples"]) << name;
        if (std::string(name) == "speaker-call.yaml") {
            EXPECT_EQ(audio["out"]["ms"], 6000) << "on from 1 s to 7 s";
            EXPECT_EQ(audio["out"]["sessions"], 2);
            EXPECT_EQ(streams, 8);
        } else {
            // Neither stream opens; the format query and the input open say why.
            EXPECT_EQ(audio["out"]["ms"], 0);
            EXPECT_EQ(audio["in"]["ms"], 0);
            EXPECT_EQ(streams, 2);
            EXPECT_EQ(last_stream["reason"], "format refused");
        }
    }
}
