// kernel32: handles, last error, threads and waits, critical sections, memory, time, messages.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "driver_double.h"
#include "handles.h"
#include "system.h"
#include "user32.h"
#include "world.h"

namespace sim {

namespace {

std::map<HANDLE, std::shared_ptr<KObject>> g_handles;
uintptr_t g_next_handle = 0x100;

struct ThreadObject : KObject {
    SimThread *thread;
    explicit ThreadObject(SimThread *t) : thread(t) {}
    const char *HeldKind() const override { return "thread"; }
    std::string HeldName() const override { return "thread " + std::to_string(ThreadId(thread)); }
    void AtEnd(Json &fields) const override { fields["ended"] = ThreadEnded(thread); }
};

struct CriticalState {
    SimThread *owner = nullptr;
    int recursion = 0;
    HeldTicket held = 0;
    bool valid = true;  // initialised and not deleted since
};
std::map<LPCRITICAL_SECTION, CriticalState> g_critical;
std::set<LPCRITICAL_SECTION> g_deleted;  // deleted and not initialised again

// Entering, leaving or deleting a critical section that was deleted, or never initialised, is the
// program's fault: on Windows the section's lock count and debug information are gone (or were never
// there), and what follows is undefined. The world reports every such use in the trace ("misuse")
// and goes on as with a fresh section, so the rest of the run still shows what the program does.
CriticalState &Section(LPCRITICAL_SECTION cs, const char *call)
{
    auto it = g_critical.find(cs);
    if (it == g_critical.end()) {
        it = g_critical.emplace(cs, CriticalState{}).first;
        it->second.valid = false;
    }
    if (!it->second.valid)
        Emit("misuse", {{"call", call}, {"kind", "critical-section"},
                        {"state", g_deleted.count(cs) ? "deleted" : "uninitialised"}});
    return it->second;
}

// Threads the world did not start (a stress test's own threads) run freely, side by side: for them
// a critical section is a real recursive lock. A section is used by one kind of thread or the other.
std::mutex g_free_mu;
std::map<LPCRITICAL_SECTION, std::unique_ptr<std::recursive_mutex>> g_free_locks;

std::recursive_mutex &FreeLock(LPCRITICAL_SECTION cs)
{
    std::lock_guard<std::mutex> lock(g_free_mu);
    auto &m = g_free_locks[cs];
    if (!m)
        m = std::make_unique<std::recursive_mutex>();
    return *m;
}

struct Allocation {
    void *base;
    size_t size;
    HeldTicket held;
};
std::map<void *, Allocation> g_virtual;

// FormatMessageA's buffers, for LocalFree.
std::map<void *, HeldTicket> g_local;

}  // namespace

HANDLE NewHandle(std::shared_ptr<KObject> object)
{
    HANDLE h = (HANDLE)g_next_handle;
    g_next_handle += 4;
    KObject *o = object.get();
    o->held = Acquire(o->HeldKind(), o->HeldName(), {{"handle", HandleText((uintptr_t)h)}},
                      [o](Json &fields) { o->AtEnd(fields); });
    g_handles[h] = std::move(object);
    return h;
}

KObject *HandleObject(HANDLE h)
{
    auto it = g_handles.find(h);
    return it == g_handles.end() ? nullptr : it->second.get();
}

DWORD &LastError() { return ThreadLastError(Self()); }

// ---- FormatMessageA ----
// The system's message table: one language (US English), the texts as stored, with their line ends
// and inserts; what FormatMessageA makes of a text is worked out from it as Windows does.
const std::map<DWORD, const char *> &SystemMessages()
{
    static const std::map<DWORD, const char *> texts = {
        {ERROR_INVALID_FUNCTION, "Incorrect function.\r\n"},
        {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
        {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
        {ERROR_INVALID_HANDLE, "The handle is invalid.\r\n"},
        {ERROR_NOT_ENOUGH_MEMORY, "Not enough storage is available to process this command.\r\n"},
        {ERROR_GEN_FAILURE, "A device attached to the system is not functioning.\r\n"},
        {ERROR_DEV_NOT_EXIST, "The specified network resource or device is no longer available.\r\n"},
        {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
        {ERROR_BAD_EXE_FORMAT, "%1 is not a valid Win32 application.\r\n"},
        {ERROR_OPERATION_ABORTED,
         "The I/O operation has been aborted because of either a thread exit or an application request.\r\n"},
        {ERROR_NOACCESS, "Invalid access to memory location.\r\n"},
        {ERROR_DEVICE_NOT_CONNECTED, "The device is not connected.\r\n"},
        // The other errors a read on a device can end with.
        {21 /*ERROR_NOT_READY*/, "The device is not ready.\r\n"},
        {22 /*ERROR_BAD_COMMAND*/, "The device does not recognize the command.\r\n"},
        {23 /*ERROR_CRC*/, "Data error (cyclic redundancy check).\r\n"},
        {30 /*ERROR_READ_FAULT*/, "The system cannot read from the specified device.\r\n"},
        {38 /*ERROR_HANDLE_EOF*/, "Reached the end of the file.\r\n"},
        {121 /*ERROR_SEM_TIMEOUT*/, "The semaphore timeout period has expired.\r\n"},
        {122 /*ERROR_INSUFFICIENT_BUFFER*/, "The data area passed to a system call is too small.\r\n"},
        {ERROR_MORE_DATA, "More data is available.\r\n"},
        {1117 /*ERROR_IO_DEVICE*/, "The request could not be performed because of an I/O device error.\r\n"},
        {1450 /*ERROR_NO_SYSTEM_RESOURCES*/,
         "Insufficient system resources exist to complete the requested service.\r\n"},
    };
    return texts;
}

// The languages the system's messages are found in: the neutral ones (searched in the documented
// order, all ending at the one language there is), the user's and system's defaults, and English.
bool SystemHasLanguage(DWORD lang)
{
    switch (lang) {
    case MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL):
    case MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT):
    case MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT):
    case MAKELANGID(LANG_ENGLISH, SUBLANG_NEUTRAL):
    case MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US):
        return true;
    default:
        return false;
    }
}

