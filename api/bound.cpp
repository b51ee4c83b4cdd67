// The bound entry points and the binding on first use, safe when several
// threads make the first call at once.
#include "api/bound.h"

#include "include/velquor.h"

BoundEntryPoints Bound;
DWORD ServicesBound;
DWORD ProductPresent;
volatile LONG BindingRan;
char BindingMessage[kBindingMessageSize];

namespace {

volatile LONG BindingLock;
int LastResult;
const char kNoLibrary[] = "Unable to initialize Velquor: Unable to load WTSAPI32.DLL";

// A spin lock: the binding is short and runs once, and a critical section
// would need setting up before the first call.
struct BindingGuard {
    BindingGuard()
    {
        while (InterlockedExchange(&BindingLock, 1) != 0)
            Sleep(0);
    }
    ~BindingGuard() { InterlockedExchange(&BindingLock, 0); }
};

}  // namespace

int xBind(bool always)
{
    BindingGuard guard;
    if (always || !BindingRan) {
        BindingMessage[0] = '\0';
        LastResult = xRunBindingSequence(BindingMessage);
        InterlockedExchange(&BindingRan, 1);
    }
    return LastResult;
}

extern "C" LONG QRVTS_CALL QRVTS_GetBindingMessage(LPSTR buffer, DWORD size)
{
    xEnsureBound();
    const bool complete = LastResult >= 0 && ServicesBound;
    // A system without the library binds without a message of its own.
    const char* text = complete ? "" : (BindingMessage[0] ? BindingMessage : kNoLibrary);
    if (buffer && size > 0)
        lstrcpynA(buffer, text, int(size));
    return complete ? QRVTS_OK : QRVTS_NOT_AVAILABLE;
}
