// vudizeri-wine-lines: a scenario file as the plain lines the Wine controller plays.
//
//   name TEXT
//   windows 95|98|me|nt4|2000|xp|2003|vista|7   (the system's version, told to the program through
//                                            Wine's per-program setting)
//   locale VALUE | locale-missing | locale-nokey
//   telephony location|no-location|no-function|no-library   (through the doubles in tools/wine/doubles)
//   dialup N
//   file ATTRIBUTES CONTENT-HEX PATH   (a file under the Windows directory, made before the start)
//   device voice|control MS|never
//   stop hang|complete
//   end MS
//   at MS status WORD CALLER HOLD    (CALLER: - keeps it, . empties it, else its bytes in hex;
//                                     HOLD: - keeps it; see tools/wine/controller/record.h)
//   at MS click|check|uncheck ID
//   at MS dismiss | close
//   at MS speaker PD RD | voice_status N | voice_error N | power N
//   at MS devices voice|control 0|1
//   line FILE    (with a DIRECTORY: what the far end says, one period of 16-bit samples, written there)
//   taken FILE   (where the controller writes what the driver double took from the record area)
//
// With a DIRECTORY it also writes mic.raw there: what the microphone hears from sample 0, 16-bit, for
// the whole run and 30 s more, which the harness plays into the sound server's "mic" sink.
// A WAV file that cannot be read, or is not 8 kHz 16-bit mono, is a bad scenario: exit status 2.
//
// Exit status 3, with the keys named on standard error, for a scenario that needs what the Wine
// prefix cannot be made to have (a version Wine has no name for, another Windows directory, files
// elsewhere, a sound card that lacks a device or the format, faults).
#include <strings.h>

#include <cstdio>
#include <string>

#include "scenario.h"
#include "sound.h"
#include "world.h"

