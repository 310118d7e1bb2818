// vudizeri-wine-audio: the "audio" event of a Wine run, from what the harness recorded.
//
//   vudizeri-wine-audio SCENARIO.yaml TRACE DIRECTORY
//
// TRACE is the controller's trace (its clock, feed, fed, take and rings events); DIRECTORY holds
// capture.raw (the speaker sink's monitor, 16-bit), capture.start (Unix nanoseconds of its first
// sample), mic-heard.raw and mic-heard.start (the mic sink's monitor, as Wine hears the microphone),
// mic.start (Unix nanoseconds just before the microphone's sample 0 was handed to the server: used
// only when mic-heard.raw cannot tell when it was heard) and line-out.raw (what the driver double took
// from the record area), and stalls.txt when vudizeri-wine-stalls watched the machine. Prints one
// trace line:
//   {"t":...,"ev":"audio","out":{ms, underruns, samples, matching, sessions, written, lost, repeated,
//    silences, silence_ms, start_ms[, faults], losses_in_stalls, lost_in_stalls},"in":{ms, overruns,
//    samples, matching, sessions, lost, repeated, silences, silence_ms, start_ms[, faults],
//    losses_in_stalls, lost_in_stalls[, monitor]},"machine":{watched, stalls, stall_ms, worst_ms}}
// Exit status 2 for a scenario or files it cannot read.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "heard.h"
#include "sound.h"
#include "world.h"

