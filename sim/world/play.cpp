// Setting the world up from a scenario and running the program in it.
#include "play.h"

#include <cstdio>

#include "driver_double.h"
#include "registry.h"
#include "sound.h"
#include "system.h"
#include "user.h"
#include "user32.h"

namespace sim {

namespace {

void ScheduleEvent(const Event &e)
{
    switch (e.kind) {
    case Event::Status:
        At(e.at, [e] { DriverSetStatus(e.status, e.caller, e.hold); });
        break;
    case Event::Speaker:
        At(e.at, [e] { DriverRequest(e.pD, e.rD); });
        break;
    case Event::VoiceStatus:
        At(e.at, [e] { DriverCompleteStatus(e.voice_status); });
        break;
    case Event::VoiceError:
        At(e.at, [e] { DriverFailRead(e.voice_error); });
        break;
    case Event::Devices:
        At(e.at, [e] {
            if (e.voice_present)
                DriverSetPresent(true, *e.voice_present);
            if (e.control_present)
                DriverSetPresent(false, *e.control_present);
        });
        break;
    case Event::Dismiss:
        At(e.at, [e] { UserDismiss(e.dismiss_caption); });
        break;
    case Event::Close:
        At(e.at, [] { UserClose(); });
        break;
    case Event::Key:
        At(e.at, [e] { UserKey(*ParseKeyStroke(e.key)); });
        break;
    case Event::Power:
        At(e.at, [e] {
            if (!PowerBroadcast(e.power))
                Emit("user", {{"action", "power"}, {"ok", false}});
        });
        break;
    case Event::Click:
        At(e.at, [e] { UserAction(kUserClick, e.control); });
        break;
    case Event::Check:
        At(e.at, [e] { UserAction(kUserCheck, e.control); });
        break;
    case Event::Uncheck:
        At(e.at, [e] { UserAction(kUserUncheck, e.control); });
        break;
    }
}

// WinMain does not start on a clean stack: the system's start-up code has been there before it, so
// a local the program never sets holds whatever was left, seldom zero. Here that is 0xCC.
__attribute__((noinline)) void UsedStack()
{
    volatile unsigned char area[16384];
    for (size_t k = 0; k < sizeof(area); k++)
        area[k] = 0xCC;
    (void)area[0];
}

}  // namespace

void Play(const Scenario &s, const PlayOptions &options)
{
    SetTraceSink(options.sink);
    SetCodePage(s.codepage);
    for (const std::string &what : s.trace)
        EnableTraceDetail(what);
    for (const FaultSpec &f : s.faults)
        AddFault(f.call, f.nth, f.count, f.error);
    EnableCallsEvent(options.calls);
    if (s.preempt_seed)
        SetPreemptSeed(*s.preempt_seed);
    SetEndTime(s.end);
    SetScreen(s.screen_width, s.screen_height);

    // The registry: the user's locale.
    if (s.locale_key) {
        RegistryCreateKey("Control Panel\\International");
        if (s.locale)
            RegistrySetValue("Control Panel\\International", "Locale", REG_SZ, *s.locale);
    }

    // The system: version, Windows directory and files, telephony, dial-up connections.
    SetupSystem(s);

    // The sound card, and what the far end and the microphone say. A WAV file that cannot be read is
    // the scenario's fault: refused before anything runs.
    SoundConfigure(s.sound_output, s.sound_input, s.sound_format);
    Signal line = s.line, mic = s.mic;
    LoadSignal(line, s.file, "driver.line");
    LoadSignal(mic, s.file, "driver.mic");
    SpeakerConfigure(line, mic, options.wav_speaker, options.wav_line);

    // The driver: devices present from their time on (from the start: before the program runs).
    DriverSetStopHangs(s.stop_hangs);
    if (s.voice_at && *s.voice_at == 0)
        DriverSetPresent(true, true);
    else if (s.voice_at)
        At(*s.voice_at, [] { DriverSetPresent(true, true); });
    if (s.control_at && *s.control_at == 0)
        DriverSetPresent(false, true);
    else if (s.control_at)
        At(*s.control_at, [] { DriverSetPresent(false, true); });
    for (const Event &e : s.events)
        ScheduleEvent(e);

    static char command_line[] = "";
    int code = RunMain([&s] {
        UsedStack();
        return WinMain(kProgramInstance, NULL, command_line, s.show);
    });
    Emit("exit", {{"code", code}});
    Finish("exit");
}

}  // namespace sim
