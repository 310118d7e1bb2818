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

std::string SourceDir();
std::string OutDir();  // build/wine, or build/wine32

}  // namespace wine

#endif
