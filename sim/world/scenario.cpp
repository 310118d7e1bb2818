// Reading and checking scenario files.
#include "scenario.h"

#include "calls.h"
#include "user.h"

#include <yaml-cpp/yaml.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sim {

namespace {

// The systems a scenario can name.
struct KnownWindows {
    const char *name;
    uint32_t platform, major, minor;
};
const KnownWindows kKnownWindows[] = {{"95", 1, 4, 0},   {"98", 1, 4, 10},  {"me", 1, 4, 90},
                                      {"nt4", 2, 4, 0},  {"2000", 2, 5, 0}, {"xp", 2, 5, 1},
                                      {"2003", 2, 5, 2}, {"vista", 2, 6, 0}, {"7", 2, 6, 1}};

struct Reader {
    std::string file;

    [[noreturn]] void Fail(const YAML::Node &node, const std::string &key, const std::string &message) const
    {
        std::ostringstream s;
        s << file;
        if (node.IsDefined() && node.Mark().line >= 0)
            s << ":" << node.Mark().line + 1;
        if (!key.empty())
            s << ": key '" << key << "'";
        s << ": " << message;
        throw ScenarioError(s.str());
    }

    void OnlyKeys(const YAML::Node &map, const std::string &where, std::initializer_list<const char *> allowed) const
    {
        if (!map.IsMap())
            Fail(map, where, "expected a mapping");
        for (auto it = map.begin(); it != map.end(); ++it) {
            std::string k = it->first.Scalar();
            bool ok = false;
            for (const char *a : allowed)
                ok = ok || k == a;
            if (!ok)
                Fail(it->first, where.empty() ? k : where + "." + k, "unknown key");
        }
    }

    std::string Str(const YAML::Node &n, const std::string &key) const
    {
        if (!n.IsScalar())
            Fail(n, key, "expected a text");
        return n.Scalar();
    }

    long long Int(const YAML::Node &n, const std::string &key, long long lo, long long hi) const
    {
        if (!n.IsScalar())
            Fail(n, key, "expected a whole number");
        const std::string &s = n.Scalar();
        errno = 0;
        char *end = nullptr;
        long long v = strtoll(s.c_str(), &end, 0);
        if (s.empty() || *end || errno)
            Fail(n, key, "expected a whole number, got '" + s + "'");
        if (v < lo || v > hi)
            Fail(n, key, "number out of range: " + s);
        return v;
    }

    Ms Seconds(const YAML::Node &n, const std::string &key) const
    {
        if (!n.IsScalar())
            Fail(n, key, "expected seconds");
        const std::string &s = n.Scalar();
        char *end = nullptr;
        double v = strtod(s.c_str(), &end);
        if (s.empty() || *end || !std::isfinite(v) || v < 0 || v > 1e9)
            Fail(n, key, "expected seconds (a number from 0), got '" + s + "'");
        return (Ms)std::llround(v * 1000);
    }

    bool Bool(const YAML::Node &n, const std::string &key) const
    {
        if (!n.IsScalar())
            Fail(n, key, "expected true or false");
        const std::string &s = n.Scalar();
        if (s == "true" || s == "yes" || s == "on")
            return true;
        if (s == "false" || s == "no" || s == "off")
            return false;
        Fail(n, key, "expected true or false, got '" + s + "'");
    }

    Signal ReadSignal(const YAML::Node &n, const std::string &key) const
    {
        Signal sig;
        sig.line = n.Mark().line >= 0 ? n.Mark().line + 1 : 0;
        if (n.IsScalar()) {
            std::string s = n.Scalar();
            if (s == "silence")
                sig.kind = Signal::Silence;
            else if (s == "counter")
                sig.kind = Signal::Counter;
            else if (s == "sequence")
                sig.kind = Signal::Sequence;
            else {
                sig.kind = Signal::Wav;
                sig.path = s;
            }
            return sig;
        }
        OnlyKeys(n, key, {"tone", "wav"});
        if (n["tone"]) {
            sig.kind = Signal::Tone;
            sig.hz = (double)Int(n["tone"], key + ".tone", 1, 3999);
        } else if (n["wav"]) {
            sig.kind = Signal::Wav;
            sig.path = Str(n["wav"], key + ".wav");
        } else {
            Fail(n, key, "expected silence, counter, sequence, a WAV file or {tone: HZ}");
        }
        return sig;
    }

