// kernel32, the system side: version, Windows directory, the files the program touches, WinExec,
// run-time loading of the telephony library, and global memory.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "handles.h"
#include "system.h"
#include "world.h"

namespace sim {
namespace {

// ---- state of the system ----
struct Version {
    uint32_t platform = VER_PLATFORM_WIN32_NT, major = 5, minor = 1;
};
Version version;
std::string windows_dir = "C:\\WINDOWS";

struct FileEntry {
    std::string path;  // as it was first named
    SimFile file;
};
std::map<std::string, FileEntry> files;  // by normalised path
std::set<std::string> directories;       // normalised paths of the directories that exist

std::string telephony = "location";
int telephony_refs = 0;                  // LoadLibraryA references to the loaded library
int telephony_loads = 0;
int telephony_location_calls = 0;
// The library's image: its address is the module handle.
char telephony_image[64];
std::vector<HeldTicket> telephony_held;  // one per reference, in the account of what is held

struct GlobalBlock {
    unsigned char *data = nullptr;
    size_t size = 0;
    bool moveable = false;
    int locks = 0;
    HeldTicket held = 0;
    std::vector<HeldTicket> lock_held;  // one per lock not yet undone
};
std::map<HGLOBAL, GlobalBlock> global_blocks;
uintptr_t next_moveable_handle = 0x10000;

// What the versions report beyond platform, major and minor.
struct VersionDetail {
    uint32_t platform, major, minor, build;
    const char *csd;
    uint16_t sp_major;
    uint8_t product;
};
const VersionDetail kVersionDetails[] = {
    {1, 4, 0, 950, "", 0, 0},          // 95
    {1, 4, 10, 1998, "", 0, 0},        // 98
    {1, 4, 90, 3000, "", 0, 0},        // Me
    {2, 4, 0, 1381, "Service Pack 6", 6, VER_NT_WORKSTATION},
    {2, 5, 0, 2195, "Service Pack 4", 4, VER_NT_WORKSTATION},
    {2, 5, 1, 2600, "Service Pack 3", 3, VER_NT_WORKSTATION},
    {2, 5, 2, 3790, "Service Pack 2", 2, VER_NT_SERVER},
    {2, 6, 0, 6002, "Service Pack 2", 2, VER_NT_WORKSTATION},
    {2, 6, 1, 7601, "Service Pack 1", 1, VER_NT_WORKSTATION},
};

// ---- paths ----
// Upper case, forward slashes as backslashes, runs of backslashes as one (a leading pair stays).
std::string Normalise(const std::string &path)
{
    std::string out;
    for (size_t i = 0; i < path.size(); ++i) {
        char c = path[i] == '/' ? '\\' : path[i];
        if (c == '\\' && !out.empty() && out.back() == '\\' && out.size() > 1)
            continue;
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        out += c;
    }
    while (out.size() > 3 && out.back() == '\\')
        out.pop_back();
    return out;
}

std::string Parent(const std::string &normalised)
{
    size_t slash = normalised.rfind('\\');
    if (slash == std::string::npos)
        return std::string();
    return normalised.substr(0, slash);
}

bool IsDriveRoot(const std::string &normalised)
{
    return (normalised.size() == 2 || (normalised.size() == 3 && normalised[2] == '\\')) &&
           normalised[1] == ':';
}

bool DirectoryExists(const std::string &normalised)
{
    return IsDriveRoot(normalised) || directories.count(normalised) != 0;
}

void AddDirectories(const std::string &normalised_dir)
{
    for (std::string d = normalised_dir; !d.empty() && !IsDriveRoot(d); d = Parent(d))
        directories.insert(d);
}

DWORD HiddenOrSystem(const SimFile &f) { return f.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM); }

// The error for a path that names nothing: the file is missing, or already its directory is.
DWORD MissingError(const std::string &normalised)
{
    return DirectoryExists(Parent(normalised)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

// Attributes a program may set; FILE_ATTRIBUTE_NORMAL means none of them.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | 0x100 /*TEMPORARY*/ |
                                      0x1000 /*OFFLINE*/ | 0x2000 /*NOT_CONTENT_INDEXED*/;
constexpr DWORD kDirectoryAttribute = 0x10;

DWORD Reported(uint32_t attributes)
{
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

void TraceFile(const char *op, const std::string &path, Json extra, bool ok, DWORD error)
{
    Json fields = {{"op", op}, {"path", AnsiToUtf8(path)}};
    for (auto &item : extra.items())
        fields[item.key()] = item.value();
    fields["ok"] = ok;
    if (!ok)
        fields["error"] = error;
    Emit("file", std::move(fields));
}

bool Fail(DWORD error)
{
    LastError() = error;
    return false;
}

// The telephony library's location query: the real signature, reached only through
// GetProcAddress, as the program must reach it.
LONG LocationInfo(PlatformCall &call, LPSTR lpszCountryCode, LPSTR lpszCityCode)
{
    YieldPoint();
    ++telephony_location_calls;
    if (auto error = call.Fault())
        return static_cast<LONG>(*error);
    // Without a dialing location the library cannot answer.
    if (telephony != "location")
        return -16;  // TAPIERR_REQUESTFAILED
    if (!lpszCountryCode || !lpszCityCode)
        return -16;
    std::strcpy(lpszCountryCode, "1");
    std::strcpy(lpszCityCode, "555");
    return 0;
}

LONG WINAPI tapiGetLocationInfoA(LPSTR lpszCountryCode, LPSTR lpszCityCode)
{
    PlatformCall call("tapiGetLocationInfoA");
    return LocationInfo(call, lpszCountryCode, lpszCityCode);
}

// The same query under its generic name: the only one the telephony library of Windows 95
// (TAPI 1.4) has; the later libraries keep it for the programs written for that one, as the ANSI
// version.
LONG WINAPI tapiGetLocationInfo(LPSTR lpszCountryCode, LPSTR lpszCityCode)
{
    PlatformCall call("tapiGetLocationInfo");
    return LocationInfo(call, lpszCountryCode, lpszCityCode);
}

// The library's exports by name: the ANSI names came with TAPI 2.0, after Windows 95.
FARPROC TelephonyExport(const char *name)
{
    if (telephony == "no-function")
        return nullptr;
    if (std::strcmp(name, "tapiGetLocationInfo") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(&tapiGetLocationInfo));
    if (std::strcmp(name, "tapiGetLocationInfoA") == 0 && !IsWindows95())
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(&tapiGetLocationInfoA));
    return nullptr;
}

bool IsTelephonyLibraryName(const char *name)
{
    std::string base = name;
    size_t slash = base.find_last_of("\\/");
    if (slash != std::string::npos)
        base = base.substr(slash + 1);
    base = Normalise(base);
    // A name without an extension gets ".DLL", as the loader does.
    if (base.find('.') == std::string::npos)
        base += ".DLL";
    return base == "TAPI32.DLL";
}

}  // namespace

// ---- world side ----
void SetOsVersion(uint32_t platform, uint32_t major, uint32_t minor)
{
    version.platform = platform;
    version.major = major;
    version.minor = minor;
}

bool IsWindows9x() { return version.platform == VER_PLATFORM_WIN32_WINDOWS; }
bool IsWindows95() { return IsWindows9x() && version.major == 4 && version.minor == 0; }
bool IsWindows98() { return IsWindows9x() && version.major == 4 && version.minor == 10; }
bool IsNtBefore5() { return version.platform == VER_PLATFORM_WIN32_NT && version.major < 5; }

void SetWindowsDir(const std::string &dir)
{
    windows_dir = dir;
    std::string n = Normalise(dir);
    AddDirectories(n);
    AddDirectories(n + "\\SYSTEM32");
}

void PutFile(const std::string &path, const std::string &content, uint32_t attributes)
{
    std::string n = Normalise(path);
    AddDirectories(Parent(n));
    auto it = files.find(n);
    FileEntry entry{it == files.end() ? path : it->second.path, SimFile{content, attributes}};
    files[n] = entry;
}

std::optional<SimFile> FileAt(const std::string &path)
{
    auto it = files.find(Normalise(path));
    if (it == files.end())
        return std::nullopt;
    return it->second.file;
}

void SetTelephony(const std::string &mode) { telephony = mode; }
int TelephonyLibraryLoads() { return telephony_loads; }
int TelephonyLocationCalls() { return telephony_location_calls; }

int GlobalBlocksInUse() { return static_cast<int>(global_blocks.size()); }

}  // namespace sim

using namespace sim;

// ---- version ----
BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info)
{
    PlatformCall call("GetVersionExA");
    YieldPoint();
    if (call.Fault())
        return FALSE;
    if (!info)
        return Fail(ERROR_NOACCESS);
    DWORD size = info->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA))
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    // OSVERSIONINFOEX: "Windows: Unsupported." Windows 95, 98 and Me know only the first size.
    if (size == sizeof(OSVERSIONINFOEXA) && version.platform == VER_PLATFORM_WIN32_WINDOWS)
        return Fail(ERROR_INSUFFICIENT_BUFFER);

    const VersionDetail *detail = nullptr;
    for (const VersionDetail &d : kVersionDetails)
        if (d.platform == version.platform && d.major == version.major && d.minor == version.minor)
            detail = &d;
    info->dwMajorVersion = version.major;
    info->dwMinorVersion = version.minor;
    info->dwPlatformId = version.platform;
    uint32_t build = detail ? detail->build : 0;
    // The 9x family keeps the version in the high word of the build number.
    info->dwBuildNumber = version.platform == VER_PLATFORM_WIN32_WINDOWS
                              ? ((version.major & 0xFF) << 24 | (version.minor & 0xFF) << 16 | build)
                              : build;
    std::memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
    std::strcpy(info->szCSDVersion, detail ? detail->csd : "");
    if (size == sizeof(OSVERSIONINFOEXA)) {
        auto *ex = reinterpret_cast<LPOSVERSIONINFOEXA>(info);
        ex->wServicePackMajor = detail ? detail->sp_major : 0;
        ex->wServicePackMinor = 0;
        ex->wSuiteMask = 0;
        ex->wProductType = detail ? detail->product : VER_NT_WORKSTATION;
        ex->wReserved = 0;
    }
    return TRUE;
}

