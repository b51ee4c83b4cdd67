// The terminal-services entry points as the exports call them: the table the
// run-time binding fills, its flags, and the binding on first use.
#pragma once
#include <windows.h>

#include "api/tsplatform.h"

// Every bound entry point; null when not found.
struct BoundEntryPoints {
    WTSOpenServerAFn WTSOpenServerExA;
    WTSFreeMemoryExAFn WTSFreeMemoryExA;
    WTSEnumerateSessionsExAFn WTSEnumerateSessionsExA;
    WTSEnumerateProcessesExAFn WTSEnumerateProcessesExA;
    WTSOpenServerAFn WTSOpenServerA;
    WTSCloseServerFn WTSCloseServer;
    WTSEnumerateSessionsAFn WTSEnumerateSessionsA;
    WTSEnumerateProcessesAFn WTSEnumerateProcessesA;
    WTSFreeMemoryFn WTSFreeMemory;
    WTSSessionActionFn WTSDisconnectSession;
    WTSSessionActionFn WTSLogoffSession;
    WTSTerminateProcessFn WTSTerminateProcess;
    WTSSendMessageAFn WTSSendMessageA;
    WTSQuerySessionInformationAFn WTSQuerySessionInformationA;
    WTSWaitSystemEventFn WTSWaitSystemEvent;
    WTSShutdownSystemFn WTSShutdownSystem;
    WTSGetActiveConsoleSessionIdFn WTSGetActiveConsoleSessionId;
    GetTempPathAFn GetTempPathA;
    ProcessIdToSessionIdFn ProcessIdToSessionId;
    WinStationQueryInformationWFn WinStationQueryInformationW;
};
extern BoundEntryPoints Bound;

// 1 once every required entry point of the terminal-services library was found.
extern DWORD ServicesBound;
// The answer of the presence test, taken when binding.
extern DWORD ProductPresent;

// 1 once the binding sequence has run in this process, whatever its outcome.
// A program that fills `Bound` itself sets it, so that nothing is bound over
// its entry points.
extern volatile LONG BindingRan;

// What the latest binding sequence reported: the empty text, or the message
// naming the library or entry point that is missing.
const int kBindingMessageSize = 257;
extern char BindingMessage[kBindingMessageSize];

// The binding sequence itself, supplied by the run-time binding: fills
// `Bound` and the flags, writes its failure into `message` and returns -1,
// else the number of script functions.
int xRunBindingSequence(char* message);

// Runs the binding sequence, one caller at a time: always when `always` is
// set, else only when it has not run yet. Returns its result (that of the
// earlier run when it did not run again).
int xBind(bool always);

// Binds on first use: the exports call it before they look at `Bound`.
inline void xEnsureBound()
{
    if (!BindingRan)
        xBind(false);
}

// True when the terminal-services library is bound (binding it first when
// needed) and `entry`, one of its entry points in `Bound`, was found. The
// entry is taken by reference: it is read only after the binding.
template <class Fn>
inline bool xServiceAvailable(const Fn& entry)
{
    xEnsureBound();
    return ServicesBound && entry;
}
