// The library's process-wide state that everything else relies on: the one
// lock and the thread-local slots. Created when the library is attached to
// a process, released when it is detached; a program that links the
// library's code itself attaches it once at start.
#pragma once
#include <windows.h>

enum ThreadSlot {
    ThreadErrorCodeSlot,    // the thread's latest recorded error code
    ThreadCallContextSlot,  // the interpreter's call the thread is inside, or null
    ThreadSlotCount
};

// Records the platform and creates the lock and the slots. Further calls
// while attached do nothing.
void xProcessAttach(HMODULE module);

// Deletes the lock and frees the slots; the library's callers are gone.
void xProcessDetach();

// The slot's index, TLS_OUT_OF_INDEXES when the process had none left.
DWORD xThreadSlot(ThreadSlot slot);

// The value the calling thread keeps in `slot` (null when it has none).
// Where the process had no slot left (TlsAlloc failed), the error code
// reads as none and is not kept, and the call context is one value for the
// process: the interpreter calls one request at a time.
void* xThreadValue(ThreadSlot slot);
void xSetThreadValue(ThreadSlot slot, void* value);

// Holds the library's one lock for its scope. A critical section: a waiter
// sleeps in the kernel until the holder leaves, whatever their priorities.
class ProcessLock {
public:
    ProcessLock();
    ~ProcessLock();
    ProcessLock(const ProcessLock&) = delete;
    ProcessLock& operator=(const ProcessLock&) = delete;
};
