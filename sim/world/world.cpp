// The world's core: virtual clock, baton scheduler, timed events, faults and the trace.
#include "world.h"

#include <iconv.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "calls.h"

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

// The watchdog. A program thread that never blocks (a loop that cannot end, whether or not it makes
// platform calls on the way) keeps the baton for good: the clock stops and nothing else can ever
// happen. Every step of the clock and every wait counts as progress; a run that shows none for this
// long in real time hangs, and ends as a run that hit its time limit does (status 124).
constexpr int kHangSeconds = 20;
std::atomic<uint64_t> g_progress{0};
std::atomic<bool> g_watching{false};

void StartWatchdog()
{
    if (g_watching.exchange(true))
        return;
    // The world's own tests shorten the wait.
    const char *told = getenv("VUDIZERI_WORLD_HANG_SECONDS");
    int limit = told && atoi(told) > 0 ? atoi(told) : kHangSeconds;
    std::thread([limit] {
        uint64_t seen = g_progress.load();
        int still = 0;
        while (g_watching.load()) {
            sleep(1);
            uint64_t now = g_progress.load();
            if (now != seen) {
                seen = now;
                still = 0;
                continue;
            }
            if (++still >= limit && g_watching.load()) {
                fprintf(stderr, "world: no wait and no step of the clock for %d s of real time: "
                                "the program hangs\n", limit);
                fflush(stderr);
                _exit(124);
            }
        }
    }).detach();
}

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
    g_progress.fetch_add(1, std::memory_order_relaxed);
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
    g_progress.fetch_add(1, std::memory_order_relaxed);
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
    StartWatchdog();
    int code = body();
    g_watching = false;
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

int CallsMade(const std::string &call)
{
    std::lock_guard<std::mutex> lock(g_calls_mu);
    auto it = g_calls.find(call);
    return it == g_calls.end() ? 0 : it->second;
}

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

namespace {

void AppendUtf8(std::string &out, uint32_t u)
{
    if (u < 0x80) {
        out += (char)u;
    } else if (u < 0x800) {
        out += (char)(0xC0 | (u >> 6));
        out += (char)(0x80 | (u & 0x3F));
    } else {
        out += (char)(0xE0 | (u >> 12));
        out += (char)(0x80 | ((u >> 6) & 0x3F));
        out += (char)(0x80 | (u & 0x3F));
    }
}

// Lead bytes of the double-byte code pages.
bool IsLeadByte(int codepage, unsigned char c)
{
    switch (codepage) {
    case 932:
        return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    case 936:
    case 949:
    case 950:
        return c >= 0x81 && c <= 0xFE;
    default:
        return false;
    }
}

// What Windows' own table gives for a single byte the iconv table leaves out, or 0 for none:
// code page 1252 keeps its five unassigned bytes as the C1 controls of the same value; code page 932
// maps 0x80 to U+0080 and 0xA0, 0xFD, 0xFE, 0xFF into the private use area.
uint32_t WindowsSingleByte(int codepage, unsigned char c)
{
    if (codepage == 1252 && (c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D))
        return c;
    if (codepage == 932) {
        switch (c) {
        case 0x80: return 0x0080;
        case 0xA0: return 0xF8F0;
        case 0xFD: return 0xF8F1;
        case 0xFE: return 0xF8F2;
        case 0xFF: return 0xF8F3;
        default: break;
        }
    }
    return 0;
}

// The character MultiByteToWideChar puts where the bytes mean nothing: "?" on every ANSI code page
// but 932, where it is U+30FB (katakana middle dot).
uint32_t DefaultChar(int codepage) { return codepage == 932 ? 0x30FB : 0x3F; }

bool Convert(iconv_t cd, const char *bytes, size_t n, std::string &out)
{
    char buf[16];
    char *in = const_cast<char *>(bytes), *o = buf;
    size_t in_left = n, o_left = sizeof(buf);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in, &in_left, &o, &o_left) == (size_t)-1 || in_left != 0)
        return false;
    out.append(buf, o - buf);
    return true;
}

}  // namespace

// Decodes as MultiByteToWideChar does without MB_ERR_INVALID_CHARS: one character (of one byte, or
// of a lead and a trail byte) at a time; a lead byte with nothing after it, and a pair that is no
// character, become the code page's default character.
std::string AnsiToUtf8(const std::string &bytes)
{
    std::string from = "CP" + std::to_string(g_codepage);
    iconv_t cd = iconv_open("UTF-8", from.c_str());
    if (cd == (iconv_t)-1)
        return bytes;
    std::string out;
    for (size_t i = 0; i < bytes.size();) {
        unsigned char c = (unsigned char)bytes[i];
        size_t n = IsLeadByte(g_codepage, c) ? 2 : 1;
        if (n == 2 && i + 1 >= bytes.size()) {
            AppendUtf8(out, DefaultChar(g_codepage));  // a lone lead byte at the end
            ++i;
            continue;
        }
        if (!Convert(cd, bytes.data() + i, n, out)) {
            uint32_t u = n == 1 ? WindowsSingleByte(g_codepage, c) : 0;
            AppendUtf8(out, u ? u : DefaultChar(g_codepage));
        }
        i += n;
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