// ---- Windows directory ----
UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    PlatformCall call("GetWindowsDirectoryA");
    YieldPoint();
    if (call.Fault())
        return 0;
    UINT length = static_cast<UINT>(windows_dir.size());
    // Too small: nothing is written and the answer is the size needed, terminating zero included.
    if (!lpBuffer || uSize <= length)
        return length + 1;
    std::memcpy(lpBuffer, windows_dir.c_str(), length + 1);
    return length;
}

// ---- files ----
DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName)
{
    PlatformCall call("GetFileAttributesA");
    YieldPoint();
    if (call.Fault())
        return INVALID_FILE_ATTRIBUTES;
    if (!lpFileName || !*lpFileName) {
        Fail(lpFileName ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    std::string n = Normalise(lpFileName);
    auto it = files.find(n);
    if (it != files.end())
        return Reported(it->second.file.attributes);
    if (DirectoryExists(n))
        return kDirectoryAttribute;
    Fail(MissingError(n));
    return INVALID_FILE_ATTRIBUTES;
}

BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes)
{
    PlatformCall call("SetFileAttributesA");
    YieldPoint();
    if (!lpFileName)
        return Fail(ERROR_INVALID_PARAMETER);
    Json extra = {{"attributes", dwFileAttributes}};
    if (auto error = call.Fault()) {
        TraceFile("attributes", lpFileName, extra, false, *error);
        return FALSE;
    }
    std::string n = Normalise(lpFileName);
    auto it = files.find(n);
    if (it == files.end()) {
        DWORD error = DirectoryExists(n) ? NO_ERROR : MissingError(n);
        TraceFile("attributes", lpFileName, extra, error == NO_ERROR, error);
        // Directories keep what they are; only files are modelled in detail.
        return error == NO_ERROR ? TRUE : Fail(error);
    }
    it->second.file.attributes = dwFileAttributes & kSettableAttributes;
    TraceFile("attributes", lpFileName, extra, true, NO_ERROR);
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName)
{
    PlatformCall call("DeleteFileA");
    YieldPoint();
    if (!lpFileName)
        return Fail(ERROR_INVALID_PARAMETER);
    if (auto error = call.Fault()) {
        TraceFile("delete", lpFileName, Json::object(), false, *error);
        return FALSE;
    }
    std::string n = Normalise(lpFileName);
    auto it = files.find(n);
    DWORD error = NO_ERROR;
    if (it == files.end())
        error = DirectoryExists(n) ? ERROR_ACCESS_DENIED : MissingError(n);
    else if (it->second.file.attributes & FILE_ATTRIBUTE_READONLY)
        error = ERROR_ACCESS_DENIED;
    TraceFile("delete", lpFileName, Json::object(), error == NO_ERROR, error);
    if (error != NO_ERROR)
        return Fail(error);
    files.erase(it);
    return TRUE;
}

BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists)
{
    PlatformCall call("CopyFileA");
    YieldPoint();
    if (!lpExistingFileName || !lpNewFileName)
        return Fail(ERROR_INVALID_PARAMETER);
    Json extra = {{"from", AnsiToUtf8(lpExistingFileName)}};
    if (auto error = call.Fault()) {
        TraceFile("copy", lpNewFileName, extra, false, *error);
        return FALSE;
    }
    std::string from = Normalise(lpExistingFileName), to = Normalise(lpNewFileName);
    auto source = files.find(from);
    auto target = files.find(to);
    DWORD error = NO_ERROR;
    // The source is opened first: a directory cannot be opened as a file. The target is then created
    // anew with the source's attributes, which fails on a read-only file, and on a hidden or system
    // file unless the source has those attributes too (CREATE_ALWAYS).
    if (DirectoryExists(from))
        error = ERROR_ACCESS_DENIED;
    else if (source == files.end())
        error = MissingError(from);
    else if (!DirectoryExists(Parent(to)))
        error = ERROR_PATH_NOT_FOUND;
    else if (from == to)
        error = ERROR_SHARING_VIOLATION;
    else if (DirectoryExists(to))
        error = ERROR_ACCESS_DENIED;
    else if (target != files.end() && bFailIfExists)
        error = ERROR_FILE_EXISTS;
    else if (target != files.end() && (target->second.file.attributes & FILE_ATTRIBUTE_READONLY))
        error = ERROR_ACCESS_DENIED;
    else if (target != files.end() && (HiddenOrSystem(target->second.file) & ~source->second.file.attributes))
        error = ERROR_ACCESS_DENIED;
    if (error != NO_ERROR) {
        TraceFile("copy", lpNewFileName, extra, false, error);
        return Fail(error);
    }
    // The copy takes the source's content and attributes.
    SimFile copy = source->second.file;
    std::string name = target != files.end() ? target->second.path : std::string(lpNewFileName);
    files[to] = FileEntry{name, copy};
    extra["attributes"] = Reported(copy.attributes);
    TraceFile("copy", lpNewFileName, extra, true, NO_ERROR);
    return TRUE;
}

