// The platform calls of the Win32 surface and their documented failures.
//
// Defaults: the error a real system gives when the call fails for a reason outside the program (out
// of memory, a device gone, a handle refused); where the documents name the failure's error, that
// one. `error` in a scenario fault overrides it.
#include "calls.h"

#include <mmsystem.h>

#include <map>

namespace sim {

namespace {

using R = CallInfo;

constexpr DWORD kNotEnoughQuota = 1816;             // ERROR_NOT_ENOUGH_QUOTA
constexpr DWORD kTapiRequestFailed = 0xFFFFFFF0u;   // TAPIERR_REQUESTFAILED (-16)
const char* const kNotCalled = "the program does not call it";

const std::vector<CallInfo> kCalls = {
    // kernel32
    {"CloseHandle", "kernel32", R::LastError, ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE", "FALSE"},
    {"CopyFileA", "kernel32", R::LastError, ERROR_ACCESS_DENIED, "ERROR_ACCESS_DENIED", "FALSE"},
    {"CreateFileA", "kernel32", R::LastError, ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND", "INVALID_HANDLE_VALUE"},
    {"CreateThread", "kernel32", R::LastError, ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY", "NULL"},
    {"DeleteFileA", "kernel32", R::LastError, ERROR_ACCESS_DENIED, "ERROR_ACCESS_DENIED", "FALSE"},
    {"DeviceIoControl", "kernel32", R::LastError, ERROR_GEN_FAILURE, "ERROR_GEN_FAILURE", "FALSE"},
    {"FormatMessageA", "kernel32", R::LastError, ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY", "0"},
    {"FreeLibrary", "kernel32", R::LastError, ERROR_MOD_NOT_FOUND, "ERROR_MOD_NOT_FOUND", "FALSE"},
    {"GetFileAttributesA", "kernel32", R::LastError, ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND",
     "INVALID_FILE_ATTRIBUTES"},
    {"GetProcAddress", "kernel32", R::LastError, ERROR_PROC_NOT_FOUND, "ERROR_PROC_NOT_FOUND", "NULL"},
    {"GetVersionExA", "kernel32", R::LastError, ERROR_INSUFFICIENT_BUFFER, "ERROR_INSUFFICIENT_BUFFER", "FALSE"},
    {"GetWindowsDirectoryA", "kernel32", R::LastError, ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY", "0"},
    {"GlobalAlloc", "kernel32", R::LastError, ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY", "NULL"},
    {"GlobalFree", "kernel32", R::LastError, ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE", "the handle"},
    {"GlobalLock", "kernel32", R::LastError, ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE", "NULL"},
    {"GlobalUnlock", "kernel32", R::LastError, ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE", "FALSE"},
    {"LoadLibraryA", "kernel32", R::LastError, ERROR_MOD_NOT_FOUND, "ERROR_MOD_NOT_FOUND", "NULL"},
    {"LocalFree", "kernel32", R::LastError, ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE", "the handle"},
    {"ReadFile", "kernel32", R::LastError, ERROR_GEN_FAILURE, "ERROR_GEN_FAILURE", "FALSE"},
    {"SetFileAttributesA", "kernel32", R::LastError, ERROR_ACCESS_DENIED, "ERROR_ACCESS_DENIED", "FALSE"},
    {"TerminateThread", "kernel32", R::LastError, ERROR_ACCESS_DENIED, "ERROR_ACCESS_DENIED", "FALSE"},
    {"VirtualAlloc", "kernel32", R::LastError, ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY", "NULL"},
    {"VirtualFree", "kernel32", R::LastError, ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER", "FALSE"},
    {"WaitForSingleObject", "kernel32", R::LastError, ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE", "WAIT_FAILED"},
    {"WinExec", "kernel32", R::Result, ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND", "a value below 32"},
    {"DeleteCriticalSection", "kernel32", R::Refuses, 0, nullptr, "it returns nothing"},
    {"EnterCriticalSection", "kernel32", R::Refuses, 0, nullptr,
     "it returns nothing: a section another thread owns is waited for"},
    {"GetLastError", "kernel32", R::Refuses, 0, nullptr, "it has no failure result"},
    {"InitializeCriticalSection", "kernel32", R::Refuses, 0, nullptr,
     "it returns nothing (before Windows Vista a low-memory exception, never a result)"},
    {"LeaveCriticalSection", "kernel32", R::Refuses, 0, nullptr, "it returns nothing"},
    {"GetCurrentThreadId", "kernel32", R::Refuses, 0, nullptr, kNotCalled},
    {"GetExitCodeThread", "kernel32", R::Refuses, 0, nullptr, kNotCalled},
    {"GetModuleHandleA", "kernel32", R::Refuses, 0, nullptr, kNotCalled},
    {"GetTickCount", "kernel32", R::Refuses, 0, nullptr, kNotCalled},
    {"SetLastError", "kernel32", R::Refuses, 0, nullptr, kNotCalled},
    {"Sleep", "kernel32", R::Refuses, 0, nullptr, kNotCalled},
    // user32
    {"CreateDialogParamA", "user32", R::LastError, ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY", "NULL"},
    {"CreateWindowExA", "user32", R::LastError, ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY", "NULL"},
    {"DestroyWindow", "user32", R::LastError, ERROR_INVALID_WINDOW_HANDLE, "ERROR_INVALID_WINDOW_HANDLE", "FALSE"},
    {"GetSystemMetrics", "user32", R::Silent, 0, nullptr, "0"},
    {"GetWindowRect", "user32", R::LastError, ERROR_INVALID_WINDOW_HANDLE, "ERROR_INVALID_WINDOW_HANDLE", "FALSE"},
    {"KillTimer", "user32", R::LastError, ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER", "FALSE"},
    {"LoadCursorA", "user32", R::LastError, ERROR_RESOURCE_NAME_NOT_FOUND, "ERROR_RESOURCE_NAME_NOT_FOUND", "NULL"},
    {"LoadIconA", "user32", R::LastError, ERROR_RESOURCE_NAME_NOT_FOUND, "ERROR_RESOURCE_NAME_NOT_FOUND", "NULL"},
    {"MessageBoxA", "user32", R::LastError, ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY", "0"},
    {"PostMessageA", "user32", R::LastError, kNotEnoughQuota, "ERROR_NOT_ENOUGH_QUOTA", "FALSE"},
    {"RegisterClassA", "user32", R::LastError, ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY", "0"},
    {"SetDlgItemTextA", "user32", R::LastError, ERROR_CONTROL_ID_NOT_FOUND, "ERROR_CONTROL_ID_NOT_FOUND", "FALSE"},
    {"SetTimer", "user32", R::LastError, ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY", "0"},
    {"SetWindowPos", "user32", R::LastError, ERROR_INVALID_WINDOW_HANDLE, "ERROR_INVALID_WINDOW_HANDLE", "FALSE"},
    {"UpdateWindow", "user32", R::Silent, 0, nullptr, "FALSE"},
    {"DefWindowProcA", "user32", R::Refuses, 0, nullptr, "its result is the message's default answer, not a failure"},
    {"DispatchMessageA", "user32", R::Refuses, 0, nullptr,
     "its result is the window procedure's answer, not a failure"},
    {"GetMessageA", "user32", R::Refuses, 0, nullptr,
     "it fails (-1) only for an invalid window handle or message pointer; the program passes NULL and its own MSG"},
    {"IsDlgButtonChecked", "user32", R::Refuses, 0, nullptr,
     "its result is the button's state; it has no failure result"},
    {"PostQuitMessage", "user32", R::Refuses, 0, nullptr, "it returns nothing"},
    {"ShowWindow", "user32", R::Refuses, 0, nullptr, "its result is the window's previous visibility, not a failure"},
    {"TranslateMessage", "user32", R::Refuses, 0, nullptr, "zero means only that nothing was translated"},
    {"wsprintfA", "user32", R::Refuses, 0, nullptr,
     "it fails only when the output would pass 1024 characters; the program's texts stay far below that"},
    {"DefDlgProcA", "user32", R::Refuses, 0, nullptr, kNotCalled},
    {"FindWindowA", "user32", R::Refuses, 0, nullptr, kNotCalled},
    {"GetDlgItem", "user32", R::Refuses, 0, nullptr, kNotCalled},
    {"GetWindowTextA", "user32", R::Refuses, 0, nullptr, kNotCalled},
    {"IsWindow", "user32", R::Refuses, 0, nullptr, kNotCalled},
    {"IsWindowVisible", "user32", R::Refuses, 0, nullptr, kNotCalled},
    {"SendDlgItemMessageA", "user32", R::Refuses, 0, nullptr, kNotCalled},
    {"SendMessageA", "user32", R::Refuses, 0, nullptr, kNotCalled},
    {"SetWindowTextA", "user32", R::Refuses, 0, nullptr, kNotCalled},
    {"wvsprintfA", "user32", R::Refuses, 0, nullptr, kNotCalled},
    // gdi32
    {"GetStockObject", "gdi32", R::Silent, 0, nullptr, "NULL"},
    // advapi32
    {"RegCloseKey", "advapi32", R::Result, ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE", "the error"},
    {"RegOpenKeyA", "advapi32", R::Result, ERROR_ACCESS_DENIED, "ERROR_ACCESS_DENIED", "the error"},
    {"RegQueryValueExA", "advapi32", R::Result, ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND", "the error"},
    // winmm
    {"waveInAddBuffer", "winmm", R::Result, MMSYSERR_NOMEM, "MMSYSERR_NOMEM", "the error"},
    {"waveInClose", "winmm", R::Result, WAVERR_STILLPLAYING, "WAVERR_STILLPLAYING", "the error"},
    {"waveInOpen", "winmm", R::Result, MMSYSERR_ALLOCATED, "MMSYSERR_ALLOCATED", "the error"},
    {"waveInPrepareHeader", "winmm", R::Result, MMSYSERR_NOMEM, "MMSYSERR_NOMEM", "the error"},
    {"waveInReset", "winmm", R::Result, MMSYSERR_NOMEM, "MMSYSERR_NOMEM", "the error"},
    {"waveInStart", "winmm", R::Result, MMSYSERR_NOMEM, "MMSYSERR_NOMEM", "the error"},
    {"waveInStop", "winmm", R::Result, MMSYSERR_NOMEM, "MMSYSERR_NOMEM", "the error"},
    {"waveInUnprepareHeader", "winmm", R::Result, WAVERR_STILLPLAYING, "WAVERR_STILLPLAYING", "the error"},
    {"waveOutClose", "winmm", R::Result, WAVERR_STILLPLAYING, "WAVERR_STILLPLAYING", "the error"},
    {"waveOutOpen", "winmm", R::Result, MMSYSERR_ALLOCATED, "MMSYSERR_ALLOCATED", "the error"},
    {"waveOutPause", "winmm", R::Result, MMSYSERR_NOMEM, "MMSYSERR_NOMEM", "the error"},
    {"waveOutPrepareHeader", "winmm", R::Result, MMSYSERR_NOMEM, "MMSYSERR_NOMEM", "the error"},
    {"waveOutReset", "winmm", R::Result, MMSYSERR_NOMEM, "MMSYSERR_NOMEM", "the error"},
    {"waveOutRestart", "winmm", R::Result, MMSYSERR_NOMEM, "MMSYSERR_NOMEM", "the error"},
    {"waveOutUnprepareHeader", "winmm", R::Result, WAVERR_STILLPLAYING, "WAVERR_STILLPLAYING", "the error"},
    {"waveOutWrite", "winmm", R::Result, MMSYSERR_NOMEM, "MMSYSERR_NOMEM", "the error"},
    // rasapi32
    {"RasEnumConnectionsA", "rasapi32", R::Result, ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY", "the error"},
    // tapi32, reached through GetProcAddress
    {"tapiGetLocationInfoA", "tapi32", R::Result, kTapiRequestFailed, "TAPIERR_REQUESTFAILED", "the error"},
    {"tapiGetLocationInfo", "tapi32", R::Result, kTapiRequestFailed, "TAPIERR_REQUESTFAILED", "the error"},
};

}  // namespace

const CallInfo* FindCall(const std::string& name)
{
    static const std::map<std::string, const CallInfo*> by_name = [] {
        std::map<std::string, const CallInfo*> m;
        for (const CallInfo& c : kCalls)
            m[c.name] = &c;
        return m;
    }();
    auto it = by_name.find(name);
    return it == by_name.end() ? nullptr : it->second;
}

const std::vector<CallInfo>& AllCalls() { return kCalls; }

}  // namespace sim
