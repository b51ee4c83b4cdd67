// Run-time binding of the terminal-services entry points, by name.
#pragma once
#include <windows.h>

#include "api/bound.h"

// How libraries are loaded and entry points found. Tests replace members to
// make any library or entry point missing.
struct BindingSeam {
    // The platform's libraries, by their full path in the system folder.
    HMODULE(WINAPI* LoadLibraryA)(LPCSTR);
    // The add-on's libraries, probed as data files by their bare names.
    HMODULE(WINAPI* LoadLibraryExA)(LPCSTR, HANDLE, DWORD);
    FARPROC(WINAPI* GetProcAddress)(HMODULE, LPCSTR);
    BOOL(WINAPI* FreeLibrary)(HMODULE);
    BOOL(WINAPI* ProductPresent)(void);
};
extern BindingSeam Binding;
