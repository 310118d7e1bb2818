// How much faster than real time the world plays the program: a 60-minute run with both devices up
// and a status change every 10 seconds. Each run is a fresh process, as the runner's are.
#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "play.h"

namespace {

std::string HourScenario()
{
    std::string yaml = "driver: {voice: 0, control: 0}\nend: 3601\nevents:\n";
    static const char *statuses[] = {"0x60", "0x80", "0", "0x10", "0x200", "0"};
    for (int s = 10, i = 0; s < 3600; s += 10, ++i)
        yaml += "  - {at: " + std::to_string(s) + ", status: " + statuses[i % 6] + ", caller: \"555 0100\", hold: 600}\n";
    yaml += "  - {at: 3600, close: true}\n";
    return yaml;
}

void PlayInChild(const sim::Scenario &scenario)
{
    pid_t pid = fork();
    if (pid == 0) {
        sim::PlayOptions options;
        options.sink = [](const std::string &) {};
        sim::Play(scenario, options);
    }
    int status = 0;
    waitpid(pid, &status, 0);
}

void BM_SixtyMinuteCall(benchmark::State &state)
{
    sim::Scenario scenario = sim::ParseScenario(HourScenario(), "hour.yaml");
    double virtual_ms = 3600.0 * 1000;
    double real_ms = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        PlayInChild(scenario);
        real_ms += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    }
    state.counters["speedup_x"] = virtual_ms * state.iterations() / real_ms;
}
BENCHMARK(BM_SixtyMinuteCall)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
