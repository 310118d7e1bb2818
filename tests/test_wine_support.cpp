// Wine sessions for the Wine suites.
#include "test_wine_support.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include <nlohmann/json.hpp>

namespace wine {

namespace {

int g_lock = -1;

// Runs a shell command with its output sent to a file (never a pipe: a wine command that starts
// services keeps a pipe open); returns the exit status.
int Shell(const std::string &command, const std::string &output)
{
    std::string line = command + " >" + output + " 2>&1 </dev/null";
    int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

}  // namespace

std::string Slurp(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string WithSequence(const std::string &yaml)
{
    static const std::regex signal(R"(\b(line|mic): *(\{[^}]*\}|[^,}\s#]+))");
    return std::regex_replace(yaml, signal, "$1: sequence");
}

std::string AudioFaults(const std::string &audio_json, bool sound)
{
    nlohmann::json audio = nlohmann::json::parse(audio_json, nullptr, false);
    if (audio.is_discarded() || !audio.contains("out") || !audio.contains("in"))
        return "no audio event";
    std::string faults;
    for (const char *dir : {"out", "in"}) {
        const nlohmann::json &d = audio[dir];
        long long samples = d.value("samples", -1LL), matching = d.value("matching", -1LL);
        // A stretch lost while the machine itself stood still (a processor taken away from it, seen
        // by the harness's watch) is the machine's: each such loss leaves one sample out of place.
        long long stalled = d.value("losses_in_stalls", 0LL), stalled_samples = d.value("lost_in_stalls", 0LL);
        if (samples - matching != stalled || d.value("lost", -1LL) != stalled_samples || d.value("repeated", -1LL) != 0)
            faults += std::string(dir) + ": " + std::to_string(matching) + " of " + std::to_string(samples) +
                      " samples in their place, " + std::to_string(d.value("lost", -1LL)) + " lost, " +
                      std::to_string(d.value("repeated", -1LL)) + " repeated " +
                      (d.contains("faults") ? d["faults"].dump() : "") + "\n";
        if (sound && samples <= 0)
            faults += std::string(dir) + ": nothing compared\n";
    }
    return faults;
}

std::string AudioFigures(const std::string &audio_json)
{
    nlohmann::json audio = nlohmann::json::parse(audio_json, nullptr, false);
    if (audio.is_discarded())
        return "no audio event";
    std::string out;
    for (const char *dir : {"out", "in"}) {
        const nlohmann::json &d = audio[dir];
        char line[256];
        snprintf(line, sizeof(line), "%s %lld/%lld samples matching, %d starts, %d silences (%.1f ms), starts at ", dir,
                 d.value("matching", -1LL), d.value("samples", -1LL), d.value("sessions", -1),
                 (int)d.value("silences", -1), d.value("silence_ms", -1.0));
        out += (out.empty() ? "" : "; ") + std::string(line) + d.value("start_ms", nlohmann::json::array()).dump() + " ms";
        if (d.value("lost_in_stalls", 0LL))
            out += ", " + std::to_string(d.value("lost_in_stalls", 0LL)) + " lost while the machine stood still";
    }
    if (audio.contains("machine")) {
        const nlohmann::json &m = audio["machine"];
        char line[160];
        if (m.value("watched", false))
            snprintf(line, sizeof(line), "; the machine stood still %d times (%.1f ms, the longest %.1f ms)",
                     (int)m.value("stalls", 0), m.value("stall_ms", 0.0), m.value("worst_ms", 0.0));
        else
            snprintf(line, sizeof(line), "; the machine was not watched for stalls");
        out += line;
    }
    return out;
}

std::string SourceDir() { return VUDIZERI_SOURCE_DIR; }
std::string Arch()
{
    const char *arch = std::getenv("WINE_ARCH");
    return arch && std::string(arch) == "win32" ? "win32" : "win64";
}

std::string OutDir() { return SourceDir() + (Arch() == "win32" ? "/build/wine32" : "/build/wine"); }

std::string Program() { return SourceDir() + "/build/" + Arch() + "/bin/vudizeri.exe"; }

bool Available()
{
    if (Arch() == "win32")
        return access("/usr/lib/wine/wine", X_OK) == 0 && access("/proc/sys/fs/binfmt_misc/qemu-i386", R_OK) == 0 &&
               std::system("command -v i686-w64-mingw32-gcc >/dev/null 2>&1 && command -v Xvfb >/dev/null 2>&1") == 0;
    return access("/usr/lib/wine/wine64", X_OK) == 0 &&
           std::system("command -v x86_64-w64-mingw32-gcc >/dev/null 2>&1 && command -v Xvfb >/dev/null 2>&1") == 0;
}

Session::Session()
{
    mkdir((SourceDir() + "/build").c_str(), 0755);
    mkdir(OutDir().c_str(), 0755);
    g_lock = open((OutDir() + "/.session.lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    if (g_lock < 0 || flock(g_lock, LOCK_EX) != 0) {
        log = "cannot lock the prefix";
        return;
    }
    std::string tools = SourceDir() + "/tools/wine/";
    std::string out = OutDir() + "/session.log";
    if (Shell(tools + "build.sh", out) != 0 || Shell(tools + "start.sh", out + ".start") != 0) {
        log = Slurp(out) + Slurp(out + ".start");
        return;
    }
    ok = true;
}

Session::~Session()
{
    Shell(SourceDir() + "/tools/wine/stop.sh", OutDir() + "/stop.log");
    if (g_lock >= 0) {
        flock(g_lock, LOCK_UN);
        close(g_lock);
        g_lock = -1;
    }
}

std::string Session::Run(const std::string &command_line, int seconds, int *status)
{
    std::string out = OutDir() + "/run.out";
    std::string line = "cd " + OutDir() + " && . " + SourceDir() + "/tools/wine/env.sh && timeout " +
                       std::to_string(seconds) + " \"$WINE\" " + command_line;
    int s = Shell("bash -c '" + line + "'", out);
    if (status)
        *status = s;
    std::string text = Slurp(out);
    std::string clean;
    for (char c : text)
        if (c != '\r')
            clean += c;  // a Windows console program ends its lines with CR LF
    return clean;
}

}  // namespace wine
