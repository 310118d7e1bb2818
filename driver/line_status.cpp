// The two driver calls on the line-status record.
#include <windows.h>

#include "driver/device_link.h"
#include "driver/line_status.h"

BOOL ReadLineStatus(void)
{
    DWORD returned;
    return DeviceIoControl(ModemControlDevice, IOCTL_GET_LINE_STATUS, NULL, 0, pLineStatusRecord,
                           sizeof(LineStatusRecord), &returned, NULL);
}

void SendCallResponse(DWORD code)
{
    // Sent once, whatever becomes of it: the driver acts on the whole record as it stands.
    if (!pLineStatusRecord)
        return;
    pLineStatusRecord->Response = code;
    if (!ModemControlDevice)
        return;
    DWORD returned;
    DeviceIoControl(ModemControlDevice, IOCTL_SET_CALL_RESPONSE, pLineStatusRecord,
                    sizeof(LineStatusRecord), NULL, 0, &returned, NULL);
}
