// The watch thread: waits on the voice device and follows the driver's speakerphone requests.
#ifndef SPEAKER_WATCH_H
#define SPEAKER_WATCH_H

#include <windows.h>

#define WATCH_TRACE_SIZE 72

extern char WatchTrace[WATCH_TRACE_SIZE];  // last step of the thread; nothing reads it

DWORD WINAPI WatchProc(LPVOID param);

#endif
