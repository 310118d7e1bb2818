// The process entry of the Windows program, and the two memory routines the compiler may call.
// The program links no C runtime: the oldest systems it runs on have no C runtime DLL, and the
// start-up code that comes with the compiler is built for newer processors than ours.
#include <windows.h>

#include <stddef.h>

// The system calls this with nothing on the stack; it never returns.
extern "C" void WinMainCRTStartup(void)
{
    // WinMain gets the command line without the program's name, as the C runtime gives it.
    LPSTR commandLine = GetCommandLineA();
    if (*commandLine == '"') {
        commandLine++;
        while (*commandLine && *commandLine != '"')
            commandLine++;
        if (*commandLine == '"')
            commandLine++;
    } else {
        while (*commandLine > ' ')
            commandLine++;
    }
    while (*commandLine && *commandLine <= ' ')
        commandLine++;

    STARTUPINFOA startup;
    startup.cb = sizeof(startup);
    GetStartupInfoA(&startup);
    int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;

    ExitProcess((UINT)WinMain(GetModuleHandleA(NULL), NULL, commandLine, show));
}

// The compiler turns structure fills and copies into calls of these two (this file is compiled so
// that it does not turn the loops below into calls of themselves). Byte by byte is enough: the
// largest the program fills is a sample area of the speakerphone block, when a stream starts.
extern "C" void *memset(void *destination, int value, size_t count)
{
    unsigned char *bytes = (unsigned char *)destination;
    while (count--)
        *bytes++ = (unsigned char)value;
    return destination;
}

extern "C" void *memcpy(void *destination, const void *source, size_t count)
{
    unsigned char *to = (unsigned char *)destination;
    const unsigned char *from = (const unsigned char *)source;
    while (count--)
        *to++ = *from++;
    return destination;
}
