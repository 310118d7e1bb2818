// The world's core: virtual clock, baton scheduler, timed events, faults and the trace.
#include "world.h"

#include "calls.h"

#include <iconv.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

namespace sim {

struct SimThread {
    int id = 0;
    enum State { Ready, Running, Blocked, Ended } state = Ready;
    std::condition_variable cv;
    bool go = false;                 // holds the baton
    std::function<bool()> ready;     // while Blocked
    Ms deadline = kNever;            // while Blocked
    bool timed_out = false;
    DWORD exit_code = STILL_ACTIVE;
    DWORD last_error = 0;
};

namespace {

// The baton: the running program thread holds this mutex for as long as it runs, and gives it up only
// inside a condition-variable wait.
std::mutex g_mu;
thread_local std::unique_lock<std::mutex> *t_lock = nullptr;
thread_local SimThread *t_self = nullptr;

std::vector<std::unique_ptr<SimThread>> g_threads;
Ms g_now = 0;
Ms g_end = kNever;
uint64_t g_seq = 0;
std::map<std::pair<Ms, uint64_t>, std::function<void()>> g_events;
// Filled by the areas' static initialisers, so constructed on first use.
std::vector<std::function<Ms()>> &Sources()
{
    static std::vector<std::function<Ms()>> sources;
    return sources;
}
std::vector<std::function<void()>> &Polls()
{
    static std::vector<std::function<void()>> polls;
    return polls;
}
std::vector<std::function<void()>> &Finishers()
{
    static std::vector<std::function<void()>> finishers;
    return finishers;
}

std::function<void(const std::string &)> g_sink;
std::set<std::string> g_detail;

struct FaultRule {
    std::string call;
    int nth, count;
    std::optional<DWORD> error;
};
std::vector<FaultRule> g_faults;
// The program's calls by name. Threads the world did not start (a stress test's own) call too, side
// by side: the count has its own lock.
std::mutex g_calls_mu;
std::map<std::string, int> g_calls;
bool g_calls_event = false;
// How deep the calling thread is inside platform calls (0: in the program's own code), and the
// program's call it is serving.
thread_local int t_depth = 0;
thread_local PlatformCall *t_call = nullptr;

std::optional<std::mt19937_64> g_preempt;

int g_codepage = 1252;

SimThread *PickRunnable()
{
    size_t n = g_threads.size();
    size_t start = g_preempt ? (*g_preempt)() % n : 0;
    for (size_t k = 0; k < n; ++k) {
        SimThread *t = g_threads[(start + k) % n].get();
        if (t->state == SimThread::Ready)
            return t;
        if (t->state == SimThread::Blocked) {
            if (t->ready && t->ready()) {
                t->timed_out = false;
                return t;
            }
            if (t->deadline <= g_now) {
                t->timed_out = true;
                return t;
            }
        }
    }
    return nullptr;
}

// Advances the clock to the next due moment and runs the first event due then.
void Advance()
{
    Ms next = kNever;
    if (!g_events.empty())
        next = g_events.begin()->first.first;
    for (auto &source : Sources())
        next = std::min(next, source());
    for (auto &t : g_threads)
        if (t->state == SimThread::Blocked)
            next = std::min(next, t->deadline);
    if (next == kNever)
        Finish("idle");
    if (next > g_end) {
        g_now = g_end;
        Finish("end");
    }
    g_now = std::max(g_now, next);
    if (!g_events.empty() && g_events.begin()->first.first <= g_now) {
        auto fn = std::move(g_events.begin()->second);
        g_events.erase(g_events.begin());
        fn();
    }
}

// Hands the baton on. The caller (the current holder) has already set its own state.
void Reschedule()
{
    SimThread *self = t_self;
    for (;;) {
        for (auto &poll : Polls())
            poll();
        SimThread *next = PickRunnable();
        if (next) {
            next->state = SimThread::Running;
            next->ready = nullptr;
            if (next == self)
                return;
            next->go = true;
            next->cv.notify_one();
            if (self->state == SimThread::Ended)
                return;
            self->go = false;
            self->cv.wait(*t_lock, [self] { return self->go; });
            return;
        }
        Advance();
    }
}

}  // namespace

Ms Now() { return g_now; }

bool BlockUntil(const std::function<bool()> &ready, Ms deadline)
{
    SimThread *self = t_self;
    if (ready && ready())
        return true;
    self->state = SimThread::Blocked;
    self->ready = ready;
    self->deadline = deadline;
    self->timed_out = false;
    Reschedule();
    return !self->timed_out;
}

void At(Ms when, std::function<void()> fn)
{
    g_events.emplace(std::make_pair(std::max(when, g_now), g_seq++), std::move(fn));
}

void AddTimeSource(std::function<Ms()> next_due_after_now) { Sources().push_back(std::move(next_due_after_now)); }
void AddPoll(std::function<void()> poll) { Polls().push_back(std::move(poll)); }
void SetEndTime(Ms when) { g_end = when; }

SimThread *Self() { return t_self; }
int ThreadId(SimThread *t) { return t->id; }
bool ThreadEnded(SimThread *t) { return t->state == SimThread::Ended; }
DWORD ThreadExitCode(SimThread *t) { return t->exit_code; }
DWORD &ThreadLastError(SimThread *t) { return t->last_error; }

SimThread *StartThread(DWORD (*proc)(void *), void *param, bool traced)
{
    g_threads.push_back(std::make_unique<SimThread>());
    SimThread *t = g_threads.back().get();
    t->id = (int)g_threads.size();
    t->state = SimThread::Ready;
    if (traced)
        Emit("thread", {{"event", "start"}});
    std::thread([t, proc, param, traced] {
        std::unique_lock<std::mutex> lock(g_mu);
        t_lock = &lock;
        t_self = t;
        t->cv.wait(lock, [t] { return t->go; });
        DWORD code = proc(param);
        ++t_depth;  // the thread's own code is done: what runs from here on is the world's
        if (t->state == SimThread::Ended)  // terminated while it ran: cannot happen, it never runs then
            return;
        t->exit_code = code;
        t->state = SimThread::Ended;
        if (traced)
            Emit("thread", {{"event", "end"}});
        Reschedule();
    }).detach();
    return t;
}

void TerminateSimThread(SimThread *t, DWORD code)
{
    if (t->state == SimThread::Ended)
        return;
    // The thread stays parked for good: it never gets the baton again.
    t->state = SimThread::Ended;
    t->ready = nullptr;
    t->exit_code = code;
    Emit("thread", {{"event", "terminated"}});
}

int RunMain(const std::function<int()> &body)
{
    static std::unique_lock<std::mutex> lock(g_mu);
    t_lock = &lock;
    g_threads.push_back(std::make_unique<SimThread>());
    t_self = g_threads.back().get();
    t_self->id = 1;
    t_self->state = SimThread::Running;
    t_self->go = true;
    int code = body();
    t_self->exit_code = (DWORD)code;
    return code;
}

void AtFinish(std::function<void()> fn) { Finishers().push_back(std::move(fn)); }

void Finish(const char *reason)
{
    auto finishers = std::move(Finishers());
    Finishers().clear();
    for (auto &fn : finishers)
        fn();
    // Nothing the program does from here on counts: its threads never run again.
    ++t_depth;
    Emit("held", {{"items", HeldItems()}});
    if (g_calls_event) {
        std::lock_guard<std::mutex> lock(g_calls_mu);
        Json calls = Json::object();
        for (auto &kv : g_calls)
            calls[kv.first] = kv.second;
        Emit("calls", {{"calls", calls}});
    }
    Emit("end", {{"reason", reason}});
    fflush(stdout);
    fflush(stderr);
    _exit(0);
}

void YieldPoint()
{
    if (!g_preempt || !t_self || (*g_preempt)() % 4 != 0)
        return;
    t_self->state = SimThread::Ready;
    Reschedule();
}

void SetPreemptSeed(uint64_t seed) { g_preempt.emplace(seed); }

PlatformCall::PlatformCall(const char *name) : name_(name)
{
    if (t_depth++ > 0)
        return;
    {
        std::lock_guard<std::mutex> lock(g_calls_mu);
        nth_ = ++g_calls[name];
    }
    outer_ = t_call;
    t_call = this;
}

PlatformCall::~PlatformCall()
{
    --t_depth;
    if (nth_ > 0)
        t_call = outer_;
}

std::optional<DWORD> PlatformCall::Fault()
{
    if (nth_ == 0)
        return std::nullopt;
    std::optional<FaultRule> rule;
    {
        std::lock_guard<std::mutex> lock(g_calls_mu);
        for (auto &f : g_faults)
            if (f.call == name_ && nth_ >= f.nth && nth_ < f.nth + f.count) {
                rule = f;
                break;
            }
    }
    if (!rule)
        return std::nullopt;
    const CallInfo *info = FindCall(name_);
    CallInfo::Report report = info ? info->report : CallInfo::LastError;
    std::optional<DWORD> error = rule->error;
    if (!error && info && report != CallInfo::Silent)
        error = info->error;
    Json fields = {{"call", name_}, {"n", nth_}};
    if (error)
        fields["error"] = *error;
    Emit("fault", std::move(fields));
    if (error && report != CallInfo::Result && t_self)
        t_self->last_error = *error;
    return error.value_or(0);
}

ProgramCode::ProgramCode() : depth_(t_depth), call_(t_call)
{
    t_depth = 0;
    t_call = nullptr;
}
ProgramCode::~ProgramCode()
{
    t_depth = depth_;
    t_call = call_;
}

const PlatformCall *CurrentProgramCall() { return t_call; }

void AddFault(const std::string &call, int nth, int count, std::optional<DWORD> error)
{
    std::lock_guard<std::mutex> lock(g_calls_mu);
    g_faults.push_back({call, nth, count, error});
}

void EnableCallsEvent(bool on) { g_calls_event = on; }

void Emit(const char *ev, Json fields)
{
    Json line = Json::object();
    line["t"] = g_now;
    line["ev"] = ev;
    for (auto &item : fields.items())
        line[item.key()] = item.value();
    if (g_sink)
        g_sink(line.dump(-1, ' ', false, Json::error_handler_t::replace));
}

void SetTraceSink(std::function<void(const std::string &)> sink) { g_sink = std::move(sink); }
void EnableTraceDetail(const std::string &what) { g_detail.insert(what); }
bool TraceDetail(const std::string &what) { return g_detail.count(what) != 0; }

void SetCodePage(int codepage) { g_codepage = codepage; }

std::string AnsiToUtf8(const std::string &bytes)
{
    std::string from = "CP" + std::to_string(g_codepage);
    iconv_t cd = iconv_open("UTF-8", from.c_str());
    if (cd == (iconv_t)-1)
        return bytes;
    std::string out;
    char *in = const_cast<char *>(bytes.data());
    size_t in_left = bytes.size();
    char buf[256];
    while (in_left > 0) {
        char *o = buf;
        size_t o_left = sizeof(buf);
        size_t r = iconv(cd, &in, &in_left, &o, &o_left);
        out.append(buf, o - buf);
        if (r == (size_t)-1 && errno != E2BIG) {
            out += "\xEF\xBF\xBD";  // a byte the code page cannot decode
            ++in;
            --in_left;
        }
    }
    iconv_close(cd);
    return out;
}

std::string Hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

}  // namespace sim
