// Running programs in the Wine prefix that tools/wine/ prepares: one session at a time.
#ifndef TESTS_TEST_WINE_SUPPORT_H
#define TESTS_TEST_WINE_SUPPORT_H

#include <string>

namespace wine {

// Which Wine the suites run against, from WINE_ARCH as tools/wine/env.sh reads it: "win64" (the
// x86_64 program under 64-bit Wine, the default) or "win32" (the shipped i686 program under 32-bit
// Wine through qemu's user mode, as scripts/wine32.sh prepares it).
std::string Arch();

// That Wine (/usr/lib/wine/wine64, or /usr/lib/wine/wine and a machine that runs 32-bit programs),
// mingw-w64 and Xvfb are installed.
bool Available();

// The program the suites play: build/win64/bin/vudizeri.exe, or build/win32/bin/vudizeri.exe.
std::string Program();

// Builds the Wine tools, starts the prefix's server with the driver double, and holds a lock so
// that no other session uses the prefix meanwhile; ends the server when it goes.
struct Session {
    Session();
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
    bool ok = false;
    std::string log;  // what went wrong when !ok
    // Runs a command line (a program of build/wine and its arguments) under Wine with a time limit
    // in seconds; returns what it wrote to standard output.
    std::string Run(const std::string &command_line, int seconds, int *status = nullptr);
};

// A scenario's text with the sequence as what the far end says and what the microphone hears (its
// driver.line and driver.mic, which shape only the samples): every sample then tells where it
// stands, so that a silence the sound server inserts is told from a lost or repeated sample.
std::string WithSequence(const std::string &yaml);

// What is wrong with the "audio" event (a JSON line) of a Wine run: a sample lost, repeated, out of
// order or not the signal's, in either direction, or no samples at all where `sound` says there
// were some. Empty when nothing is.
std::string AudioFaults(const std::string &audio_json, bool sound);

// One line of figures of an "audio" event: samples compared and matching, silences, start times.
std::string AudioFigures(const std::string &audio_json);

// A file's whole text (empty when it cannot be read).
std::string Slurp(const std::string &path);

std::string SourceDir();
std::string OutDir();  // build/wine, or build/wine32

}  // namespace wine

#endif
