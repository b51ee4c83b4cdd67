// Run-time binding of the terminal-services entry points, by name.
#pragma once
#include <windows.h>

#include "extender/tsplatform.h"

// How libraries are loaded and entry points found. Tests replace members to
// make any library or entry point missing.
struct BindingSeam {
    HMODULE(WINAPI* LoadLibraryA)(LPCSTR);
    FARPROC(WINAPI* GetProcAddress)(HMODULE, LPCSTR);
    BOOL(WINAPI* FreeLibrary)(HMODULE);
    BOOL(WINAPI* ProductPresent)(void);
};
extern BindingSeam Binding;

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

struct LoadedLibraries {
    HMODULE Wtsapi32, Kernel32, Winsta, Wfapi, Apsdk, Ctxsmcapi;
};
extern LoadedLibraries Libraries;

extern DWORD ServicesBound;
extern DWORD ProductPresent;
extern DWORD WfapiLoaded;
extern DWORD ApsdkLoaded;
extern DWORD SmcapiLoaded;
extern char TempPath[MAX_PATH];

// Binds everything; on failure copies the message into `message` (when it is
// not null) and returns -1, else returns the number of script functions.
int xInitialiseBinding(char* message);

// Releases the loaded libraries in their order.
void xReleaseLibraries();
