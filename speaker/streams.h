// The playback and capture streams between the speakerphone block and the sound card.
#ifndef SPEAKER_STREAMS_H
#define SPEAKER_STREAMS_H

#include <windows.h>
#include <mmsystem.h>

// The two guards live as long as the device link: set up before the watch thread can exist,
// deleted after it has gone and both streams are stopped.
void InitStreamGuards(void);
void DeleteStreamGuards(void);

int StartPlayback(HWND hwnd);
int StartRecord(HWND hwnd);
void StopPlayback(void);
void StopRecord(void);

// The host window's wave notices: the device and the header that the notice names.
void OnPlaybackDone(HWAVEOUT device, LPWAVEHDR header);
void OnRecordData(HWAVEIN device, LPWAVEHDR header);

#endif
