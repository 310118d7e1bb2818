// The world's core: virtual clock, the one-thread-at-a-time scheduler, events, faults, trace.
//
// The program's threads are real threads, but only the one holding the baton runs. A thread gives the
// baton up only inside a blocking platform call (BlockUntil); the world then hands it to the first
// program thread that can go on, or, when none can, advances the clock to the next due moment and
// runs what is due. So all of sim/ runs as if single-threaded: world state needs no lock, and the
// same scenario gives the same trace on every run. A world lives for one process: every scenario (and
// every test of sim/) runs in a fresh one.
#ifndef SIM_WORLD_H
#define SIM_WORLD_H

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace sim {

using Ms = int64_t;            // virtual milliseconds since the process started
constexpr Ms kNever = INT64_MAX;
using Json = nlohmann::ordered_json;

// ---- clock and scheduling ----
Ms Now();

// Blocks the calling program thread until ready() holds or the clock reaches deadline (kNever: no
// time-out). ready() is evaluated by the world on any thread, while the caller is parked: it must only
// read world state. Returns true when ready() held, false on the time-out.
bool BlockUntil(const std::function<bool()>& ready, Ms deadline = kNever);

// Runs fn at virtual time `when` (>= Now()), in the world's own context: fn may change world state and
// emit trace events, but must never call program code. Events due at the same time run in the order
// they were scheduled.
void At(Ms when, std::function<void()> fn);

// Something that becomes due by itself at a future time (a timer, a sound card buffer): the scheduler
// asks every source for its next moment after Now() when no thread can run.
void AddTimeSource(std::function<Ms()> next_due_after_now);
// Called before every scheduling decision (the driver double notices what the program wrote).
void AddPoll(std::function<void()> poll);

// The scenario's end: at this time the world writes an "end" event and the process exits.
void SetEndTime(Ms when);

// ---- program threads ----
struct SimThread;
SimThread* Self();               // the calling program thread (never null inside a platform call)
int ThreadId(SimThread* t);      // 1 for the main thread, then in creation order
bool ThreadEnded(SimThread* t);  // returned, or terminated
// Starts proc(param) on a new program thread that runs when the world hands it the baton.
SimThread* StartThread(DWORD (*proc)(void*), void* param, bool traced);
DWORD ThreadExitCode(SimThread* t);
void TerminateSimThread(SimThread* t, DWORD code);

// Runs `body` as the program's main thread; returns when body returns (WinMain's result).
int RunMain(const std::function<int()>& body);

// Leaves the process after flushing the trace: used at the scenario's end.
[[noreturn]] void Finish(const char* reason);
// Runs fn once in Finish, before the "end" event (end-of-run reports such as "audio").
void AtFinish(std::function<void()> fn);

// Gives other ready threads a chance to run at a platform call, when the scenario asks for
// preemption (schedule.preempt); a no-op otherwise.
void YieldPoint();
void SetPreemptSeed(uint64_t seed);
// The thread's last-error value (GetLastError).
DWORD &ThreadLastError(SimThread *t);

// ---- platform calls and faults ----
// Every platform entry point opens with `PlatformCall call("Name");`. A call made by the program's
// code (not one the world makes on its own behalf inside another call) is counted under its Win32
// name, and the scenario's faults may fail that occurrence.
class PlatformCall {
  public:
    explicit PlatformCall(const char* name);
    ~PlatformCall();
    PlatformCall(const PlatformCall&) = delete;
    PlatformCall& operator=(const PlatformCall&) = delete;
    // Set when a fault names this occurrence (traced as `fault`). A call that reports through the last
    // error has it set already (the scenario's error, else the call's documented one); a call that
    // returns its error code gets the code to return; a call documented to give no extended error
    // leaves the last error alone unless the scenario names one.
    std::optional<DWORD> Fault();
    const char* name() const { return name_; }
    int nth() const { return nth_; }  // which call of its name this is; 0 when the world makes it
  private:
    const char* name_;
    int nth_ = 0;
    PlatformCall* outer_ = nullptr;
};

// While alive, the calling thread runs program code called by the world (a window, dialog or timer
// procedure): the platform calls it makes are the program's own.
class ProgramCode {
  public:
    ProgramCode();
    ~ProgramCode();
    ProgramCode(const ProgramCode&) = delete;
    ProgramCode& operator=(const ProgramCode&) = delete;
  private:
    int depth_;
    PlatformCall* call_;
};

// The program's call being served on this thread (the outermost platform call), or null.
const PlatformCall* CurrentProgramCall();

// Without `error`, the call's documented failure (see calls.h).
void AddFault(const std::string& call, int nth, int count, std::optional<DWORD> error = std::nullopt);
// With true, the run ends with a `calls` event: every platform call the program made, with its count.
void EnableCallsEvent(bool on);
// How many calls of this name the program has made so far.
int CallsMade(const std::string& call);

// ---- what the program holds ----
// The world's account of every resource the program acquired and has not released, reported as the
// `held` event at the end of every run, in the order of acquisition. Acquire returns a ticket to
// release the item by; the acquiring call and its occurrence are noted from the program's current
// call. `at_end` may add keys when the account is drawn up (a thread that has ended meanwhile).
using HeldTicket = uint64_t;
HeldTicket Acquire(const char* kind, const std::string& name, Json keys = Json::object(),
                   std::function<void(Json&)> at_end = nullptr);
void Release(HeldTicket ticket);
// A fault refused the release of the item: it stays, and says which call kept it.
void ReleaseRefused(HeldTicket ticket, const PlatformCall& call);
Json HeldItems();
// A handle's value as the account shows it: "0x104".
std::string HandleText(uintptr_t value);

// ---- trace ----
// Writes one trace object: {"t": Now(), "ev": ev, ...fields}.
void Emit(const char* ev, Json fields = Json::object());
// Where the trace goes: every line, as JSON text, is handed to the sink.
void SetTraceSink(std::function<void(const std::string&)> sink);
// Optional detail in the trace (scenario "trace" key): e.g. "ioctl".
void EnableTraceDetail(const std::string& what);
bool TraceDetail(const std::string& what);

// ---- the ANSI code page of the system, for texts in the trace ----
void SetCodePage(int codepage);
std::string AnsiToUtf8(const std::string& bytes);
std::string Hex(const std::string& bytes);

}  // namespace sim

#endif