    void ReadWindows(const YAML::Node &n, Scenario &s) const
    {
        if (n.IsMap()) {
            OnlyKeys(n, "system.windows", {"platform", "major", "minor"});
            s.platform = (uint32_t)Int(n["platform"], "system.windows.platform", 0, 2);
            s.major = (uint32_t)Int(n["major"], "system.windows.major", 0, 100);
            s.minor = n["minor"] ? (uint32_t)Int(n["minor"], "system.windows.minor", 0, 100) : 0;
            return;
        }
        std::string v = Str(n, "system.windows");
        for (auto &k : kKnownWindows) {
            if (v == k.name) {
                s.platform = k.platform;
                s.major = k.major;
                s.minor = k.minor;
                return;
            }
        }
        Fail(n, "system.windows", "unknown system '" + v + "' (95, 98, me, nt4, 2000, xp, 2003, vista, 7 or a map)");
    }

    // Windows NT before 5.0 sends no power event at all (the events' pages: "Windows NT: Requires
    // version 5.0 or later"), and Windows Vista and later no longer send those that the documents say were removed
    // there: such a scenario describes something no such system does.
    void CheckSystemSends(const YAML::Node &item, const Event &e, const Scenario &s) const
    {
        if (e.kind == Event::Power && s.platform == 2 && s.major < 5)
            Fail(item["power"], "events.power",
                 "Windows NT before 5.0 sends no power event (system.windows is " +
                     std::to_string(s.major) + "." + std::to_string(s.minor) + ")");
        if (e.kind != Event::Power || s.platform != 2 || s.major < 6)
            return;
        static const std::map<uint32_t, const char *> removed = {
            {0, "PBT_APMQUERYSUSPEND"}, {2, "PBT_APMQUERYSUSPENDFAILED"}, {6, "PBT_APMRESUMECRITICAL"},
            {9, "PBT_APMBATTERYLOW"},   {11, "PBT_APMOEMEVENT"}};
        auto it = removed.find(e.power);
        if (it != removed.end())
            Fail(item["power"], "events.power",
                 std::string("Windows Vista and later never send ") + it->second + " (system.windows is " +
                     std::to_string(s.major) + "." + std::to_string(s.minor) + ")");
    }

