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
// The program released memory: the driver forgets a block that lay there.
void DriverMemoryReleased(void *base);

// Offsets the driver uses in the block.
constexpr size_t kBlockPD = 0x8008, kBlockRD = 0x800C, kBlockStatus = 0x8018;

}  // namespace sim

#endif
