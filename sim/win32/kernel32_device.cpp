// kernel32 on the driver's devices: CreateFileA on "\\.\VVOICE" and "\\.\VXMCOM", ReadFile on the voice
// device and DeviceIoControl on the control device, with the checks and error codes a Win32 program meets,
// in front of the modem driver double (world/driver_double.cpp). The devices are exclusive: a second
// open of one fails with ERROR_ACCESS_DENIED until the first handle is closed.
#include <cstring>
#include <memory>
#include <optional>

#include "driver_double.h"
#include "handles.h"
#include "system.h"

namespace sim {

namespace {

struct DeviceHandle : KObject {
    DriverDevice device;
    uint64_t arrival;  // the device's arrival it was opened on
    DWORD access;      // what CreateFileA asked for: a read needs GENERIC_READ
    DeviceHandle(DriverDevice d, DWORD a) : device(d), arrival(DriverDeviceArrival(d)), access(a) {}
    void OnClose() override
    {
        if (DriverDeviceArrival(device) == arrival)
            DriverDeviceSetOpen(device, false);
    }
    const char *HeldKind() const override { return "device"; }
    std::string HeldName() const override
    {
        return device == DriverDevice::Voice ? "\\\\.\\VVOICE" : "\\\\.\\VXMCOM";
    }
};

// A synchronous read or control call writes the count of bytes transferred through its pointer
// whatever the caller wants of it: without one, Windows writes through a null pointer and the
// program faults. Windows 95 and 98 (and Me, of their family) want the count for an overlapped read
// too. The world reports such a call ("misuse") and answers it as it would with a count.
void CheckCount(const char *call, const void *count, const void *overlapped, bool always)
{
    if (!count && (!overlapped || always))
        Emit("misuse", {{"call", call}, {"kind", "argument"}, {"state", "no-count"}});
}

}  // namespace

}  // namespace sim

using namespace sim;

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                          DWORD dwCreationDisposition, DWORD, HANDLE)
{
    PlatformCall call("CreateFileA");
    YieldPoint();
    DriverDevice d = DriverDeviceNamed(lpFileName);
    std::optional<DWORD> error = call.Fault();  // a fault may name any error, even 0
    if (error) {
    } else if (!DriverDevicePresent(d)) {
        error = ERROR_FILE_NOT_FOUND;
    } else if (dwCreationDisposition != OPEN_EXISTING) {
        error = ERROR_INVALID_PARAMETER;
    } else if (DriverDeviceOpen(d)) {
        error = ERROR_ACCESS_DENIED;  // the driver's devices are exclusive
    }
    if (lpFileName && strncmp(lpFileName, "\\\\.\\", 4) == 0)
        Emit("device", {{"name", lpFileName}, {"ok", !error}});
    if (error) {
        SetLastError(*error);
        return INVALID_HANDLE_VALUE;
    }
    DriverDeviceSetOpen(d, true);
    return NewHandle(std::make_shared<DeviceHandle>(d, dwDesiredAccess));
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped)
{
    PlatformCall call("ReadFile");
    YieldPoint();
    CheckCount("ReadFile", lpNumberOfBytesRead, lpOverlapped, IsWindows9x());
    auto *h = HandleAs<DeviceHandle>(hFile);
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = 0;
    if (!h) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (call.Fault())
        return FALSE;
    // The system checks the handle's access before the driver sees the read.
    if (!(h->access & GENERIC_READ)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (h->device != DriverDevice::Voice || lpOverlapped) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    if (!DriverDeviceServes(h->device, h->arrival)) {
        SetLastError(ERROR_DEV_NOT_EXIST);
        return FALSE;
    }
    if (TraceDetail("read"))
        Emit("read", {{"length", nNumberOfBytesToRead}});
    // The driver works in the block between reads, and takes the read only with the length of its
    // contract: the block up to the end of the eighth record header. Any other length is refused.
    if (!lpBuffer || nNumberOfBytesToRead != kVoiceReadLength) {
        SetLastError(lpBuffer ? ERROR_INVALID_PARAMETER : ERROR_NOACCESS);
        return FALSE;
    }
    DWORD error = 0;
    bool ok = DriverRead((uint8_t *)lpBuffer, nNumberOfBytesToRead, &error);
    if (!ok) {
        SetLastError(error);
        return FALSE;
    }
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = nNumberOfBytesToRead;
    return TRUE;
}

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                            LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                            LPOVERLAPPED lpOverlapped)
{
    PlatformCall call("DeviceIoControl");
    YieldPoint();
    CheckCount("DeviceIoControl", lpBytesReturned, lpOverlapped, false);
    auto *h = HandleAs<DeviceHandle>(hDevice);
    if (!h) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::optional<DWORD> error = call.Fault();
    if (error) {
    } else if (h->device != DriverDevice::Control || lpOverlapped) {
        error = ERROR_INVALID_FUNCTION;
    } else if (!DriverDeviceServes(h->device, h->arrival)) {
        error = ERROR_DEV_NOT_EXIST;
    } else if ((!lpInBuffer && nInBufferSize) || (!lpOutBuffer && nOutBufferSize)) {
        // The system copies the input buffer in and probes the output buffer for writing (the
        // driver's codes are METHOD_BUFFERED) before the driver sees the request: a length without
        // a buffer faults there.
        error = ERROR_NOACCESS;
    } else if (dwIoControlCode == kGetLineStatus) {
        if (!lpOutBuffer || nOutBufferSize < kRecordSize)
            error = ERROR_INSUFFICIENT_BUFFER;
    } else if (dwIoControlCode == kSetCallResponse) {
        if (!lpInBuffer || nInBufferSize < kRecordSize)
            error = ERROR_INSUFFICIENT_BUFFER;
    } else {
        error = ERROR_INVALID_FUNCTION;
    }
    if (TraceDetail("ioctl"))
        Emit("ioctl", {{"code", dwIoControlCode}, {"ok", !error}});
    if (error) {
        SetLastError(*error);
        return FALSE;
    }
    DWORD returned = 0;
    if (dwIoControlCode == kGetLineStatus) {
        DriverGetLineStatus((uint8_t *)lpOutBuffer);
        returned = kRecordSize;
    } else {
        DriverReceiveResponse((const uint8_t *)lpInBuffer);
    }
    if (lpBytesReturned)
        *lpBytesReturned = returned;
    return TRUE;
}

}  // extern "C"
