// The platform calls of the Win32 surface, and how each one fails: its documented failure result, how
// it reports the error (the last error, or the result itself), and the error a scenario fault gives
// when it names none. Calls that cannot fail the way the program calls them refuse a fault, and say why.
#ifndef SIM_CALLS_H
#define SIM_CALLS_H

#include <windows.h>

#include <string>
#include <vector>

namespace sim {

struct CallInfo {
    enum Report {
        LastError,  // fails with its failure result and sets the last error
        Result,     // returns the error code itself (MMRESULT, LSTATUS, ...)
        Silent,     // documented to give no extended error: the last error is left as it is
        Refuses,    // cannot fail the way the program calls it: a fault on it is a bad scenario
    };
    const char* name;
    const char* dll;
    Report report;
    DWORD error;             // the default error of a fault (LastError, Result)
    const char* error_name;  // its name, as the documentation spells it
    const char* failure;     // the failure result; for Refuses: why it cannot fail
};

// Null for a name the world does not know.
const CallInfo* FindCall(const std::string& name);
const std::vector<CallInfo>& AllCalls();

}  // namespace sim

#endif
