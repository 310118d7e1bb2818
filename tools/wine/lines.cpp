// vudizeri-wine-lines: a scenario file as the plain lines the Wine controller plays.
//
//   name TEXT
//   windows nt5
//   locale VALUE | locale-missing | locale-nokey
//   device voice|control MS|never
//   stop hang|complete
//   end MS
//   at MS status WORD CALLER-HEX|- HOLD|-
//   at MS click|check|uncheck ID
//   at MS dismiss | close
//   at MS speaker PD RD | voice_status N | voice_error N | power N
//   at MS devices voice|control 0|1
//
// Exit status 3, with the keys named on standard error, for a scenario that needs what the Wine
// prefix cannot be made to have (another Windows version, files, telephony, dial-up, a sound card that
// lacks a device or the format, faults).
#include <cstdio>
#include <string>

#include "scenario.h"

namespace {

std::string Hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out.empty() ? "-" : out;
}

// An NT-family system of major version 5, which a prefix can report to the program (Wine's
// "winxp64"); the program asks for no dial-up connections there, so the dial-up count does not matter.
bool Nt5(const sim::Scenario &s) { return s.platform == 2 && s.major == 5; }

std::string Unplayable(const sim::Scenario &s)
{
    std::string out;
    if (s.keys_used.count("system.windows") && !Nt5(s))
        out += "system.windows (only 2000, xp and 2003)";
    if (s.keys_used.count("system.dialup") && !Nt5(s) && s.dialup != 0)
        out += std::string(out.empty() ? "" : ", ") + "system.dialup (only 0, or any on 2000, xp and 2003)";
    // What the far end says and the microphone hears shape only the samples, which the Wine run does
    // not compare: those keys are played (the driver double does not fill the playback area).
    for (const char *key : {"system.windows_dir", "system.files", "system.telephony", "system.sound",
                            "system.show", "system.screen", "faults", "preempt_seed"})
        if (s.keys_used.count(key))
            out += (out.empty() ? "" : ", ") + std::string(key);
    // The controller dismisses the box opened last; a box named by its caption it cannot pick.
    for (const sim::Event &e : s.events)
        if (e.kind == sim::Event::Dismiss && e.dismiss_caption) {
            out += std::string(out.empty() ? "" : ", ") + "events.dismiss (a caption)";
            break;
        }
    return out;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: vudizeri-wine-lines SCENARIO.yaml\n");
        return 2;
    }
    sim::Scenario s;
    try {
        s = sim::LoadScenario(argv[1]);
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
    if (s.keys_used.count("system.windows"))
        printf("windows nt5\n");
    if (!s.locale_key)
        printf("locale-nokey\n");
    else if (!s.locale)
        printf("locale-missing\n");
    else
        printf("locale %s\n", s.locale->c_str());
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
    for (const sim::Event &e : s.events) {
        printf("at %lld ", (long long)e.at);
        switch (e.kind) {
        case sim::Event::Status:
            printf("status %u %s ", e.status, e.caller ? Hex(*e.caller).c_str() : "-");
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
            break;
        }
    }
    return 0;
}
