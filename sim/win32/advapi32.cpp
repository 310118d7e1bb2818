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
    // On any failure the output key is NULL.
    *phkResult = NULL;
    if (auto e = call.Fault())
        return (LSTATUS)*e;
    bool other_predefined = hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_CLASSES_ROOT;
    if (hKey != HKEY_CURRENT_USER && !other_predefined && !g_open.count(hKey))
        return ERROR_INVALID_HANDLE;
    // No subkey (NULL or empty) opens the key itself: the same handle comes back.
    if (!lpSubKey || !*lpSubKey) {
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    // The machine's and the classes' keys hold nothing the world knows of.
    if (other_predefined)
        return ERROR_FILE_NOT_FOUND;
    // A backslash at the end names the same key.
    std::string sub = lpSubKey;
    while (!sub.empty() && sub.back() == '\\')
        sub.pop_back();
    std::string path;
    if (hKey == HKEY_CURRENT_USER)
        path = sub;
    else
        path = g_open[hKey].path + "\\" + sub;
    if (sub.empty() || !g_keys.count(path))
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
    // The current user's predefined key is read as it stands, without being opened.
    auto open = g_open.find(hKey);
    if (open == g_open.end() && hKey != HKEY_CURRENT_USER)
        return ERROR_INVALID_HANDLE;
    if (lpReserved || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    if (auto e = call.Fault())
        return (LSTATUS)*e;
    Key &key = g_keys[open == g_open.end() ? std::string() : open->second.path];
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
