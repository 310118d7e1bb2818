// The registry of the world: keys and values under HKEY_CURRENT_USER.
#ifndef SIM_REGISTRY_H
#define SIM_REGISTRY_H

#include <windows.h>

#include <string>

namespace sim {

void RegistryCreateKey(const std::string &path);
// Stores the value's bytes as they are: a REG_SZ value need not end in a NUL.
void RegistrySetValue(const std::string &path, const std::string &name, DWORD type, const std::string &data);

}  // namespace sim

#endif
