// Test support: scenarios and worlds run in fresh child processes.
#ifndef TESTS_SUPPORT_H
#define TESTS_SUPPORT_H

#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace support {

using Json = nlohmann::ordered_json;

struct Run {
    int status = -1;               // exit status of the child (0 when the scenario ran to its end)
    std::vector<Json> events;      // the trace
    std::string error;             // what the child wrote to stderr
    // The events named ev, in order.
    std::vector<Json> Of(const std::string &ev) const;
    // The first event named ev that has every key/value of `match`; null when none.
    Json Find(const std::string &ev, const Json &match = Json::object()) const;
    // The whole trace, one line per event, for failure messages.
    std::string Dump() const;
};

// Plays a scenario given as YAML text in a fresh process, as the runner does.
Run Play(const std::string &yaml);

// Runs body in a fresh process (a world of its own); gtest failures inside it fail the child, and the
// child's exit status says whether it passed. Returns what the child wrote to stderr when it failed.
bool InChild(const std::function<void()> &body, std::string *output = nullptr);

// Runs body as the program's main thread of a fresh world (an hour of virtual time at most), in a
// child process; true when no check inside it failed.
bool InWorld(const std::function<void()> &body);

// The text of a bundled scenario file (scenarios/NAME); a test failure when it is missing or empty.
std::string BundledScenario(const std::string &name);

}  // namespace support

#endif
