// The modem driver double: the devices "\\.\VVOICE" and "\\.\VXMCOM", the line-status record it
// reports, the responses it receives and the voice read that stays pending.
#ifndef SIM_DRIVER_DOUBLE_H
#define SIM_DRIVER_DOUBLE_H

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "world.h"

namespace sim {

void DriverSetPresent(bool voice, bool present);  // voice: true for VVOICE, false for VXMCOM
void DriverSetStopHangs(bool hangs);
// The record reported from now on.
void DriverSetStatus(uint32_t status, const std::optional<std::string> &caller, std::optional<uint32_t> hold);
// Completes the pending read (or the next one) with Status 1 and these requests.
void DriverRequest(int32_t pD, int32_t rD);
void DriverCompleteStatus(int32_t status);
void DriverFailRead(uint32_t error);
// The block the program hands with its reads, as the driver sees it (null before the first read).
uint8_t *DriverBlock();
bool DriverReadPending();
// The reads the driver has received so far, and the number of the last one it completed with
// requests (0: none). The program answers requests by stopping its streams and starting the wanted
// ones; its next read says it has done so.
uint64_t DriverReadsReceived();
uint64_t DriverLastRequestRead();
// The program released memory: the driver forgets a block that lay there.
void DriverMemoryReleased(void *base);

// Offsets the driver uses in the block.
constexpr size_t kBlockPD = 0x8008, kBlockRD = 0x800C, kBlockStatus = 0x8018;
// The length of every voice read, as the driver's contract has it.
constexpr DWORD kVoiceReadLength = 33460;

// ---- what the kernel32 calls on the devices ask of the driver (win32/kernel32_device.cpp) ----
constexpr DWORD kGetLineStatus = 0x80802804u, kSetCallResponse = 0x80802808u;
constexpr size_t kRecordSize = 112;  // the line-status record, both ways

enum class DriverDevice { None, Voice, Control };
DriverDevice DriverDeviceNamed(LPCSTR name);  // "\\.\VVOICE", "\\.\VXMCOM" (any case), else None
bool DriverDevicePresent(DriverDevice d);
// Which arrival of the device is there now; a handle opened then is served only while that arrival
// lasts: once the device is removed, the handle's requests fail, also after it comes back.
uint64_t DriverDeviceArrival(DriverDevice d);
bool DriverDeviceServes(DriverDevice d, uint64_t arrival);
bool DriverDeviceOpen(DriverDevice d);        // a handle of it is open (the devices are exclusive)
void DriverDeviceSetOpen(DriverDevice d, bool open);
// A voice read of `length` bytes into the block: pending until the driver has something to say;
// false with *error when it fails.
bool DriverRead(uint8_t *block, DWORD length, DWORD *error);
void DriverGetLineStatus(uint8_t *record);        // IOCTL_GET_LINE_STATUS: the record reported now
void DriverReceiveResponse(const uint8_t *record);  // IOCTL_SET_CALL_RESPONSE: traced "response"

}  // namespace sim

#endif