    void ReadSystem(const YAML::Node &n, Scenario &s) const
    {
        OnlyKeys(n, "system", {"windows", "codepage", "locale", "windows_dir", "files", "telephony", "dialup",
                               "sound", "show", "screen"});
        for (auto it = n.begin(); it != n.end(); ++it)
            s.keys_used.insert("system." + it->first.Scalar());
        if (n["windows"])
            ReadWindows(n["windows"], s);
        if (n["codepage"])
            s.codepage = (int)Int(n["codepage"], "system.codepage", 37, 65001);
        if (n["locale"]) {
            const YAML::Node &l = n["locale"];
            if (l.IsNull()) {
                s.locale_key = false;
                s.locale.reset();
            } else if (l.IsMap()) {
                OnlyKeys(l, "system.locale", {"hex"});
                std::string hex = Str(l["hex"], "system.locale.hex"), bytes;
                if (hex.size() % 2)
                    Fail(l, "system.locale.hex", "an even number of hexadecimal digits");
                for (size_t i = 0; i < hex.size(); i += 2) {
                    char *end = nullptr;
                    std::string pair = hex.substr(i, 2);
                    long b = strtol(pair.c_str(), &end, 16);
                    if (*end)
                        Fail(l, "system.locale.hex", "not hexadecimal: '" + pair + "'");
                    bytes += (char)b;
                }
                s.locale = bytes;
            } else {
                // Stored as Windows stores a string value: its bytes and the terminating NUL.
                s.locale = Str(l, "system.locale") + std::string(1, '\0');
            }
        }
        if (n["windows_dir"])
            s.windows_dir = Str(n["windows_dir"], "system.windows_dir");
        if (n["files"]) {
            const YAML::Node &f = n["files"];
            if (!f.IsMap())
                Fail(f, "system.files", "expected a mapping of paths");
            for (auto it = f.begin(); it != f.end(); ++it) {
                std::string path = it->first.Scalar();
                SimFile file;
                const YAML::Node entry = it->second;  // a copy: the iterator's value is a temporary
                OnlyKeys(entry, "system.files." + path, {"content", "readonly", "attributes"});
                if (entry["content"])
                    file.content = Str(entry["content"], "system.files.content");
                if (entry["attributes"])
                    file.attributes = (uint32_t)Int(entry["attributes"], "system.files.attributes", 0, 0xFFFF);
                if (entry["readonly"] && Bool(entry["readonly"], "system.files.readonly"))
                    file.attributes |= 1;
                s.files[path] = file;
            }
        }
        if (n["telephony"]) {
            s.telephony = Str(n["telephony"], "system.telephony");
            if (s.telephony != "location" && s.telephony != "no-location" && s.telephony != "no-function" &&
                s.telephony != "no-library")
                Fail(n["telephony"], "system.telephony", "expected location, no-location, no-function or no-library");
        }
        if (n["dialup"])
            s.dialup = (int)Int(n["dialup"], "system.dialup", 0, 64);
        if (n["sound"]) {
            const YAML::Node &snd = n["sound"];
            OnlyKeys(snd, "system.sound", {"output", "input", "format"});
            if (snd["output"])
                s.sound_output = Bool(snd["output"], "system.sound.output");
            if (snd["input"])
                s.sound_input = Bool(snd["input"], "system.sound.input");
            if (snd["format"])
                s.sound_format = Bool(snd["format"], "system.sound.format");
        }
        if (n["show"]) {
            const YAML::Node &sh = n["show"];
            static const std::pair<const char *, int> names[] = {
                {"hide", 0}, {"normal", 1}, {"minimized", 2}, {"maximized", 3}, {"noactivate", 4}, {"show", 5},
                {"minimize", 6}, {"default", 10}};
            bool found = false;
            for (auto &kv : names)
                if (sh.IsScalar() && sh.Scalar() == kv.first) {
                    s.show = kv.second;
                    found = true;
                }
            if (!found)
                s.show = (int)Int(sh, "system.show", 0, 11);
        }
        if (n["screen"]) {
            const YAML::Node &sc = n["screen"];
            OnlyKeys(sc, "system.screen", {"width", "height"});
            s.screen_width = (int)Int(sc["width"], "system.screen.width", 320, 16384);
            s.screen_height = (int)Int(sc["height"], "system.screen.height", 200, 16384);
        }
    }

    void ReadDriver(const YAML::Node &n, Scenario &s) const
    {
        OnlyKeys(n, "driver", {"voice", "control", "stop", "line", "mic"});
        for (auto it = n.begin(); it != n.end(); ++it)
            s.keys_used.insert("driver." + it->first.Scalar());
        s.voice_at.reset();
        s.control_at.reset();
        if (n["voice"])
            s.voice_at = Seconds(n["voice"], "driver.voice");
        if (n["control"])
            s.control_at = Seconds(n["control"], "driver.control");
        if (n["stop"]) {
            std::string stop = Str(n["stop"], "driver.stop");
            if (stop != "complete" && stop != "hang")
                Fail(n["stop"], "driver.stop", "expected complete or hang");
            s.stop_hangs = stop == "hang";
        }
        if (n["line"])
            s.line = ReadSignal(n["line"], "driver.line");
        if (n["mic"])
            s.mic = ReadSignal(n["mic"], "driver.mic");
    }

