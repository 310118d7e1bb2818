// Fidelity: every bundled scenario that the Wine prefix can be made to play, played both ways (the
// world's runner and the real x86_64 program under Wine with the driver double), gives the same
// observable events in the same order, at times within a tolerance. What cannot match, and why, is
// listed in tools/wine/fidelity.md; the comparison below leaves out exactly those keys and events.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "scenario.h"
#include "test_wine_support.h"

namespace {

using Json = nlohmann::ordered_json;

constexpr long kToleranceMs = 600;    // the poll's 1 s tick, placed against real time
// The emulated i686 program answers later under load (a dialog seen up to some 700 ms after its tick
// on a busy machine); still less than one tick, so a poll a whole second off is caught on both builds.
constexpr long kEmulatedToleranceMs = 900;
// The emulated i686 program reaches its start-up chores' WinExec (after the device link and loading
// the telephony library) some 0.6 s after its start, where the world takes no time at all.
constexpr long kEmulatedExecToleranceMs = 1200;
constexpr long kLongestRealTimeMs = 40000;

long Tolerance(const std::string &kind)
{
    if (wine::Arch() != "win32")
        return kToleranceMs;
    return kind == "exec" ? kEmulatedExecToleranceMs : kEmulatedToleranceMs;
}

// The keys compared for each event the controller can observe; other events are not compared.
const std::map<std::string, std::vector<std::string>> kCompared = {
    {"window", {"class", "title", "visible"}},
    {"dialog", {"template", "title", "topmost", "controls"}},
    {"shown", {"window", "visible"}},
    {"text", {"template", "control", "text"}},
    {"closed", {"template"}},
    {"response", {"code", "status", "hold", "caller"}},
    {"messagebox", {"owner", "caption", "bytes", "depth"}},
    {"messagebox-closed", {"caption", "depth"}},
    {"power", {"event", "answer", "result"}},
    {"user", {"action", "control", "ok"}},
    {"stream", {"dir", "state"}},
    {"exit", {"code"}},
    {"exec", {"program"}},
    {"file-final", {"path", "exists", "attributes", "content"}},
};

using wine::Slurp;

std::vector<Json> Parse(const std::string &text)
{
    std::vector<Json> out;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line[0] == '{')
            out.push_back(Json::parse(line));
    return out;
}

std::string Upper(std::string s)
{
    for (char &c : s)
        c = (char)std::toupper((unsigned char)c);
    return s;
}

std::string Hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes)
        out += std::string(1, digits[c >> 4]) + digits[c & 15];
    return out;
}

// What the world's run left of the scenario's files (the controller reports them so under Wine as
// `file-final`): the files the scenario names, as its `file` events changed them.
std::vector<Json> WorldFilesAtTheEnd(const sim::Scenario &s, const std::vector<Json> &events)
{
    struct State {
        bool exists = true;
        uint32_t attributes = 0;
        std::string content;
    };
    std::map<std::string, State> files;
    for (const auto &f : s.files)
        files[Upper(f.first)] = State{true, f.second.attributes, f.second.content};
    for (const Json &e : events) {
        if (e.value("ev", "") != "file" || !e.value("ok", false))
            continue;
        std::string path = Upper(e["path"]), op = e["op"];
        if (op == "attributes")
            files[path].attributes = e["attributes"];
        else if (op == "delete")
            files[path].exists = false;
        else if (op == "copy")
            files[path] = State{true, e["attributes"], files[Upper(e["from"])].content};
    }
    std::vector<Json> out;
    for (const auto &f : s.files) {
        const State &st = files[Upper(f.first)];
        Json o = {{"t", 0}, {"ev", "file-final"}, {"path", f.first}, {"exists", st.exists}};
        if (st.exists) {
            o["attributes"] = st.attributes;
            o["content"] = Hex(st.content);
        }
        out.push_back(o);
    }
    return out;
}

