#include "support/process.h"

#include <cstdint>

#include "support/platform.h"

namespace {

struct ProcessState {
    bool attached;
    CRITICAL_SECTION lock;
    DWORD slots[ThreadSlotCount];
    void* sharedCallContext;  // the call context where the process had no slot left for it
};
ProcessState State;

}  // namespace

void xProcessAttach(HMODULE module)
{
    if (State.attached)
        return;
    xPlatformAttach(&PlatformInfo, module, DLL_PROCESS_ATTACH);
    InitializeCriticalSection(&State.lock);
    for (DWORD& slot : State.slots)
        slot = TlsAlloc();
    State.attached = true;
}

void xProcessDetach()
{
    if (!State.attached)
        return;
    for (DWORD& slot : State.slots) {
        if (slot != TLS_OUT_OF_INDEXES)
            TlsFree(slot);
        slot = TLS_OUT_OF_INDEXES;
    }
    DeleteCriticalSection(&State.lock);
    State.attached = false;
}

DWORD xThreadSlot(ThreadSlot slot) { return State.attached ? State.slots[slot] : TLS_OUT_OF_INDEXES; }

void* xThreadValue(ThreadSlot slot)
{
    const DWORD index = xThreadSlot(slot);
    if (index != TLS_OUT_OF_INDEXES)
        return TlsGetValue(index);
    return slot == ThreadCallContextSlot ? State.sharedCallContext : nullptr;
}

void xSetThreadValue(ThreadSlot slot, void* value)
{
    const DWORD index = xThreadSlot(slot);
    if (index != TLS_OUT_OF_INDEXES)
        TlsSetValue(index, value);
    else if (slot == ThreadCallContextSlot)
        State.sharedCallContext = value;
}

ProcessLock::ProcessLock() { EnterCriticalSection(&State.lock); }
ProcessLock::~ProcessLock() { LeaveCriticalSection(&State.lock); }
