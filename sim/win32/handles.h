// Kernel object handles of the world (threads, devices, modules...).
#ifndef SIM_HANDLES_H
#define SIM_HANDLES_H

#include <windows.h>

#include <memory>
#include <string>

#include "world.h"

namespace sim {

struct KObject {
    virtual ~KObject() = default;
    virtual void OnClose() {}
    // What the account of held resources calls an open handle of this object.
    virtual const char *HeldKind() const = 0;
    virtual std::string HeldName() const = 0;
    // Keys added when the account is drawn up (a thread that has ended meanwhile).
    virtual void AtEnd(Json &) const {}
    HeldTicket held = 0;
};

HANDLE NewHandle(std::shared_ptr<KObject> object);
KObject *HandleObject(HANDLE h);  // null for a handle that is not open
template <class T> T *HandleAs(HANDLE h) { return dynamic_cast<T *>(HandleObject(h)); }

// The calling thread's last error.
DWORD &LastError();

}  // namespace sim

#endif
