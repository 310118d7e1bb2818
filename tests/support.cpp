#include "support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "play.h"
#include "world.h"

namespace support {

namespace {

std::string ReadAll(int fd)
{
    std::string out;
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof(buf));
        if (n <= 0)
            break;
        out.append(buf, (size_t)n);
    }
    return out;
}

}  // namespace

std::vector<Json> Run::Of(const std::string &ev) const
{
    std::vector<Json> out;
    for (auto &e : events)
        if (e["ev"] == ev)
            out.push_back(e);
    return out;
}

Json Run::Find(const std::string &ev, const Json &match) const
{
    for (auto &e : events) {
        if (e["ev"] != ev)
            continue;
        bool ok = true;
        for (auto &item : match.items())
            ok = ok && e.contains(item.key()) && e[item.key()] == item.value();
        if (ok)
            return e;
    }
    return nullptr;
}

std::string Run::Dump() const
{
    std::string out;
    for (auto &e : events)
        out += e.dump() + "\n";
    if (!error.empty())
        out += "stderr: " + error + "\n";
    return out;
}

Run Play(const std::string &yaml)
{
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        throw std::runtime_error("pipe");
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) {
        close(out[0]);
        close(err[0]);
        dup2(err[1], 2);
        FILE *trace = fdopen(out[1], "w");
        try {
            sim::Scenario s = sim::ParseScenario(yaml, "test.yaml");
            sim::PlayOptions options;
            options.sink = [trace](const std::string &line) {
                fputs(line.c_str(), trace);
                fputc('\n', trace);
                fflush(trace);
            };
            sim::Play(s, options);
        } catch (const std::exception &e) {
            fprintf(stderr, "%s\n", e.what());
            fflush(stderr);
            _exit(2);
        }
    }
    close(out[1]);
    close(err[1]);
    // Read both pipes without deadlocking: stderr is small, so read the trace first.
    std::string text = ReadAll(out[0]);
    std::string errors = ReadAll(err[0]);
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    Run run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.error = errors;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos)
            nl = text.size();
        if (nl > pos)
            run.events.push_back(Json::parse(text.substr(pos, nl - pos)));
        pos = nl + 1;
    }
    // Whatever a test checks, a program that uses a critical section it deleted, or never
    // initialised, or leaves out the byte count Windows writes, fails it.
    for (const Json &e : run.events)
        if (e["ev"] == "misuse")
            ADD_FAILURE() << "the program used a " << e["state"].get<std::string>() << " "
                          << e["kind"].get<std::string>() << " (" << e["call"].get<std::string>() << ") at "
                          << e["t"].dump() << " ms";
    return run;
}

bool InChild(const std::function<void()> &body, std::string *output)
{
    int err[2];
    if (pipe(err) != 0)
        throw std::runtime_error("pipe");
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) {
        close(err[0]);
        dup2(err[1], 1);
        dup2(err[1], 2);
        body();
        fflush(stdout);
        fflush(stderr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    close(err[1]);
    std::string text = ReadAll(err[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (output)
        *output = text;
    bool passed = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!passed)
        fprintf(stderr, "%s", text.c_str());
    return passed;
}

bool InWorld(const std::function<void()> &body)
{
    return InChild([&body] {
        sim::SetEndTime(3600 * 1000);
        sim::RunMain([&body] {
            body();
            return 0;
        });
    });
}

std::string BundledScenario(const std::string &name)
{
    std::ifstream in(std::string(VUDIZERI_SOURCE_DIR) + "/scenarios/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (text.str().empty())
        ADD_FAILURE() << "scenarios/" << name << " is missing or empty";
    return text.str();
}

}  // namespace support
