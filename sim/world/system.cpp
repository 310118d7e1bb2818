// The system around the program, set up from a scenario; and the power events it sends.
#include <windows.h>

#include "system.h"
#include "user32.h"
#include "world.h"

namespace sim {

void SetupSystem(const Scenario &scenario)
{
    SetOsVersion(scenario.platform, scenario.major, scenario.minor);
    SetWindowsDir(scenario.windows_dir);
    for (const auto &[path, file] : scenario.files)
        PutFile(path, file.content, file.attributes);
    SetTelephony(scenario.telephony);
    SetDialUpConnections(scenario.dialup);
}

bool PowerBroadcast(uint32_t event)
{
    Window *host = FindTopLevel("Tarvo VudIzeri", "");
    if (!host)
        return false;
    int queries_before = DialUpQueries();
    SendFromWorld(host->handle, WM_POWERBROADCAST, event, 0, [event, queries_before](LRESULT answer) {
        Emit("power", {{"event", event},
                       {"answer", answer == BROADCAST_QUERY_DENY ? "deny" : "default"},
                       {"result", static_cast<int64_t>(answer)},
                       {"dialup_queries", DialUpQueries() - queries_before}});
    });
    return true;
}

}  // namespace sim
