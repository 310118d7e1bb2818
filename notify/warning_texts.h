// The excessive-line-current warning: its caption and its text in the three languages.
#ifndef NOTIFY_WARNING_TEXTS_H
#define NOTIFY_WARNING_TEXTS_H

#include <windows.h>

#define WARNING_CAPTION "Tarvo Modem"

// ANSI texts: the Japanese one in code page 932, the Korean one in code page 949.
extern const char WarningTextEnglish[];
extern const char WarningTextJapanese[];
extern const char WarningTextKorean[];

// The text for a primary language number: Japanese, Korean, or English for every other language.
LPCSTR LineCurrentWarningText(DWORD language);

#endif
