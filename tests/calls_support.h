// Helpers for the call-notification tests: scenarios with both devices present, and the trace's
// call events as short lines to compare with an expected table.
#ifndef TESTS_CALLS_SUPPORT_H
#define TESTS_CALLS_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support.h"

namespace calls {

using support::Json;
using Trace = support::Run;

// A scenario: both devices present from the start (the poll ticks at 1 s, 2 s, ...), the given
// events (YAML list items, one per line, each starting with "  - "), and the window closed at
// close_at seconds. `system` is a YAML flow mapping for the system key, or empty.
inline std::string Scenario(const std::string &events, double close_at, const std::string &system = "")
{
    char close[64];
    snprintf(close, sizeof(close), "  - {at: %g, close: true}\n", close_at);
    std::string yaml = "driver: {voice: 0, control: 0}\n";
    if (!system.empty())
        yaml += "system: " + system + "\n";
    return yaml + "events:\n" + events + close;
}

// One short line per call event: "3000 dialog 103", "4000 text 1002 01:29", "5000 response 4",
// "5000 closed 103", "6000 messagebox 1", "7000 messagebox-closed 1", "4500 user click 1 ok".
inline std::vector<std::string> CallEvents(const Trace &run)
{
    std::vector<std::string> out;
    for (const Json &e : run.events) {
        std::string ev = e["ev"];
        std::string line = std::to_string(e["t"].get<long long>()) + " " + ev;
        if (ev == "dialog" || ev == "closed")
            line += " " + e["template"].dump();
        else if (ev == "text")
            line += " " + e["control"].dump() + " " + e["text"].get<std::string>();
        else if (ev == "response")
            line += " " + e["code"].dump();
        else if (ev == "messagebox" || ev == "messagebox-closed")
            line += " " + e["depth"].dump();
        else if (ev == "user")
            line += " " + e["action"].get<std::string>() + (e.contains("control") ? " " + e["control"].dump() : "")
                    + (e["ok"] == true ? " ok" : " refused");
        else
            continue;
        out.push_back(line);
    }
    return out;
}

inline std::string Lines(const std::vector<std::string> &lines)
{
    std::string s;
    for (auto &l : lines)
        s += "  " + l + "\n";
    return s;
}

// Compares the run's call events with the expected table, printing both when they differ.
inline void ExpectCalls(const Trace &run, const std::vector<std::string> &expected)
{
    std::vector<std::string> actual = CallEvents(run);
    EXPECT_EQ(actual, expected) << "expected:\n" << Lines(expected) << "actual:\n" << Lines(actual);
}

// The first "dialog" event, or null.
inline Json FirstDialog(const Trace &run) { return run.Find("dialog"); }

}  // namespace calls

#endif