// ---- WinExec ----
UINT WINAPI WinExec(LPCSTR lpCmdLine, UINT uCmdShow)
{
    PlatformCall call("WinExec");
    YieldPoint();
    if (auto error = call.Fault())
        return *error < 32 ? static_cast<UINT>(*error) : 0;
    if (!lpCmdLine || !*lpCmdLine)
        return ERROR_FILE_NOT_FOUND;
    Emit("exec", {{"command", AnsiToUtf8(lpCmdLine)}, {"show", uCmdShow}});
    // The started program runs on its own; the caller learns only that it started.
    return 33;
}

// ---- run-time loading ----
HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName)
{
    PlatformCall call("LoadLibraryA");
    YieldPoint();
    if (call.Fault())
        return nullptr;
    if (!lpLibFileName) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!IsTelephonyLibraryName(lpLibFileName) || telephony == "no-library") {
        Fail(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (telephony_refs++ == 0)
        ++telephony_loads;
    telephony_held.push_back(Acquire("module", lpLibFileName));
    return reinterpret_cast<HMODULE>(telephony_image);
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    PlatformCall call("GetProcAddress");
    YieldPoint();
    if (call.Fault())
        return nullptr;
    // No module is the program's own, which exports nothing.
    if (!hModule) {
        Fail(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    if (hModule != reinterpret_cast<HMODULE>(telephony_image) || telephony_refs == 0) {
        Fail(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // By ordinal, or by a name the library does not export.
    FARPROC function = !lpProcName || IS_INTRESOURCE(lpProcName) ? nullptr : TelephonyExport(lpProcName);
    if (!function)
        Fail(ERROR_PROC_NOT_FOUND);
    return function;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule)
{
    PlatformCall call("FreeLibrary");
    YieldPoint();
    if (hLibModule != reinterpret_cast<HMODULE>(telephony_image) || telephony_refs == 0)
        return Fail(ERROR_MOD_NOT_FOUND);
    if (call.Fault()) {
        ReleaseRefused(telephony_held.back(), call);
        return FALSE;
    }
    --telephony_refs;
    Release(telephony_held.back());
    telephony_held.pop_back();
    return TRUE;
}

// ---- global memory ----
HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes)
{
    PlatformCall call("GlobalAlloc");
    YieldPoint();
    if (call.Fault())
        return nullptr;
    if (dwBytes > 0x7FFFFFFF) {
        Fail(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    GlobalBlock block;
    block.size = dwBytes;
    block.moveable = (uFlags & GMEM_MOVEABLE) != 0;
    block.data = static_cast<unsigned char *>(std::malloc(dwBytes ? dwBytes : 1));
    if (!block.data) {
        Fail(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // Memory that is not asked to be zeroed is not: whoever relies on it sees the pattern.
    std::memset(block.data, (uFlags & GMEM_ZEROINIT) ? 0 : 0xCD, dwBytes ? dwBytes : 1);
    HGLOBAL handle;
    if (block.moveable) {
        handle = reinterpret_cast<HGLOBAL>(next_moveable_handle);
        next_moveable_handle += 16;
    } else {
        handle = block.data;
    }
    // A fixed block's handle is its address, which differs from run to run: only a moveable one's
    // handle is shown.
    Json keys = {{"size", dwBytes}};
    if (block.moveable)
        keys["handle"] = HandleText(reinterpret_cast<uintptr_t>(handle));
    block.held = Acquire("global", std::to_string(dwBytes) + " bytes", keys);
    global_blocks[handle] = block;
    return handle;
}

LPVOID WINAPI GlobalLock(HGLOBAL hMem)
{
    PlatformCall call("GlobalLock");
    YieldPoint();
    auto it = global_blocks.find(hMem);
    if (it == global_blocks.end()) {
        Fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (call.Fault())
        return nullptr;
    GlobalBlock &block = it->second;
    if (!block.moveable)
        return block.data;
    // A moveable block of no bytes is discarded: there is nothing to lock.
    if (block.size == 0)
        return nullptr;
    ++block.locks;
    block.lock_held.push_back(Acquire("global", "lock of " + std::to_string(block.size) + " bytes",
                                      {{"handle", HandleText(reinterpret_cast<uintptr_t>(hMem))}}));
    return block.data;
}

BOOL WINAPI GlobalUnlock(HGLOBAL hMem)
{
    PlatformCall call("GlobalUnlock");
    YieldPoint();
    auto it = global_blocks.find(hMem);
    if (it == global_blocks.end())
        return Fail(ERROR_INVALID_HANDLE);
    GlobalBlock &block = it->second;
    if (call.Fault()) {
        if (!block.lock_held.empty())
            ReleaseRefused(block.lock_held.back(), call);
        return FALSE;
    }
    if (!block.moveable)
        return TRUE;
    if (block.locks == 0)
        return Fail(ERROR_NOT_LOCKED);
    Release(block.lock_held.back());
    block.lock_held.pop_back();
    if (--block.locks > 0)
        return TRUE;
    // Unlocked now: zero, with no error.
    return Fail(NO_ERROR);
}

HGLOBAL WINAPI GlobalFree(HGLOBAL hMem)
{
    PlatformCall call("GlobalFree");
    YieldPoint();
    if (!hMem)
        return nullptr;
    auto it = global_blocks.find(hMem);
    if (it == global_blocks.end()) {
        Fail(ERROR_INVALID_HANDLE);
        return hMem;
    }
    if (call.Fault()) {
        ReleaseRefused(it->second.held, call);
        return hMem;
    }
    // A locked block is freed too; its locks go with it.
    Release(it->second.held);
    for (HeldTicket lock : it->second.lock_held)
        Release(lock);
    std::free(it->second.data);
    global_blocks.erase(it);
    return nullptr;
}
