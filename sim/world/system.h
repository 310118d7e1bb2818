// The system around the program: its version, its Windows directory and files, the telephony
// library, the dial-up connections, global memory and power events. World-side setup and queries
// for the player and the tests; the Win32 calls themselves are declared in <windows.h> and <ras.h>.
#ifndef SIM_SYSTEM_H
#define SIM_SYSTEM_H

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "scenario.h"

namespace sim {

// ---- version ----
// What GetVersionExA reports. The build number and service pack follow from the version.
void SetOsVersion(uint32_t platform, uint32_t major, uint32_t minor);
// What the calls that differ between versions ask: Windows 95, 98 or Me (platform 1); Windows 95
// itself (4.0 of platform 1) and 98 (4.10); the NT family before 5.0 (NT 4 and older).
bool IsWindows9x();
bool IsWindows95();
bool IsWindows98();
bool IsNtBefore5();

// ---- Windows directory and files ----
void SetWindowsDir(const std::string &dir);
// Creates or replaces a file (paths are case-insensitive, as on Windows); its directories exist.
void PutFile(const std::string &path, const std::string &content, uint32_t attributes);
// The file as it is now, or nothing when there is none.
std::optional<SimFile> FileAt(const std::string &path);

// ---- telephony: "location", "no-location", "no-function" or "no-library" ----
void SetTelephony(const std::string &mode);
int TelephonyLibraryLoads();   // LoadLibraryA calls that loaded the telephony library
int TelephonyLocationCalls();  // calls of its tapiGetLocationInfoA

// ---- dial-up networking ----
void SetDialUpConnections(int connections);
int DialUpQueries();           // RasEnumConnectionsA calls so far

// ---- global memory ----
int GlobalBlocksInUse();       // GlobalAlloc blocks not yet freed

// ---- power ----
// From a world event: sends WM_POWERBROADCAST with this event to the program's host window and
// traces its answer ("power": event, answer deny or default, result, dialup_queries made for it).
// False when there is no host window to send it to.
bool PowerBroadcast(uint32_t event);

// All of the above from a scenario's "system" section.
void SetupSystem(const Scenario &scenario);

}  // namespace sim

#endif
