// vudizeri-sim: plays a scenario against the real program in the world and writes the trace.
#include <cstdio>
#include <cstring>
#include <string>

#include <nlohmann/json.hpp>

#include "play.h"

namespace {

int Usage()
{
    fprintf(stderr,
            "usage: vudizeri-sim [--format json|text] [--calls] [--wav-speaker FILE] [--wav-line FILE] SCENARIO.yaml\n");
    return 2;
}

// One trace object as one line of a readable timeline.
std::string TextLine(const std::string &json_line)
{
    auto j = nlohmann::ordered_json::parse(json_line);
    char head[64];
    long long t = j["t"].get<long long>();
    snprintf(head, sizeof(head), "%7lld.%03lld s  %-18s", t / 1000, t % 1000, j["ev"].get<std::string>().c_str());
    std::string line = head;
    for (auto &item : j.items()) {
        if (item.key() == "t" || item.key() == "ev")
            continue;
        // Texts as JSON writes them: a line break inside one is "\r\n", so each event stays on its line.
        line += " " + item.key() + "=" + item.value().dump();
    }
    return line;
}

}  // namespace

int main(int argc, char **argv)
{
    std::string format = "json", path;
    sim::PlayOptions options;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if ((a == "--format" || a == "--wav-speaker" || a == "--wav-line") && i + 1 < argc) {
            std::string v = argv[++i];
            if (a == "--format")
                format = v;
            else if (a == "--wav-speaker")
                options.wav_speaker = v;
            else
                options.wav_line = v;
        } else if (a == "--calls") {
            options.calls = true;
        } else if (!a.empty() && a[0] == '-') {
            return Usage();
        } else if (path.empty()) {
            path = a;
        } else {
            return Usage();
        }
    }
    if (path.empty() || (format != "json" && format != "text"))
        return Usage();

    try {
        sim::Scenario scenario = sim::LoadScenario(path);
        if (format == "json")
            options.sink = [](const std::string &line) {
                fputs(line.c_str(), stdout);
                fputc('\n', stdout);
            };
        else
            options.sink = [](const std::string &line) { puts(TextLine(line).c_str()); };
        sim::Play(scenario, options);
    } catch (const sim::ScenarioError &e) {
        fprintf(stderr, "vudizeri-sim: %s\n", e.what());
        return 2;
    }
}
