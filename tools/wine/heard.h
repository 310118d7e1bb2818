// What was heard and what was sent under Wine, set beside what the driver double wrote and what the
// microphone said: the Wine run's "audio" figures (tools/wine/audio.cpp prints them; the Wine suites
// check the comparison itself).
//
// Out: the sound server's speaker monitor, recorded for the whole run, against the line samples the
// driver double wrote for each playback start. Each start is heard as four zeroed buffers and then
// the line from where the driver began feeding it, in order, until the stream stops (the last
// buffers the driver filled may never be queued). In: what the driver double took from the record
// area, start by start, against the microphone's signal as the harness played it into the server.
// A zero where the signal says something else is a silence the server inserted (its stream ran
// dry): reported, not counted among the program's samples. Any other difference is a sample lost,
// repeated or out of order; with the sequence signal its size is told exactly.
#ifndef TOOLS_WINE_HEARD_H
#define TOOLS_WINE_HEARD_H

#include <cstdint>
#include <string>
#include <vector>

#include "scenario.h"

namespace heard {

// A playback start as the driver double saw it: when (ms of the run), its first line sample, and how
// many samples it wrote for it.
struct Feed {
    double t = 0;
    int64_t line_start = 0;
    int64_t written = 0;
};

// A record start: when, and where its samples begin among those the driver took.
struct Take {
    double t = 0;
    int64_t begin = 0;
};

struct Direction {
    int64_t samples = 0;    // the program's samples compared (silences inserted by the server not counted)
    int64_t matching = 0;   // of those, the ones in their place
    int64_t lost = 0, repeated = 0;  // sized from the sequence's positions (other signals: mismatches only)
    int64_t written = 0;    // out: line samples the driver wrote
    int sessions = 0;
    std::vector<int64_t> silences;    // lengths in samples of the silences the server inserted
    std::vector<double> start_ms;     // per start: first sample heard (out) or taken (in) after the start
    std::vector<std::string> faults;  // the first differences, described
    // Each stretch lost, when it happened (ms of the run: out, when the sample after it was heard;
    // in, when the microphone said its first sample) and how many samples.
    struct Loss {
        double at_ms;
        int64_t samples;
    };
    std::vector<Loss> losses;
};

// A stall of the machine itself (a processor taken away from it): from when, how long (ms of the run).
struct Stall {
    double from_ms = 0, late_ms = 0;
};

// The losses noticed from a quarter of a second before a stall to a quarter of a second after it:
// how many, and their samples. (The program's two record buffers hold 128 ms: what came while its
// process stood still longer had nowhere to go.)
struct InStalls {
    int64_t losses = 0, samples = 0;
};
InStalls LossesInStalls(const Direction &d, const std::vector<Stall> &stalls);

// capture: the speaker monitor from capture_t0 (ms of the run, the time of its first sample).
Direction Out(const sim::Signal &line, const std::vector<int16_t> &capture, double capture_t0,
              const std::vector<Feed> &feeds);
// taken: what the driver took, all starts one after the other; mic_t0: when the microphone's sample 0
// was played into the server (ms of the run).
Direction In(const sim::Signal &mic, const std::vector<int16_t> &taken, double mic_t0, const std::vector<Take> &takes);

}  // namespace heard

#endif