namespace {

using sim::Json;

std::vector<int16_t> Samples(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> out(bytes.size() / 2);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = (int16_t)(uint16_t)((uint8_t)bytes[2 * i] | ((uint8_t)bytes[2 * i + 1] << 8));
    return out;
}

bool UnixNs(const std::string &path, long double *ns)
{
    std::ifstream in(path);
    long long v = 0;
    if (!(in >> v))
        return false;
    *ns = (long double)v;
    return true;
}

double Round1(double v) { return std::round(v * 10) / 10; }

// The machine's stalls written beside the run (vudizeri-wine-stalls' lines, in ms of the run); false
// when the run was not watched.
bool Stalls(const std::string &path, long double t0_ms, std::vector<heard::Stall> *stalls)
{
    std::ifstream in(path);
    if (!in)
        return false;
    long double unix_ms;
    double late_ms;
    int cpu;
    while (in >> unix_ms >> late_ms >> cpu)
        stalls->push_back(heard::Stall{(double)(unix_ms - t0_ms), late_ms});
    return true;
}

void LossesInStalls(const heard::Direction &d, const std::vector<heard::Stall> &stalls, Json *figures)
{
    heard::InStalls in = heard::LossesInStalls(d, stalls);
    (*figures)["losses_in_stalls"] = in.losses;
    (*figures)["lost_in_stalls"] = in.samples;
}

Json Figures(const heard::Direction &d, const char *runs_key, int runs)
{
    int64_t silent = 0;
    for (int64_t s : d.silences)
        silent += s;
    Json starts = Json::array();
    for (double ms : d.start_ms)
        starts.push_back(Round1(ms));
    Json out = {{"ms", d.samples * 1000 / sim::kSpeakerRate},
                {runs_key, runs},
                {"samples", d.samples},
                {"matching", d.matching},
                {"sessions", d.sessions}};
    if (std::string(runs_key) == "underruns")
        out["written"] = d.written;
    out["lost"] = d.lost;
    out["repeated"] = d.repeated;
    out["silences"] = d.silences.size();
    out["silence_ms"] = Round1(silent * 1000.0 / sim::kSpeakerRate);
    out["start_ms"] = starts;
    if (!d.faults.empty())
        out["faults"] = d.faults;
    return out;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: vudizeri-wine-audio SCENARIO.yaml TRACE DIRECTORY\n");
        return 2;
    }
    sim::Scenario s;
    try {
        s = sim::LoadScenarioWithSignals(argv[1]);
    } catch (const sim::ScenarioError &e) {
        fprintf(stderr, "vudizeri-wine-audio: %s\n", e.what());
        return 2;
    }
    std::string dir = argv[3];
    long double capture_ns = 0, mic_ns = 0;
    if (!UnixNs(dir + "/capture.start", &capture_ns) || !UnixNs(dir + "/mic.start", &mic_ns)) {
        fprintf(stderr, "vudizeri-wine-audio: no capture.start or mic.start in %s\n", dir.c_str());
        return 2;
    }
    std::ifstream trace(argv[2]);
    if (!trace) {
        fprintf(stderr, "vudizeri-wine-audio: cannot read %s\n", argv[2]);
        return 2;
    }
    long double t0_ms = -1;
    long long last_t = 0;
    int underruns = 0, overruns = 0;
    std::vector<heard::Feed> feeds;
    std::vector<heard::Take> takes;
    for (std::string line; std::getline(trace, line);) {
        if (line.empty() || line[0] != '{')
            continue;
        Json e = Json::parse(line, nullptr, false);
        if (e.is_discarded())
            continue;
        std::string ev = e.value("ev", "");
        double t = e.value("t", 0.0);
        if (ev != "end")
            last_t = std::max(last_t, (long long)t);
        if (ev == "clock")
            t0_ms = e.value("unix_ms", 0.0L);
        else if (ev == "feed")
            feeds.push_back(heard::Feed{t, e.value("line_start", 0LL), 0});
        else if (ev == "fed") {
            for (heard::Feed &f : feeds)
                if (f.line_start == e.value("line_start", 0LL))
                    f.written = e.value("written", 0LL);
        } else if (ev == "take")
            takes.push_back(heard::Take{t, e.value("begin", 0LL)});
        else if (ev == "rings") {
            underruns = e.value("underruns", 0);
            overruns = e.value("overruns", 0);
        }
    }
    if (t0_ms < 0) {
        fprintf(stderr, "vudizeri-wine-audio: the trace has no clock event\n");
        return 2;
    }
    double capture_t0 = (double)(capture_ns / 1e6L - t0_ms), mic_t0 = (double)(mic_ns / 1e6L - t0_ms);
    // When each sample of the microphone was heard: from the harness's own recording of the mic
    // sink's monitor, where the sequence tells each sample's place. A silence the server inserted in
    // the microphone (its feeder late) puts every later sample later: each stretch between two
    // silences is placed by its own first sample.
    long double heard_ns = 0;
    std::vector<int16_t> mic_heard = Samples(dir + "/mic-heard.raw");
    std::vector<std::pair<int64_t, double>> stretches;  // microphone sample, ms of the run it was heard
    if (s.mic.kind == sim::Signal::Sequence && UnixNs(dir + "/mic-heard.start", &heard_ns)) {
        double heard_t0 = (double)(heard_ns / 1e6L - t0_ms);
        int64_t expected = -1;
        for (size_t j = 0; j < mic_heard.size(); ++j) {
            if (mic_heard[j] == 0) {
                expected = -1;
                continue;
            }
            double at = heard_t0 + (double)j * 1000.0 / sim::kSpeakerRate;
            int64_t q = sim::SequencePosition(mic_heard[j]);
            if (expected >= 0 && q == expected % sim::kSequencePeriod) {
                expected++;
                continue;
            }
            // A new stretch: its absolute place, the one nearest to where the clock puts it.
            int64_t guess = stretches.empty()
                                ? (int64_t)std::llround((at - mic_t0) * sim::kSpeakerRate / 1000.0)
                                : stretches.back().first + (int64_t)std::llround((at - stretches.back().second) *
                                                                                 sim::kSpeakerRate / 1000.0);
            q += sim::kSequencePeriod * (int64_t)std::llround((double)(guess - q) / (double)sim::kSequencePeriod);
            stretches.push_back({q, at});
            expected = q + 1;
        }
        if (!stretches.empty())
            mic_t0 = stretches.front().second - (double)stretches.front().first * 1000.0 / sim::kSpeakerRate;
    }
    heard::Direction out = heard::Out(s.line, Samples(dir + "/capture.raw"), capture_t0, feeds);
    std::vector<int16_t> taken = Samples(dir + "/line-out.raw");
    heard::Direction in = heard::In(s.mic, taken, mic_t0, takes);
    // When the microphone said a sample In() placed by the clock (ms of the run), placed instead by
    // the stretch of the microphone it was heard in.
    auto placed = [&](double at_ms) {
        int64_t q = (int64_t)std::llround((at_ms - mic_t0) * sim::kSpeakerRate / 1000.0);
        auto it = std::upper_bound(stretches.begin(), stretches.end(), std::make_pair(q, 1e300));
        if (it == stretches.begin())
            return at_ms;
        --it;
        return it->second + (double)(q - it->first) * 1000.0 / sim::kSpeakerRate;
    };
    // Each first sample lost, and each start's first sample taken.
    for (heard::Direction::Loss &loss : in.losses)
        loss.at_ms = placed(loss.at_ms);
    if (!stretches.empty() && in.start_ms.size() == takes.size()) {
        for (size_t k = 0; k < takes.size(); ++k) {
            size_t j = (size_t)std::max<int64_t>(0, takes[k].begin);
            while (j < taken.size() && taken[j] == 0)
                j++;
            if (j >= taken.size())
                continue;
            in.start_ms[k] = placed(in.start_ms[k] + takes[k].t) - takes[k].t;
        }
    }
    Json event = {{"t", last_t}, {"ev", "audio"}, {"out", Figures(out, "underruns", underruns)},
                  {"in", Figures(in, "overruns", overruns)}};
    // The machine's own stalls while the run played, and the losses that fell in one.
    std::vector<heard::Stall> stalls;
    bool watched = Stalls(dir + "/stalls.txt", t0_ms, &stalls);
    double stall_ms = 0, worst_ms = 0;
    for (const heard::Stall &stall : stalls)
        stall_ms += stall.late_ms, worst_ms = std::max(worst_ms, stall.late_ms);
    event["machine"] = {{"watched", watched},
                        {"stalls", stalls.size()},
                        {"stall_ms", Round1(stall_ms)},
                        {"worst_ms", Round1(worst_ms)}};
    LossesInStalls(out, stalls, &event["out"]);
    LossesInStalls(in, stalls, &event["in"]);
    // The microphone as the harness itself heard it from the server: what it lost or the server
    // left silent there is the harness's and the server's, not Wine's nor the program's.
    if (!mic_heard.empty()) {
        heard::Direction monitor = heard::In(s.mic, mic_heard, mic_t0, {heard::Take{mic_t0, 0}});
        int64_t silent = 0;
        for (int64_t n : monitor.silences)
            silent += n;
        event["in"]["monitor"] = {{"samples", monitor.samples},
                                  {"matching", monitor.matching},
                                  {"lost", monitor.lost},
                                  {"repeated", monitor.repeated},
                                  {"silences", monitor.silences.size()},
                                  {"silence_ms", Round1(silent * 1000.0 / sim::kSpeakerRate)}};
    }
    printf("%s\n", event.dump().c_str());
    return 0;
}
