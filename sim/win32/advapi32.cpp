// advapi32: the registry of the current user, as far as the program reads it.
#include "registry.h"

#include <strings.h>

#include <cstring>
#include <map>
#include <memory>

#include "handles.h"
#include "world.h"

namespace sim {

namespace {

struct CaseLess {
    bool operator()(const std::string &a, const std::string &b) const { return strcasecmp(a.c_str(), b.c_str()) < 0; }
};
struct Value {
    DWORD type;
    std::string data;
};
struct Key {
    std::map<std::string, Value, CaseLess> values;
};
std::map<std::string, Key, CaseLess> g_keys;  // full paths under HKEY_CURRENT_USER
struct OpenKey {
    std::string path;
    HeldTicket held;
};
std::map<HKEY, OpenKey> g_open;
uintptr_t g_next_key = 0x2000;

}  // namespace

void RegistryCreateKey(const std::string &path) { g_keys[path]; }
void RegistrySetValue(const std::string &path, const std::string &name, DWORD type, const std::string &data)
{
    g_keys[path].values[name] = Value{type, data};
}

}  // namespace sim

using namespace sim;

extern "C" {

LSTATUS WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult)
{
    PlatformCall call("RegOpenKeyA");
    YieldPoint();
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    if (auto e = call.Fault())
        return (LSTATUS)*e;
    // No subkey (NULL or empty) opens the key itself: the same handle comes back.
    if (!lpSubKey || !*lpSubKey) {
        if (hKey != HKEY_CURRENT_USER && !g_open.count(hKey))
            return ERROR_INVALID_HANDLE;
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    std::string path;
    if (hKey == HKEY_CURRENT_USER)
        path = lpSubKey;
    else if (auto parent = g_open.find(hKey); parent != g_open.end())
        path = parent->second.path + "\\" + lpSubKey;
    else
        return ERROR_FILE_NOT_FOUND;
    if (!g_keys.count(path))
        return ERROR_FILE_NOT_FOUND;
    HKEY h = (HKEY)g_next_key;
    g_next_key += 4;
    HeldTicket held = Acquire("key", "HKEY_CURRENT_USER\\" + path, {{"handle", HandleText((uintptr_t)h)}});
    g_open[h] = OpenKey{path, held};
    *phkResult = h;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData)
{
    PlatformCall call("RegQueryValueExA");
    YieldPoint();
    auto open = g_open.find(hKey);
    if (open == g_open.end())
        return ERROR_INVALID_HANDLE;
    if (lpReserved || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    if (auto e = call.Fault())
        return (LSTATUS)*e;
    Key &key = g_keys[open->second.path];
    auto it = key.values.find(lpValueName ? lpValueName : "");
    if (it == key.values.end())
        return ERROR_FILE_NOT_FOUND;
    const Value &v = it->second;
    if (lpType)
        *lpType = v.type;
    if (!lpcbData)
        return ERROR_SUCCESS;
    DWORD size = (DWORD)v.data.size();
    if (lpData && *lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (lpData)
        memcpy(lpData, v.data.data(), size);
    *lpcbData = size;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY hKey)
{
    PlatformCall call("RegCloseKey");
    // A predefined key is never really opened: closing it succeeds and changes nothing.
    if (hKey == HKEY_CURRENT_USER || hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_CLASSES_ROOT)
        return ERROR_SUCCESS;
    auto open = g_open.find(hKey);
    if (open == g_open.end())
        return ERROR_INVALID_HANDLE;
    if (auto e = call.Fault()) {
        ReleaseRefused(open->second.held, call);
        return (LSTATUS)*e;
    }
    Release(open->second.held);
    g_open.erase(open);
    return ERROR_SUCCESS;
}

}  // extern "C"
