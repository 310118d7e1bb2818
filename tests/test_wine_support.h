// Running programs in the Wine prefix that tools/wine/ prepares: one session at a time.
#ifndef TESTS_TEST_WINE_SUPPORT_H
#define TESTS_TEST_WINE_SUPPORT_H

#include <string>

namespace wine {

// Wine (/usr/lib/wine/wine64), mingw-w64 and Xvfb are installed.
bool Available();

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
std::string OutDir();  // build/wine

}  // namespace wine

#endif
