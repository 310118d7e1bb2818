// The line-status record exchanged with the modem control device, and its control codes.
#ifndef DRIVER_LINE_STATUS_H
#define DRIVER_LINE_STATUS_H

#include <windows.h>

#include <stddef.h>

#define CALLER_ID_SIZE 100

typedef struct tagLineStatusRecord {
    char CallerId[CALLER_ID_SIZE];  // ANSI text, NUL-terminated within the field when the driver is sane
    DWORD HoldSeconds;              // time the service provider allows on hold
    DWORD StatusWord;               // status bits and call state, written by the driver only
    DWORD Response;                 // written by the program before each IOCTL_SET_CALL_RESPONSE
} LineStatusRecord;

static_assert(sizeof(LineStatusRecord) == 112, "the driver exchanges 112 bytes");
static_assert(offsetof(LineStatusRecord, HoldSeconds) == 100, "HoldSeconds at 100");
static_assert(offsetof(LineStatusRecord, StatusWord) == 104, "StatusWord at 104");
static_assert(offsetof(LineStatusRecord, Response) == 108, "Response at 108");

// Status word: two flags; the rest is read as a value.
#define STATUS_MOH_SUPPORTED 0x40
#define STATUS_NO_SUSPEND 0x200
#define STATUS_LINE_CURRENT 0x100
#define CALL_IDLE 0
#define CALL_INCOMING 16
#define CALL_INCOMING_ID 32
#define CALL_ON_HOLD 128
#define CALL_STATE_MASK 0xFFFFFDBFu  // the word without STATUS_NO_SUSPEND and STATUS_MOH_SUPPORTED

#define HOLD_TIME_NOT_AVAILABLE 0xFFFF

// Responses; RESPONSE_NO_MORE_PROMPTS is OR-ed into accept or ignore.
#define RESPONSE_BACK_ONLINE 1
#define RESPONSE_ACCEPT 2
#define RESPONSE_IGNORE 4
#define RESPONSE_NO_MORE_PROMPTS 8

#define FILE_DEVICE_VXMCOM 0x8080
#define IOCTL_GET_LINE_STATUS CTL_CODE(FILE_DEVICE_VXMCOM, 0xA01, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_SET_CALL_RESPONSE CTL_CODE(FILE_DEVICE_VXMCOM, 0xA02, METHOD_BUFFERED, FILE_ANY_ACCESS)
static_assert((DWORD)IOCTL_GET_LINE_STATUS == 0x80802804u, "the driver's read code");
static_assert((DWORD)IOCTL_SET_CALL_RESPONSE == 0x80802808u, "the driver's response code");

BOOL ReadLineStatus(void);
void SendCallResponse(DWORD code);

#endif
