// Scenario files: what the world is like and what happens in it, read from YAML.
#ifndef SIM_SCENARIO_H
#define SIM_SCENARIO_H

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "world.h"

namespace sim {

// A bad scenario: the message names the file, the line and the key.
struct ScenarioError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What a signal source says: the far end of the line, or the microphone.
struct Signal {
    enum Kind { Silence, Tone, Counter, Sequence, Wav } kind = Silence;
    double hz = 0;      // Tone
    std::string path;   // Wav
    int line = 0;       // where the scenario file names it (1-based; 0: not from a file)
};

struct SimFile {
    std::string content;
    uint32_t attributes = 0x20;  // FILE_ATTRIBUTE_ARCHIVE unless told
};

struct Event {
    enum Kind {
        Status, Click, Check, Uncheck, Dismiss, Speaker, VoiceStatus, VoiceError, Power, Devices, Close, Key
    } kind = Status;
    Ms at = 0;
    int line = 0;                       // line in the scenario file, for messages
    // Status: the record the driver reports from now on.
    uint32_t status = 0;
    std::optional<std::string> caller;  // bytes of CallerId (at most 100; no NUL added at 100)
    std::optional<uint32_t> hold;
    // Dismiss: the caption of the box to dismiss (the innermost with it); none: the box opened last.
    std::optional<std::string> dismiss_caption;
    // Click, Check, Uncheck: control id of the open call dialog.
    int control = 0;
    // Speaker: the driver completes the pending read with Status 1 and these requests.
    int32_t pD = 0, rD = 0;
    // VoiceStatus: completes the pending read with this Status; VoiceError: fails it with this code.
    int32_t voice_status = 0;
    uint32_t voice_error = 0;
    // Power: the WM_POWERBROADCAST event number.
    uint32_t power = 0;
    // Devices: presence changes.
    std::optional<bool> voice_present, control_present;
    // Key: the keystroke another program posts to the program's window, as written ("Alt+A").
    std::string key;
};

struct FaultSpec {
    std::string call;
    int nth = 1;
    int count = 1;
    std::optional<uint32_t> error;  // absent: the call's documented failure
};

struct Scenario {
    std::string file;
    std::string name;
    // system
    uint32_t platform = 2, major = 5, minor = 1;  // Windows XP
    int codepage = 1252;
    // HKCU "Control Panel\International" "Locale": nullopt with locale_key: value missing;
    // locale_key false: no key at all.
    bool locale_key = true;
    std::optional<std::string> locale;  // the value's bytes as stored
    std::string windows_dir = "C:\\WINDOWS";
    std::map<std::string, SimFile> files;
    std::string telephony = "location";  // location | no-location | no-function | no-library
    int dialup = 0;
    bool sound_output = true, sound_input = true, sound_format = true;
    int show = 10;                       // WinMain's show command (SW_SHOWDEFAULT)
    int screen_width = 1024, screen_height = 768;
    // driver
    std::optional<Ms> voice_at = 0, control_at = 0;  // when each device appears; nullopt: never
    bool stop_hangs = false;
    Signal line, mic;
    // the rest
    std::vector<FaultSpec> faults;
    std::vector<Event> events;
    Ms end = 0;                          // when the run stops if the program has not ended
    std::set<std::string> trace;         // optional trace detail: "ioctl"
    std::optional<uint64_t> preempt_seed;
    std::set<std::string> keys_used;     // dotted keys present in the file, e.g. "system.sound" (the Wine
                                         // converter refuses those the prefix cannot be made to have)
};

// Reads and checks a scenario file; throws ScenarioError.
Scenario LoadScenario(const std::string& path);
Scenario ParseScenario(const std::string& yaml_text, const std::string& file_name);

// The name the scenario files give the scenario's system ("98", "xp", ...); null for a version given
// as a map that has no name.
const char* WindowsName(const Scenario& s);

}  // namespace sim

#endif
