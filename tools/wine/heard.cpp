// What was heard and what was sent under Wine: see heard.h.
#include "heard.h"

#include <cmath>

#include "sound.h"

namespace heard {

namespace {

std::string Ms(double ms)
{
    char text[32];
    snprintf(text, sizeof(text), "%.0f ms", ms);
    return text;
}

void Fault(Direction &d, const std::string &what)
{
    if (d.faults.size() < 8)
        d.faults.push_back(what);
}

// Where the signal says `value` again nearest to `near`, when the signal tells (the sequence); -1
// otherwise.
int64_t NearestPosition(const sim::Signal &signal, int16_t value, int64_t near)
{
    if (signal.kind != sim::Signal::Sequence)
        return -1;
    int64_t pos = sim::SequencePosition(value);
    if (pos < 0)
        return -1;
    int64_t period = sim::kSequencePeriod;
    int64_t delta = ((pos - near % period) % period + period) % period;
    if (delta > period / 2)
        delta -= period;
    return near + delta;
}

// A sample heard out of place: with the sequence, how many were lost or repeated, and where the
// signal goes on; returns the position after the sample, or -1 when it cannot be placed. A loss is
// noted as happening at at_ms.
int64_t Misplaced(Direction &d, const sim::Signal &signal, int16_t value, int64_t expected, int64_t low, int64_t high,
                  const std::string &where, double at_ms)
{
    int64_t q = NearestPosition(signal, value, expected);
    if (q < low || q >= high) {
        Fault(d, where + ": sample " + std::to_string(value) + " where " + std::to_string(sim::SignalSample(signal, expected)) +
                     " (signal sample " + std::to_string(expected) + ") was due");
        return -1;
    }
    if (q > expected) {
        d.lost += q - expected;
        d.losses.push_back({at_ms, q - expected});
        Fault(d, where + ": " + std::to_string(q - expected) + " samples lost before signal sample " + std::to_string(q));
    } else {
        d.repeated += expected - q;
        Fault(d, where + ": signal samples " + std::to_string(q) + " to " + std::to_string(expected - 1) + " again");
    }
    return q + 1;
}

}  // namespace

Direction Out(const sim::Signal &line, const std::vector<int16_t> &capture, double capture_t0,
              const std::vector<Feed> &feeds)
{
    Direction d;
    d.sessions = (int)feeds.size();
    for (const Feed &f : feeds)
        d.written += f.written;
    int k = -1;              // the start being heard
    int64_t p = 0;           // the line sample due next
    int64_t zeros = 0;       // zeros heard since the last sample of the line
    auto end = [&](int s) { return feeds[(size_t)s].line_start + feeds[(size_t)s].written; };
    auto when = [&](size_t i) { return capture_t0 + (double)i * 1000.0 / sim::kSpeakerRate; };
    for (size_t i = 0; i < capture.size(); ++i) {
        int16_t v = capture[i];
        if (k >= 0 && p < end(k) && v == sim::SignalSample(line, p)) {
            if (zeros)
                d.silences.push_back(zeros);
            zeros = 0;
            d.samples++, d.matching++, p++;
            continue;
        }
        // The next start: its first line sample, after the four zeroed buffers the program queued.
        int next = k + 1;
        while (next < (int)feeds.size() && feeds[(size_t)next].written == 0)
            next++;
        if (next < (int)feeds.size() && v != 0 && v == sim::SignalSample(line, feeds[(size_t)next].line_start)) {
            k = next;
            zeros = 0;  // the quiet between two starts
            p = feeds[(size_t)k].line_start + 1;
            size_t from = i >= (size_t)sim::kStartSilence ? i - (size_t)sim::kStartSilence : 0;
            for (size_t j = from; j < i; ++j)
                d.matching += capture[j] == 0;
            d.samples += (int64_t)(i - from) + 1;
            d.matching += 1;
            d.start_ms.push_back(when(i) - 1000.0 * sim::kStartSilence / sim::kSpeakerRate - feeds[(size_t)k].t);
            continue;
        }
        if (v == 0) {
            zeros++;
            continue;
        }
        d.samples++;
        // The next start's sound whose first samples were lost.
        if (next < (int)feeds.size()) {
            const Feed &f = feeds[(size_t)next];
            int64_t q = NearestPosition(line, v, f.line_start);
            if (q > f.line_start && q < f.line_start + f.written) {
                k = next;
                zeros = 0;
                d.lost += q - f.line_start;
                d.losses.push_back({when(i), q - f.line_start});
                Fault(d, "out, at " + Ms(when(i)) + ": start " + std::to_string(k + 1) + " heard from its line sample " +
                             std::to_string(q - f.line_start));
                p = q + 1;
                continue;
            }
        }
        if (k < 0) {
            Fault(d, "at " + Ms(when(i)) + ": sample " + std::to_string(v) + " heard before any playback start");
            continue;
        }
        if (zeros)
            d.silences.push_back(zeros);
        zeros = 0;
        int64_t q = Misplaced(d, line, v, p, feeds[(size_t)k].line_start, end(k), "out, at " + Ms(when(i)), when(i));
        if (q >= 0)
            p = q;
    }
    return d;
}

Direction In(const sim::Signal &mic, const std::vector<int16_t> &taken, double mic_t0, const std::vector<Take> &takes)
{
    Direction d;
    d.sessions = (int)takes.size();
    int64_t period = sim::SignalPeriod(mic);
    for (size_t k = 0; k < takes.size(); ++k) {
        size_t begin = (size_t)std::max<int64_t>(0, takes[k].begin);
        size_t end = k + 1 < takes.size() ? (size_t)takes[k + 1].begin : taken.size();
        end = std::min(end, taken.size());
        int64_t q = -1;  // the microphone sample due next
        int64_t zeros = 0;
        // Where the microphone was when this start began, on the harness's clock.
        int64_t near = (int64_t)std::llround((takes[k].t - mic_t0) * sim::kSpeakerRate / 1000.0);
        for (size_t j = begin; j < end; ++j) {
            int16_t v = taken[j];
            if (q >= 0 && v == sim::SignalSample(mic, q)) {
                if (zeros)
                    d.silences.push_back(zeros);
                zeros = 0;
                d.samples++, d.matching++, q++;
                continue;
            }
            if (v == 0 && (q < 0 || sim::SignalSample(mic, q) != 0)) {
                zeros++;
                continue;
            }
            d.samples++;
            std::string where = "in, start " + std::to_string(k + 1) + ", taken sample " + std::to_string(j - begin);
            if (q < 0) {
                // The first sound of this start: where the microphone was then. The sequence says so
                // itself; another signal is found by its next samples within one period.
                int64_t at = NearestPosition(mic, v, std::max<int64_t>(near, 0));
                if (mic.kind != sim::Signal::Sequence) {
                    for (int64_t r = 0; r < period && at < 0; ++r) {
                        bool same = true;
                        for (size_t n = 0; n < 64 && j + n < end && same; ++n)
                            same = taken[j + n] == sim::SignalSample(mic, r + (int64_t)n);
                        if (same)
                            at = r + period * std::max<int64_t>(0, (int64_t)std::llround((double)(near - r) / (double)period));
                    }
                }
                if (at < 0) {
                    Fault(d, where + ": sample " + std::to_string(v) + " is nowhere in the microphone's signal");
                    continue;
                }
                if (zeros)
                    d.silences.push_back(zeros);  // the stream gave silence before the microphone
                zeros = 0;
                d.matching++;
                q = at + 1;
                // The time is known where the position is: the sequence, or a signal with a period of
                // a second or more.
                if (mic.kind == sim::Signal::Sequence || period >= sim::kSpeakerRate)
                    d.start_ms.push_back(mic_t0 + (double)at * 1000.0 / sim::kSpeakerRate - takes[k].t);
                continue;
            }
            if (zeros)
                d.silences.push_back(zeros);
            zeros = 0;
            int64_t next = Misplaced(d, mic, v, q, 0, INT64_MAX, where, mic_t0 + (double)q * 1000.0 / sim::kSpeakerRate);
            if (next >= 0)
                q = next;
        }
    }
    return d;
}

InStalls LossesInStalls(const Direction &d, const std::vector<Stall> &stalls)
{
    constexpr double kMarginMs = 250;
    InStalls in;
    for (const Direction::Loss &loss : d.losses)
        for (const Stall &stall : stalls)
            if (loss.at_ms >= stall.from_ms - kMarginMs && loss.at_ms <= stall.from_ms + stall.late_ms + kMarginMs) {
                in.losses++;
                in.samples += loss.samples;
                break;
            }
    return in;
}

}  // namespace heard