    Event ReadEvent(const YAML::Node &n) const
    {
        OnlyKeys(n, "events", {"at", "status", "caller", "hold", "click", "check", "uncheck", "dismiss", "speaker",
                               "voice_status", "voice_error", "power", "devices", "close", "key"});
        Event e;
        e.line = n.Mark().line + 1;
        if (!n["at"])
            Fail(n, "events.at", "every event needs a time");
        e.at = Seconds(n["at"], "events.at");
        static const char *actions[] = {"status", "click", "check", "uncheck", "dismiss", "speaker",
                                        "voice_status", "voice_error", "power", "devices", "close", "key"};
        int count = 0;
        for (const char *a : actions)
            count += n[a] ? 1 : 0;
        if (count != 1)
            Fail(n, "events", "an event needs exactly one of status, click, check, uncheck, dismiss, speaker, "
                              "voice_status, voice_error, power, devices, close, key");
        if ((n["caller"] || n["hold"]) && !n["status"])
            Fail(n, "events.caller", "caller and hold go with status");
        if (n["status"]) {
            e.kind = Event::Status;
            e.status = (uint32_t)Int(n["status"], "events.status", 0, 0xFFFFFFFFll);
            if (n["caller"]) {
                e.caller = Str(n["caller"], "events.caller");
                if (e.caller->size() > 100)
                    Fail(n["caller"], "events.caller", "CallerId holds at most 100 bytes");
            }
            if (n["hold"])
                e.hold = (uint32_t)Int(n["hold"], "events.hold", 0, 0xFFFFFFFFll);
        } else if (n["click"]) {
            e.kind = Event::Click;
            e.control = (int)Int(n["click"], "events.click", -1, 65535);
        } else if (n["check"]) {
            e.kind = Event::Check;
            e.control = (int)Int(n["check"], "events.check", -1, 65535);
        } else if (n["uncheck"]) {
            e.kind = Event::Uncheck;
            e.control = (int)Int(n["uncheck"], "events.uncheck", -1, 65535);
        } else if (n["dismiss"]) {
            e.kind = Event::Dismiss;
            const YAML::Node &d = n["dismiss"];
            if (!d.IsScalar() || d.Scalar().empty())
                Fail(d, "events.dismiss", "expected true or a message box caption");
            const std::string &v = d.Scalar();
            bool boolean = v == "true" || v == "yes" || v == "on" || v == "false" || v == "no" || v == "off";
            if (boolean && !Bool(d, "events.dismiss"))
                Fail(d, "events.dismiss", "only true or a caption has a meaning");
            if (!boolean)
                e.dismiss_caption = v;
        } else if (n["speaker"]) {
            e.kind = Event::Speaker;
            const YAML::Node &sp = n["speaker"];
            OnlyKeys(sp, "events.speaker", {"pD", "rD"});
            e.pD = sp["pD"] ? (int32_t)Int(sp["pD"], "events.speaker.pD", INT32_MIN, 0xFFFFFFFFll) : 0;
            e.rD = sp["rD"] ? (int32_t)Int(sp["rD"], "events.speaker.rD", INT32_MIN, 0xFFFFFFFFll) : 0;
        } else if (n["voice_status"]) {
            e.kind = Event::VoiceStatus;
            e.voice_status = (int32_t)Int(n["voice_status"], "events.voice_status", INT32_MIN, INT32_MAX);
        } else if (n["voice_error"]) {
            e.kind = Event::VoiceError;
            e.voice_error = (uint32_t)Int(n["voice_error"], "events.voice_error", 1, 0xFFFFFFFFll);
        } else if (n["power"]) {
            e.kind = Event::Power;
            const YAML::Node &p = n["power"];
            if (p.IsScalar() && p.Scalar() == "query-suspend")
                e.power = 0;
            else if (p.IsScalar() && p.Scalar() == "resume")
                e.power = 7;
            else
                e.power = (uint32_t)Int(p, "events.power", 0, 0xFFFFFFFFll);
        } else if (n["devices"]) {
            e.kind = Event::Devices;
            const YAML::Node &d = n["devices"];
            OnlyKeys(d, "events.devices", {"voice", "control"});
            auto presence = [&](const char *k) -> std::optional<bool> {
                if (!d[k])
                    return std::nullopt;
                std::string v = Str(d[k], std::string("events.devices.") + k);
                if (v != "present" && v != "absent")
                    Fail(d[k], std::string("events.devices.") + k, "expected present or absent");
                return v == "present";
            };
            e.voice_present = presence("voice");
            e.control_present = presence("control");
        } else if (n["key"]) {
            e.kind = Event::Key;
            e.key = Str(n["key"], "events.key");
            if (!ParseKeyStroke(e.key))
                Fail(n["key"], "events.key",
                     "expected a letter, a digit, Space, Enter, Escape, Tab or Backspace, after Alt+ or not");
        } else {
            e.kind = Event::Close;
            if (!Bool(n["close"], "events.close"))
                Fail(n["close"], "events.close", "only true has a meaning");
        }
        return e;
    }
};

}  // namespace