// The inserts' arguments: from the va_list in order, or from an array of DWORD_PTR.
struct InsertArgs {
    va_list *list = nullptr;
    const DWORD_PTR *array = nullptr;
    std::vector<ULONG_PTR> taken;
    bool Get(int nr, ULONG_PTR *out)
    {
        if (array) {
            *out = array[nr - 1];
            return true;
        }
        if (!list)
            return false;
        while ((int)taken.size() < nr)
            taken.push_back(va_arg(*list, ULONG_PTR));
        *out = taken[nr - 1];
        return true;
    }
};

// One insert "%N" or "%N!printf format!"; false when it has no argument to take.
bool FormatInsert(int nr, const char *&f, InsertArgs &args, std::string &out)
{
    ULONG_PTR arg;
    if (!args.Get(nr, &arg))
        return false;
    std::string printf_format = "%";
    if (*f == '!') {
        const char *end = strchr(f + 1, '!');
        if (!end)
            return false;
        std::string inner(f + 1, end);
        f = end + 1;
        // Width, precision and flags as printf has them; l, h and w size prefixes mean nothing to an
        // ANSI insert of 32 bits.
        size_t k = 0;
        while (k < inner.size() && strchr("0+- #.0123456789", inner[k]))
            printf_format += inner[k++];
        while (k < inner.size() && strchr("lhw", inner[k]))
            ++k;
        char conv = k < inner.size() ? inner[k] : 's';
        printf_format += conv;
        char buffer[512];
        if (conv == 's')
            snprintf(buffer, sizeof buffer, printf_format.c_str(), arg ? (const char *)arg : "(null)");
        else if (strchr("diouxXc", conv))
            snprintf(buffer, sizeof buffer, printf_format.c_str(), (unsigned)(DWORD)arg);
        else
            return false;
        out += buffer;
        return true;
    }
    out += arg ? (const char *)arg : "(null)";
    return true;
}

// Formats a message text as FormatMessageA does: the escapes %0 (end), %n, %r, %t, %%, "%." and
// "%!"; a line break in the text becomes CR LF (a space with FORMAT_MESSAGE_MAX_WIDTH_MASK). With
// FORMAT_MESSAGE_IGNORE_INSERTS inserts and other "%" sequences are copied as they stand and only
// %0, %n, %r and %t are escapes. False (last error set) when an insert has no argument.
bool FormatText(const char *f, DWORD flags, InsertArgs &args, std::string &out)
{
    bool ignore = flags & FORMAT_MESSAGE_IGNORE_INSERTS;
    bool one_line = (flags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == FORMAT_MESSAGE_MAX_WIDTH_MASK;
    const char *line_end = one_line ? " " : "\r\n";
    while (*f) {
        char c = *f++;
        if (c == '\r' || c == '\n') {
            if (c == '\r' && *f == '\n')
                ++f;
            out += line_end;
            continue;
        }
        if (c != '%') {
            out += c;
            continue;
        }
        char e = *f;
        if (!e) {
            // A lone "%" at the end of the text is no escape at all.
            if (!ignore) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return false;
            }
            out += '%';
            break;
        }
        ++f;
        if (e == '0')
            return true;
        if (e == 'n') {
            out += "\r\n";
        } else if (e == 'r') {
            out += '\r';
        } else if (e == 't') {
            out += '\t';
        } else if (ignore) {
            out += '%';
            out += e;
        } else if (e >= '1' && e <= '9') {
            int nr = e - '0';
            if (*f >= '0' && *f <= '9')
                nr = nr * 10 + (*f++ - '0');
            if (!FormatInsert(nr, f, args, out)) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return false;
            }
        } else {
            out += e;  // "%%", "%.", "%!" and any other: the character itself
        }
    }
    return true;
}

}  // namespace sim

