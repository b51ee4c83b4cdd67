// Load-time record of the library's module handle and the Windows version.
#pragma once
#include <windows.h>
#include <cstddef>

struct PlatformRecord {
    HMODULE ModuleHandle;
    OSVERSIONINFOEXA VersionInfo;
    DWORD IsWinXP;    // NT platform, version 5.1
    DWORD IsWin2003;  // NT platform, version 5.2
    DWORD IsNTOther;  // NT platform, none of 3.51, 4.0, 5.0, 5.1, 5.2
};
static_assert(sizeof(OSVERSIONINFOEXA) == 156, "extended version record is 156 bytes");
static_assert(offsetof(PlatformRecord, VersionInfo) == sizeof(HMODULE), "VersionInfo follows the handle");
static_assert(offsetof(PlatformRecord, IsWinXP) == sizeof(HMODULE) + 156, "flags follow the version record");
static_assert(sizeof(PlatformRecord) == (sizeof(void*) == 4 ? 172 : 176), "platform record layout");

// Written once while the loader attaches the library, read-only afterwards.
extern PlatformRecord PlatformInfo;

// Sets the three version flags of `record` from its VersionInfo.
void xClassifyPlatform(PlatformRecord* record);

// Loads the system library `name` with `load` by its full path in the
// system folder, so that no folder a program was started from or in can
// supply it; null when it does not load or the path does not fit.
HMODULE xLoadSystemLibrary(const char* name, HMODULE(WINAPI* load)(LPCSTR));

// The work of the library's entry routine; always TRUE.
BOOL xPlatformAttach(PlatformRecord* record, HMODULE module, DWORD reason);
