// Run-time binding of the terminal-services entry points, by name.
#pragma once
#include <windows.h>

#include "api/bound.h"

// How libraries are loaded and entry points found. Tests replace members to
// make any library or entry point missing.
struct BindingSeam {
    HMODULE(WINAPI* LoadLibraryA)(LPCSTR);
    FARPROC(WINAPI* GetProcAddress)(HMODULE, LPCSTR);
    BOOL(WINAPI* FreeLibrary)(HMODULE);
    BOOL(WINAPI* ProductPresent)(void);
};
extern BindingSeam Binding;

struct LoadedLibraries {
    HMODULE Wtsapi32, Kernel32, Winsta, Wfapi, Apsdk, Ctxsmcapi;
};
extern LoadedLibraries Libraries;

extern DWORD WfapiLoaded;
extern DWORD ApsdkLoaded;
extern DWORD SmcapiLoaded;
extern char TempPath[MAX_PATH];

// The interpreter's initialisation: runs the whole binding sequence again;
// on failure copies the message into `message` (when it is not null) and
// returns -1, else returns the number of script functions.
int xInitialiseBinding(char* message);

// Releases the loaded libraries in their order.
void xReleaseLibraries();