// The observable events: the compared kinds with the compared keys, and only the successful device
// opens (a failed open never reaches a driver under Wine). A program started is known by its file
// name; the files at the end have no time of their own.
std::vector<Json> Observable(const std::vector<Json> &events)
{
    std::vector<Json> out;
    for (Json e : events) {
        std::string ev = e.value("ev", "");
        if (ev == "exec" && e.contains("command")) {
            std::string command = e["command"];
            std::string program = command.substr(0, command.find(' '));
            for (char &c : program)
                c = (char)std::tolower((unsigned char)c);
            e["program"] = program;
        }
        if (ev == "file-final") {
            e["t"] = 0;
            e["path"] = Upper(e["path"]);
        }
        if (ev == "device" && e.value("ok", false)) {
            out.push_back({{"t", e["t"]}, {"ev", ev}, {"name", e["name"]}});
            continue;
        }
        auto it = kCompared.find(ev);
        if (it == kCompared.end())
            continue;
        Json o = {{"t", e["t"]}, {"ev", ev}};
        for (const std::string &k : it->second)
            o[k] = e.contains(k) ? e[k] : Json();
        out.push_back(o);
    }
    return out;
}

// A text set in the same instant as its dialog closes (the countdown's last "00:00") is gone before
// anything outside the program can look at it: the world's trace has it, and Wine's has it only when
// the dialog's destruction takes long enough for the controller to look in between (the emulated i686
// program took 32 ms once), so a text of a dialog that closes within that long is left out.
std::vector<Json> WithoutUnseeableTexts(const std::vector<Json> &events, long within)
{
    std::vector<Json> out;
    for (const Json &e : events) {
        bool unseeable = false;
        if (e["ev"] == "text")
            for (const Json &c : events) {
                long after = c["t"].get<long>() - e["t"].get<long>();
                unseeable = unseeable || (c["ev"] == "closed" && after >= 0 && after <= within &&
                                          c["template"] == e["template"]);
            }
        if (!unseeable)
            out.push_back(e);
    }
    return out;
}

// A stream stopped and started again in the same instant (a request that keeps it on) may fall
// between two looks of the driver double at the block: the world's pair is left out, and so is one
// that Wine happened to see.
std::vector<Json> WithoutInstantRestarts(const std::vector<Json> &events, long within)
{
    std::vector<Json> out;
    std::vector<bool> drop(events.size(), false);
    for (size_t i = 0; i < events.size(); ++i) {
        if (events[i]["ev"] != "stream" || events[i]["state"] != "closed")
            continue;
        for (size_t j = i + 1; j < events.size(); ++j)
            if (events[j]["ev"] == "stream" && events[j]["dir"] == events[i]["dir"] &&
                events[j]["state"] == "running" &&
                events[j]["t"].get<long>() - events[i]["t"].get<long>() <= within) {
                drop[i] = drop[j] = true;
                break;
            }
    }
    for (size_t i = 0; i < events.size(); ++i)
        if (!drop[i])
            out.push_back(events[i]);
    return out;
}

std::string Dump(const std::vector<Json> &events)
{
    std::string out;
    for (const Json &e : events)
        out += "  " + e.dump() + "\n";
    return out;
}