namespace {

// Bytes as hex, "." for none: a line's fields are never empty.
std::string HexField(const std::string &bytes)
{
    std::string hex = sim::Hex(bytes);
    return hex.empty() ? "." : hex;
}

// The versions Wine can tell a program (HKCU\Software\Wine\AppDefaults\PROGRAM\Version) are those
// the scenario files have names for (the controller turns the name into Wine's).
const char *WineVersion(const sim::Scenario &s) { return sim::WindowsName(s); }

bool SameText(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

std::string Unplayable(const sim::Scenario &s)
{
    std::string out;
    if (s.keys_used.count("system.windows") && !WineVersion(s))
        out += "system.windows (only the versions Wine knows: 95, 98, me, nt4, 2000, xp, 2003, vista, 7)";
    // A driver completes a read with an NTSTATUS; Wine gives the reader back only the low 16 bits of
    // a Win32 code carried in one (0xC007xxxx).
    for (const sim::Event &e : s.events)
        if (e.kind == sim::Event::VoiceError && e.voice_error > 0xFFFF) {
            out += std::string(out.empty() ? "" : ", ") + "events.voice_error (only codes up to 65535)";
            break;
        }
    // The prefix's Windows directory is C:\windows: files only there, and no other directory; the
    // controller makes at most 16 files of at most 250 bytes.
    if (s.keys_used.count("system.windows_dir") && !SameText(s.windows_dir, "C:\\WINDOWS"))
        out += std::string(out.empty() ? "" : ", ") + "system.windows_dir (only C:\\WINDOWS)";
    for (const auto &f : s.files)
        if (!SameText(f.first.substr(0, 11), "C:\\WINDOWS\\") || f.first.find('\n') != std::string::npos ||
            f.second.content.size() > 250 || s.files.size() > 16) {
            out += std::string(out.empty() ? "" : ", ") +
                   "system.files (only under C:\\WINDOWS, at most 16 of at most 250 bytes)";
            break;
        }
    // What the far end says and the microphone hears shape only the samples, which the Wine run does
    // not compare: those keys are played (the driver double does not fill the playback area).
    for (const char *key : {"system.sound", "system.show", "system.screen", "faults", "preempt_seed"})
        if (s.keys_used.count(key))
            out += (out.empty() ? "" : ", ") + std::string(key);
    // The driver double keeps at most VXD_LINE_MAX samples of the far end's signal.
    if (sim::SignalPeriod(s.line) > (1 << 20))
        out += std::string(out.empty() ? "" : ", ") + "driver.line (a WAV file of at most 1048576 samples)";
    // The controller dismisses the box opened last; a box named by its caption it cannot pick.
    for (const sim::Event &e : s.events)
        if (e.kind == sim::Event::Dismiss && e.dismiss_caption) {
            out += std::string(out.empty() ? "" : ", ") + "events.dismiss (a caption)";
            break;
        }
    // The controller posts no keystrokes, and the beep a discarded one makes is a sound it cannot see.
    for (const sim::Event &e : s.events)
        if (e.kind == sim::Event::Key) {
            out += std::string(out.empty() ? "" : ", ") + "events.key";
            break;
        }
    return out;
}

bool WriteSamples(const std::string &path, const sim::Signal &signal, int64_t count)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    std::vector<int16_t> block(8192);
    for (int64_t n = 0; n < count;) {
        size_t k = 0;
        for (; k < block.size() && n < count; ++k, ++n)
            block[k] = sim::SignalSample(signal, n);
        fwrite(block.data(), 2, k, f);
    }
    return fclose(f) == 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3) {
        fprintf(stderr, "usage: vudizeri-wine-lines SCENARIO.yaml [DIRECTORY]\n");
        return 2;
    }
    sim::Scenario s;
    try {
        s = sim::LoadScenarioWithSignals(argv[1]);
    } catch (const sim::ScenarioError &e) {
        fprintf(stderr, "vudizeri-wine-lines: %s\n", e.what());
        return 2;
    }
    std::string unplayable = Unplayable(s);
    if (!unplayable.empty()) {
        fprintf(stderr, "vudizeri-wine-lines: %s: not playable under Wine: %s\n", argv[1], unplayable.c_str());
        return 3;
    }
    printf("name %s\n", s.name.c_str());
    printf("windows %s\n", WineVersion(s));  // XP where the scenario does not say, as in the world
    if (!s.locale_key)
        printf("locale-nokey\n");
    else if (!s.locale)
        printf("locale-missing\n");
    else
        printf("locale %s\n", s.locale->c_str());
    printf("telephony %s\n", s.telephony.c_str());
    printf("dialup %d\n", s.dialup);
    for (const auto &f : s.files)
        printf("file %u %s %s\n", f.second.attributes, HexField(f.second.content).c_str(), f.first.c_str());
    auto device = [](const char *name, const std::optional<sim::Ms> &at) {
        if (at)
            printf("device %s %lld\n", name, (long long)*at);
        else
            printf("device %s never\n", name);
    };
    device("voice", s.voice_at);
    device("control", s.control_at);
    printf("stop %s\n", s.stop_hangs ? "hang" : "complete");
    printf("end %lld\n", (long long)s.end);
    if (argc == 3) {
        std::string dir = argv[2];
        if (!WriteSamples(dir + "/line.raw", s.line, sim::SignalPeriod(s.line)) ||
            !WriteSamples(dir + "/mic.raw", s.mic, (s.end / 1000 + 30) * sim::kSpeakerRate)) {
            fprintf(stderr, "vudizeri-wine-lines: cannot write the signals into %s\n", dir.c_str());
            return 2;
        }
        printf("line line.raw\ntaken line-out.raw\n");
    }
    for (const sim::Event &e : s.events) {
        printf("at %lld ", (long long)e.at);
        switch (e.kind) {
        case sim::Event::Status:
            printf("status %u %s ", e.status, e.caller ? HexField(*e.caller).c_str() : "-");
            if (e.hold)
                printf("%u\n", *e.hold);
            else
                printf("-\n");
            break;
        case sim::Event::Click:
            printf("click %d\n", e.control);
            break;
        case sim::Event::Check:
            printf("check %d\n", e.control);
            break;
        case sim::Event::Uncheck:
            printf("uncheck %d\n", e.control);
            break;
        case sim::Event::Dismiss:
            printf("dismiss\n");
            break;
        case sim::Event::Close:
            printf("close\n");
            break;
        case sim::Event::Key:  // refused above
            break;
        case sim::Event::Speaker:
            printf("speaker %d %d\n", e.pD, e.rD);
            break;
        case sim::Event::VoiceStatus:
            printf("voice_status %d\n", e.voice_status);
            break;
        case sim::Event::VoiceError:
            printf("voice_error %u\n", e.voice_error);
            break;
        case sim::Event::Power:
            printf("power %u\n", e.power);
            break;
        case sim::Event::Devices:
            if (e.voice_present)
                printf("devices voice %d\n", *e.voice_present ? 1 : 0);
            else if (e.control_present)
                printf("devices control %d\n", *e.control_present ? 1 : 0);
            // Both in one event: the voice device first, as the world changes them.
            if (e.voice_present && e.control_present)
                printf("at %lld devices control %d\n", (long long)e.at, *e.control_present ? 1 : 0);
            break;
        }
    }
    return 0;
}