using namespace sim;

extern "C" {

DWORD WINAPI GetLastError(void)
{
    PlatformCall call("GetLastError");
    return LastError();
}

void WINAPI SetLastError(DWORD dwErrCode) { LastError() = dwErrCode; }

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    PlatformCall call("CloseHandle");
    YieldPoint();
    auto it = g_handles.find(hObject);
    if (it == g_handles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (call.Fault()) {
        ReleaseRefused(it->second->held, call);
        return FALSE;
    }
    auto object = it->second;
    g_handles.erase(it);
    Release(object->held);
    object->OnClose();
    return TRUE;
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress,
                           LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId)
{
    PlatformCall call("CreateThread");
    YieldPoint();
    if (call.Fault())
        return NULL;
    // Windows 95, 98 and Me: "This parameter may not be NULL." The thread is not created.
    if (!lpThreadId && IsWindows9x()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    SimThread *t = StartThread(lpStartAddress, lpParameter, true);
    if (lpThreadId)
        *lpThreadId = (DWORD)ThreadId(t);
    return NewHandle(std::make_shared<ThreadObject>(t));
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    PlatformCall call("WaitForSingleObject");
    YieldPoint();
    auto *object = HandleAs<ThreadObject>(hHandle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    if (call.Fault())
        return WAIT_FAILED;
    SimThread *t = object->thread;
    Ms deadline = dwMilliseconds == INFINITE ? kNever : Now() + dwMilliseconds;
    return BlockUntil([t] { return ThreadEnded(t); }, deadline) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL WINAPI TerminateThread(HANDLE hThread, DWORD dwExitCode)
{
    PlatformCall call("TerminateThread");
    YieldPoint();
    auto *object = HandleAs<ThreadObject>(hThread);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (call.Fault())
        return FALSE;
    TerminateSimThread(object->thread, dwExitCode);
    DestroyThreadWindows(object->thread);
    return TRUE;
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode)
{
    PlatformCall call("GetExitCodeThread");
    auto *object = HandleAs<ThreadObject>(hThread);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *lpExitCode = ThreadExitCode(object->thread);
    return TRUE;
}

void WINAPI Sleep(DWORD dwMilliseconds)
{
    PlatformCall call("Sleep");
    BlockUntil(nullptr, Now() + dwMilliseconds);
}

DWORD WINAPI GetTickCount(void)
{
    PlatformCall call("GetTickCount");
    return (DWORD)Now();
}

DWORD WINAPI GetCurrentThreadId(void)
{
    PlatformCall call("GetCurrentThreadId");
    return (DWORD)ThreadId(Self());
}

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs)
{
    PlatformCall call("InitializeCriticalSection");
    memset(cs, 0, sizeof(*cs));
    cs->LockCount = -1;
    auto it = g_critical.find(cs);
    if (it != g_critical.end())
        Release(it->second.held);  // initialised again without being deleted: one section still
    CriticalState state;
    state.held = Acquire("critical-section", "critical section");
    g_critical[cs] = state;
    g_deleted.erase(cs);
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs)
{
    PlatformCall call("EnterCriticalSection");
    if (!Self()) {
        FreeLock(cs).lock();
        return;
    }
    YieldPoint();
    CriticalState &state = Section(cs, "EnterCriticalSection");
    SimThread *self = Self();
    if (state.owner != self)
        BlockUntil([&state] { return state.owner == nullptr; });
    state.owner = self;
    ++state.recursion;
    cs->RecursionCount = state.recursion;
    cs->OwningThread = (HANDLE)(uintptr_t)ThreadId(self);
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs)
{
    PlatformCall call("LeaveCriticalSection");
    if (!Self()) {
        FreeLock(cs).unlock();
        return;
    }
    CriticalState &state = Section(cs, "LeaveCriticalSection");
    if (state.owner != Self() || state.recursion == 0) {
        // Leaving a section the thread does not own is the program's fault too: on Windows it
        // corrupts the section, and another thread may then wait in EnterCriticalSection for ever.
        if (state.valid)
            Emit("misuse", {{"call", "LeaveCriticalSection"}, {"kind", "critical-section"}, {"state", "not-owned"}});
        return;
    }
    if (--state.recursion == 0) {
        state.owner = nullptr;
        cs->OwningThread = NULL;
    }
    cs->RecursionCount = state.recursion;
    YieldPoint();
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs)
{
    PlatformCall call("DeleteCriticalSection");
    CriticalState &state = Section(cs, "DeleteCriticalSection");
    if (state.valid)
        Release(state.held);
    g_critical.erase(cs);
    g_deleted.insert(cs);
    std::lock_guard<std::mutex> lock(g_free_mu);
    g_free_locks.erase(cs);
}

LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect)
{
    PlatformCall call("VirtualAlloc");
    YieldPoint();
    // A protection is needed: 0 is none of the documented ones.
    if (dwSize == 0 || lpAddress || !(flAllocationType & MEM_COMMIT) || flProtect == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    if (call.Fault())
        return NULL;
    // Whole pages, zero-filled; a new region starts on the allocation granularity (64 KiB). Nothing
    // past the last page is ours.
    size_t size = (dwSize + 4095) / 4096 * 4096;
    size_t span = (size + 65535) / 65536 * 65536;
    void *mapped = mmap(nullptr, span + 65536, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    void *p = (void *)(((uintptr_t)mapped + 65535) & ~(uintptr_t)65535);
    g_virtual[p] = {p, size, Acquire("memory", std::to_string(dwSize) + " bytes", {{"size", size}})};
    return p;
}

BOOL WINAPI VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType)
{
    PlatformCall call("VirtualFree");
    YieldPoint();
    if (dwFreeType != MEM_RELEASE || dwSize != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Only the base of an allocation releases it; any other address, inside one or not, is refused.
    auto it = g_virtual.find(lpAddress);
    if (it == g_virtual.end()) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    if (call.Fault()) {
        ReleaseRefused(it->second.held, call);
        return FALSE;
    }
    Release(it->second.held);
    DriverMemoryReleased(it->second.base);
    // Released pages are gone: a later touch faults, as it does on Windows. The range is never
    // handed out again, so a stale pointer cannot land in a newer allocation.
    mprotect(it->second.base, it->second.size, PROT_NONE);
    g_virtual.erase(it);
    return TRUE;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem)
{
    PlatformCall call("LocalFree");
    if (!hMem)
        return NULL;
    auto it = g_local.find(hMem);
    if (it == g_local.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    if (call.Fault()) {
        ReleaseRefused(it->second, call);
        return hMem;
    }
    Release(it->second);
    g_local.erase(it);
    free(hMem);
    return NULL;
}

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPSTR lpBuffer, DWORD nSize, va_list *Arguments)
{
    PlatformCall call("FormatMessageA");
    bool allocate = dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER;
    if (allocate && lpBuffer)
        *(char **)lpBuffer = nullptr;
    if (call.Fault())
        return 0;
    // Without a buffer to write to, and none to allocate, nothing fits: the buffer is looked at
    // before the message.
    if (!allocate && !lpBuffer) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const char *source = nullptr;
    if (dwFlags & FORMAT_MESSAGE_FROM_STRING) {
        source = (const char *)lpSource;
    } else if (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) {
        // The program's own module has no message table: the system's is the one searched.
        auto it = SystemMessages().find(dwMessageId);
        if (it == SystemMessages().end()) {
            SetLastError(ERROR_MR_MID_NOT_FOUND);
            return 0;
        }
        if (!SystemHasLanguage(dwLanguageId)) {
            SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
            return 0;
        }
        source = it->second;
    } else if (dwFlags & FORMAT_MESSAGE_FROM_HMODULE) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return 0;
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    InsertArgs args;
    if (!(dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS)) {
        if (dwFlags & FORMAT_MESSAGE_ARGUMENT_ARRAY)
            args.array = (const DWORD_PTR *)Arguments;
        else
            args.list = Arguments;
    }
    std::string text;
    if (!FormatText(source, dwFlags, args, text))
        return 0;
    if (text.empty()) {
        SetLastError(ERROR_NO_WORK_DONE);
        return 0;
    }
    size_t len = text.size();
    if (allocate) {
        if (!lpBuffer) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        size_t size = std::max<size_t>(len + 1, nSize);
        char *p = (char *)malloc(size);
        memcpy(p, text.c_str(), len + 1);
        g_local[p] = Acquire("local", std::to_string(size) + " bytes", {{"size", size}});
        *(char **)lpBuffer = p;
        return (DWORD)len;
    }
    if (nSize < len + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(lpBuffer, text.c_str(), len + 1);
    return (DWORD)len;
}

}  // extern "C"