Scenario ParseScenario(const std::string &yaml_text, const std::string &file_name)
{
    Reader r{file_name};
    YAML::Node root;
    try {
        root = YAML::Load(yaml_text);
    } catch (const YAML::Exception &e) {
        std::ostringstream s;
        s << file_name << ":" << e.mark.line + 1 << ": " << e.msg;
        throw ScenarioError(s.str());
    }
    Scenario s;
    s.file = file_name;
    if (root.IsNull())
        root = YAML::Node(YAML::NodeType::Map);
    r.OnlyKeys(root, "", {"name", "system", "driver", "faults", "events", "end", "trace", "schedule"});
    for (auto it = root.begin(); it != root.end(); ++it)
        s.keys_used.insert(it->first.Scalar());
    if (root["name"])
        s.name = r.Str(root["name"], "name");
    if (root["system"])
        r.ReadSystem(root["system"], s);
    if (root["driver"])
        r.ReadDriver(root["driver"], s);
    if (root["faults"]) {
        const YAML::Node &f = root["faults"];
        if (!f.IsSequence())
            r.Fail(f, "faults", "expected a list");
        for (const auto &item : f) {
            r.OnlyKeys(item, "faults", {"call", "nth", "count", "error"});
            FaultSpec fault;
            if (!item["call"])
                r.Fail(item, "faults.call", "a fault names the call it fails");
            fault.call = r.Str(item["call"], "faults.call");
            const CallInfo *known = FindCall(fault.call);
            if (!known)
                r.Fail(item["call"], "call", "unknown call '" + fault.call + "'");
            if (known->report == CallInfo::Refuses)
                r.Fail(item["call"], "call",
                       "'" + fault.call + "' cannot be failed: " + known->failure);
            if (item["nth"])
                fault.nth = (int)r.Int(item["nth"], "faults.nth", 1, 1000000000);
            if (item["count"])
                fault.count = (int)r.Int(item["count"], "faults.count", 1, 1000000000);
            if (item["error"])
                fault.error = (uint32_t)r.Int(item["error"], "faults.error", 0, 0xFFFFFFFFll);
            s.faults.push_back(fault);
        }
    }
    Ms last = 0;
    if (root["events"]) {
        const YAML::Node &ev = root["events"];
        if (!ev.IsSequence())
            r.Fail(ev, "events", "expected a list");
        for (const auto &item : ev) {
            s.events.push_back(r.ReadEvent(item));
            r.CheckSystemSends(item, s.events.back(), s);
            last = std::max(last, s.events.back().at);
        }
    }
    s.end = root["end"] ? r.Seconds(root["end"], "end") : last + 5000;
    if (root["trace"]) {
        const YAML::Node &t = root["trace"];
        if (!t.IsSequence())
            r.Fail(t, "trace", "expected a list of details, e.g. [ioctl]");
        for (const auto &item : t) {
            std::string what = r.Str(item, "trace");
            if (what != "ioctl" && what != "read")
                r.Fail(item, "trace", "unknown detail '" + what + "' (ioctl, read)");
            s.trace.insert(what);
        }
    }
    if (root["schedule"]) {
        r.OnlyKeys(root["schedule"], "schedule", {"preempt"});
        if (root["schedule"]["preempt"])
            s.preempt_seed = (uint64_t)r.Int(root["schedule"]["preempt"], "schedule.preempt", 0, INT64_MAX);
    }
    return s;
}

const char *WindowsName(const Scenario &s)
{
    for (const KnownWindows &k : kKnownWindows)
        if (s.platform == k.platform && s.major == k.major && s.minor == k.minor)
            return k.name;
    return nullptr;
}

Scenario LoadScenario(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw ScenarioError(path + ": cannot read the file");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        throw ScenarioError(path + ": cannot read the file");
    return ParseScenario(text.str(), path);
}

}  // namespace sim
