// Linked into the coverage build only (-Wl,--wrap=_exit): the program's runs end their processes with
// _exit (the world's end of a scenario, the tests' forked children), which skips the coverage
// counters' dump at exit. Dump them first.
#include <unistd.h>

extern "C" void __gcov_dump(void);
extern "C" [[noreturn]] void __real__exit(int status);

extern "C" [[noreturn]] void __wrap__exit(int status)
{
    __gcov_dump();
    __real__exit(status);
}
