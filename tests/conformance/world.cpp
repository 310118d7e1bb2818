// The conformance suite in the world: a fresh world set up as a default machine (the defaults of a
// scenario: Windows XP unless --windows names another version, its Windows directory, an English locale, a sound card with both devices, no
// dial-up connection, the telephony library present, no driver), and the suite's main function run
// as the program's main thread in it. Exit status 1 when a check failed or the world ended the run
// (a check that waits for something that never comes).
#include <unistd.h>

#include <cstdio>
#include <string>

#include "registry.h"
#include "scenario.h"
#include "sound.h"
#include "system.h"
#include "world.h"

extern "C" int conformance_main(int argc, char **argv);

int main(int argc, char **argv)
{
    sim::AtFinish([] {
        printf("conformance: the world ended the run at %lld ms before the suite finished\n",
               (long long)sim::Now());
        fflush(stdout);
        _exit(1);
    });
    // --windows VERSION (95, 98, me, nt4, 2000, xp, 2003, vista, 7): the machine runs that version,
    // as a scenario's system.windows says it; the areas to run follow.
    sim::Scenario machine;
    if (argc >= 3 && std::string(argv[1]) == "--windows") {
        try {
            machine = sim::ParseScenario("system: {windows: '" + std::string(argv[2]) + "'}\n", "--windows");
        } catch (const sim::ScenarioError &e) {
            fprintf(stderr, "%s\n", e.what());
            return 2;
        }
        argv[2] = argv[0];
        argc -= 2;
        argv += 2;
    }
    printf("conformance: Windows %u.%u, platform %u\n", machine.major, machine.minor, machine.platform);
    sim::SetupSystem(machine);
    sim::RegistryCreateKey("Control Panel\\International");
    sim::RegistrySetValue("Control Panel\\International", "Locale", REG_SZ, std::string("00000409", 9));
    sim::PutFile(machine.windows_dir + "\\win.ini", "[windows]\r\n", FILE_ATTRIBUTE_ARCHIVE);
    sim::SoundConfigure(true, true, true);
    sim::SetEndTime(3600 * 1000);
    int code = sim::RunMain([argc, argv] { return conformance_main(argc, argv); });
    fflush(stdout);
    _exit(code);
}
