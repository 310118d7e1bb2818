/* The user-mode side of the driver double's control device, for the controller and the self-test:
 * the handle and the three calls both make. Plain C, one includer per program. */
#ifndef VXDOUBLE_CLIENT_H
#define VXDOUBLE_CLIENT_H

#include <windows.h>

#include "control.h"

static HANDLE Double;  /* the driver double's control device */

static BOOL Ctl(DWORD code, void *in, DWORD in_size, void *out, DWORD out_size)
{
    DWORD got = 0;
    return DeviceIoControl(Double, code, in, in_size, out, out_size, &got, NULL);
}

static void Present(unsigned device, unsigned present)
{
    VxdPresence p = {device, present};
    Ctl(VXD_SET_PRESENT, &p, sizeof(p), NULL, 0);
}

static void Say(unsigned kind, int pd, int rd, int status, unsigned error)
{
    VxdWord w = {kind, pd, rd, status, error};
    Ctl(VXD_SAY, &w, sizeof(w), NULL, 0);
}

#endif