// Compares kind by kind, in order: the same events with the same keys, times within the tolerance.
// Returns what differs, empty when nothing does.
std::string Compare(const std::vector<Json> &world, const std::vector<Json> &wine)
{
    std::set<std::string> kinds;
    for (auto &e : world)
        kinds.insert(e["ev"].get<std::string>());
    for (auto &e : wine)
        kinds.insert(e["ev"].get<std::string>());
    std::string out;
    for (const std::string &kind : kinds) {
        std::vector<Json> a, b;
        for (auto &e : world)
            if (e["ev"] == kind)
                a.push_back(e);
        for (auto &e : wine)
            if (e["ev"] == kind)
                b.push_back(e);
        size_t n = std::max(a.size(), b.size());
        for (size_t i = 0; i < n; ++i) {
            if (i >= a.size() || i >= b.size()) {
                out += kind + " #" + std::to_string(i) + ": only " + (i >= a.size() ? "under Wine: " + b[i].dump()
                                                                                    : "in the world: " + a[i].dump()) +
                       "\n";
                continue;
            }
            Json x = a[i], y = b[i];
            long dt = std::labs(x["t"].get<long>() - y["t"].get<long>());
            x.erase("t");
            y.erase("t");
            if (x != y)
                out += kind + " #" + std::to_string(i) + ": world " + a[i].dump() + " / Wine " + b[i].dump() + "\n";
            else if (dt > Tolerance(kind))
                out += kind + " #" + std::to_string(i) + ": " + std::to_string(dt) + " ms apart: world " +
                       a[i].dump() + " / Wine " + b[i].dump() + "\n";
        }
    }
    return out;
}

