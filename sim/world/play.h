// Playing a scenario: the world set up as the scenario says, and the program run in it.
#ifndef SIM_PLAY_H
#define SIM_PLAY_H

#include <functional>
#include <string>

#include "scenario.h"

namespace sim {

struct PlayOptions {
    std::function<void(const std::string &)> sink;  // every trace line, as JSON text
    std::string wav_speaker, wav_line;             // where to write what was heard, if anywhere
    bool calls = false;                            // end with the `calls` event
};

// Sets the world up and runs the program's WinMain in it. Never returns: the process ends with the
// scenario (exit status 0), after the trace's last line. Throws ScenarioError, before anything runs,
// for a scenario this world cannot play (a signal's WAV file it cannot read).
[[noreturn]] void Play(const Scenario &scenario, const PlayOptions &options);

}  // namespace sim

#endif
