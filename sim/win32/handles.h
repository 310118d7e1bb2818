// Kernel object handles of the world (threads, devices, modules...).
#ifndef SIM_HANDLES_H
#define SIM_HANDLES_H

#include <windows.h>

#include <memory>

namespace sim {

struct KObject {
    virtual ~KObject() = default;
    virtual void OnClose() {}
};

HANDLE NewHandle(std::shared_ptr<KObject> object);
KObject *HandleObject(HANDLE h);  // null for a handle that is not open
template <class T> T *HandleAs(HANDLE h) { return dynamic_cast<T *>(HandleObject(h)); }

// The calling thread's last error.
DWORD &LastError();

}  // namespace sim

#endif