int Shell(const std::string &command)
{
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

std::string BinDir()
{
    std::string runner = VUDIZERI_RUNNER;
    return runner.substr(0, runner.rfind('/'));
}

TEST(WineFidelity, CompareFindsWhatDiffers)
{
    // The comparison itself: a changed key, a late event and a missing one are all reported.
    std::vector<Json> world = {{{"t", 1000}, {"ev", "closed"}, {"template", 103}},
                               {{"t", 2000}, {"ev", "response"}, {"code", 2}}};
    EXPECT_EQ(Compare(world, world), "");
    std::vector<Json> late = {{{"t", 1000 + Tolerance("closed") + 1}, {"ev", "closed"}, {"template", 103}},
                              {{"t", 2000}, {"ev", "response"}, {"code", 2}}};
    EXPECT_NE(Compare(world, late).find("ms apart"), std::string::npos);
    std::vector<Json> changed = {{{"t", 1000}, {"ev", "closed"}, {"template", 102}},
                                 {{"t", 2000}, {"ev", "response"}, {"code", 2}}};
    EXPECT_NE(Compare(world, changed).find("closed #0"), std::string::npos);
    std::vector<Json> missing = {{{"t", 1000}, {"ev", "closed"}, {"template", 103}}};
    EXPECT_NE(Compare(world, missing).find("only in the world"), std::string::npos);
    // Only a text set as its own dialog closes is left out.
    std::vector<Json> texts = {{{"t", 900}, {"ev", "text"}, {"template", 103}},
                               {{"t", 1000}, {"ev", "text"}, {"template", 103}},
                               {{"t", 1000}, {"ev", "text"}, {"template", 102}},
                               {{"t", 1000}, {"ev", "closed"}, {"template", 103}}};
    std::vector<Json> kept = WithoutUnseeableTexts(texts, 0);
    ASSERT_EQ(kept.size(), 3u) << Dump(kept);
    EXPECT_EQ(kept[0]["t"], 900);
    EXPECT_EQ(kept[1]["template"], 102);
    // Under Wine, one the controller read just before the dialog went.
    texts[1]["t"] = 968;
    EXPECT_EQ(WithoutUnseeableTexts(texts, 0).size(), 4u);
    kept = WithoutUnseeableTexts(texts, 50);
    ASSERT_EQ(kept.size(), 3u) << Dump(kept);
    EXPECT_EQ(kept[0]["t"], 900);
    // Only a stop and start of the same stream close together is left out.
    std::vector<Json> streams = {{{"t", 1000}, {"ev", "stream"}, {"dir", "out"}, {"state", "running"}},
                                 {{"t", 4000}, {"ev", "stream"}, {"dir", "out"}, {"state", "closed"}},
                                 {{"t", 4000}, {"ev", "stream"}, {"dir", "in"}, {"state", "running"}},
                                 {{"t", 4010}, {"ev", "stream"}, {"dir", "out"}, {"state", "running"}},
                                 {{"t", 7000}, {"ev", "stream"}, {"dir", "out"}, {"state", "closed"}}};
    EXPECT_EQ(WithoutInstantRestarts(streams, 0).size(), 5u);
    std::vector<Json> seen = WithoutInstantRestarts(streams, 50);
    ASSERT_EQ(seen.size(), 3u) << Dump(seen);
    EXPECT_EQ(seen[1]["dir"], "in");
}

TEST(WineFidelity, BundledScenariosMatchTheWorld)
{
    if (!wine::Available())
        GTEST_SKIP() << "Wine is not installed";
    std::string exe = wine::Program();
    std::string lines = BinDir() + "/vudizeri-wine-lines";
    if (access(exe.c_str(), R_OK) != 0)
        GTEST_SKIP() << "no program " << wine::Program() << ": cmake --build --preset " << wine::Arch();
    ASSERT_EQ(access(lines.c_str(), X_OK), 0) << lines;

    std::vector<std::string> files;
    std::string dir = wine::SourceDir() + "/scenarios";
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() > 5 && name.substr(name.size() - 5) == ".yaml")
                files.push_back(name);
        }
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());
    std::string out = wine::OutDir();
    // The scenarios whose outcome the system's version decides (the applet restored on NT 5 only; the
    // dial-up library asked below NT 5 only) are played on every version Wine can tell a 32-bit
    // program too, world and Wine told the same.
    // A scenario that makes sound is played with the sequence on the line and at the microphone, in
    // the world and under Wine alike, so that every sample heard or taken tells where it stands.
    std::vector<std::string> paths;
    for (const std::string &name : files) {
        std::string text = Slurp(dir + "/" + name);
        if (text.find("speaker:") == std::string::npos) {
            paths.push_back(dir + "/" + name);
            continue;
        }
        std::string path = out + "/" + name;
        std::ofstream(path) << wine::WithSequence(text);
        paths.push_back(path);
    }
    for (const char *name : {"chores-applet-win98.yaml", "suspend-win98-one-connection.yaml"})
        for (const char *version : {"95", "me", "nt4", "2000", "xp"}) {
            // NT 4 sends no power event: a suspend scenario on it is no scenario at all.
            if (std::string(name).rfind("suspend", 0) == 0 && std::string(version) == "nt4")
                continue;
            std::string text = Slurp(dir + "/" + name);
            size_t at = text.find("windows: 98");
            ASSERT_NE(at, std::string::npos) << name;
            text.replace(at, 11, std::string("windows: ") + version);
            std::string path = out + "/on-" + version + "-" + name;
            std::ofstream(path) << text;
            paths.push_back(path);
        }

    wine::Session session;
    ASSERT_TRUE(session.ok) << session.log;
    int played = 0;
    std::map<std::string, int> equal, differing;  // scenarios per Windows version
    for (const std::string &path : paths) {
        std::string name = path.substr(path.rfind('/') + 1);
        int status = Shell(lines + " " + path + " >" + out + "/fidelity.lines 2>" + out + "/fidelity.why");
        if (status == 3)
            continue;  // needs what the prefix cannot have: listed in tools/wine/fidelity.md
        ASSERT_EQ(status, 0) << name << ": " << Slurp(out + "/fidelity.why");
        std::string lines_text = Slurp(out + "/fidelity.lines");
        long end = std::atol(lines_text.substr(lines_text.find("\nend ") + 5).c_str());
        if (end > kLongestRealTimeMs)
            continue;
        SCOPED_TRACE(name);
        ASSERT_EQ(Shell(std::string(VUDIZERI_RUNNER) + " " + path + " >" + out + "/fidelity.world 2>&1"), 0)
            << Slurp(out + "/fidelity.world");
        ASSERT_EQ(Shell(wine::SourceDir() + "/tools/wine/play.sh " + path + " >" + out + "/fidelity.wine 2>" + out +
                        "/fidelity.err"),
                  0)
            << Slurp(out + "/fidelity.err");
        std::vector<Json> world_trace = Parse(Slurp(out + "/fidelity.world"));
        for (const Json &f : WorldFilesAtTheEnd(sim::LoadScenario(path), world_trace))
            world_trace.push_back(f);
        std::vector<Json> world = WithoutInstantRestarts(WithoutUnseeableTexts(Observable(world_trace), 0), 0);
        // The emulated i686 program takes longer to reopen a stream, or to destroy a dialog.
        long instant = wine::Arch() == "win32" ? 400 : 50;
        std::vector<Json> wine_events = WithoutInstantRestarts(
            WithoutUnseeableTexts(Observable(Parse(Slurp(out + "/fidelity.wine"))), instant), instant);
        ASSERT_FALSE(wine_events.empty()) << "nothing observed under Wine; controller said:\n"
                                          << Slurp(out + "/play.err");
        std::string differences = Compare(world, wine_events);
        EXPECT_EQ(differences, "") << "world:\n" << Dump(world) << "Wine:\n" << Dump(wine_events);
        // The sound: under Wine as in the world, every sample heard is one the driver double wrote, in
        // order, and every sample it took is the microphone's, in order; the sound server's own
        // silences are reported, not counted. Both sides saw the same starts.
        Json world_audio, wine_audio;
        for (const Json &e : world_trace)
            if (e.value("ev", "") == "audio")
                world_audio = e;
        for (const Json &e : Parse(Slurp(out + "/fidelity.wine")))
            if (e.value("ev", "") == "audio")
                wine_audio = e;
        ASSERT_FALSE(wine_audio.is_null()) << "no audio event under Wine:\n" << Slurp(out + "/fidelity.err");
        bool sound = !world_audio.is_null() && world_audio["out"]["samples"].get<long>() > 0;
        if (sound) {
            EXPECT_EQ(world_audio["out"]["matching"], world_audio["out"]["samples"]) << world_audio.dump();
            EXPECT_EQ(world_audio["in"]["matching"], world_audio["in"]["samples"]) << world_audio.dump();
            for (const char *dir : {"out", "in"})
                EXPECT_EQ(wine_audio[dir]["sessions"], world_audio[dir]["sessions"])
                    << dir << ": world " << world_audio.dump() << " / Wine " << wine_audio.dump();
        }
        EXPECT_EQ(wine::AudioFaults(wine_audio.dump(), sound), "") << wine_audio.dump();
        if (sound) {
            std::printf("audio of %s, world: out %ld/%ld, in %ld/%ld samples matching\n", name.c_str(),
                        world_audio["out"]["matching"].get<long>(), world_audio["out"]["samples"].get<long>(),
                        world_audio["in"]["matching"].get<long>(), world_audio["in"]["samples"].get<long>());
            std::printf("audio of %s, %s under Wine: %s\n", name.c_str(), wine::Arch().c_str(),
                        wine::AudioFigures(wine_audio.dump()).c_str());
        }
        played++;
        std::string version = lines_text.substr(lines_text.find("\nwindows ") + 9);
        version = version.substr(0, version.find('\n'));
        (differences.empty() ? equal : differing)[version]++;
        std::printf("played both ways on Windows %s: %s: %s\n", version.c_str(), name.c_str(),
                    differences.empty() ? "equal" : "differing");
    }
    std::set<std::string> versions;
    for (auto &[v, n] : equal)
        versions.insert(v);
    for (auto &[v, n] : differing)
        versions.insert(v);
    for (const std::string &v : versions)
        std::printf("%s program, Windows %s: %d played, %d equal, %d differing\n", wine::Arch().c_str(), v.c_str(),
                    equal[v] + differing[v], equal[v], differing[v]);
    EXPECT_GE(played, 5) << "fewer bundled scenarios than expected were played under Wine";
}

}  // namespace
