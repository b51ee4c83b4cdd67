#include "support/platform.h"

#include <cstring>

PlatformRecord PlatformInfo;

void xClassifyPlatform(PlatformRecord* record)
{
    record->IsWinXP = record->IsWin2003 = record->IsNTOther = 0;
    const OSVERSIONINFOEXA& v = record->VersionInfo;
    if (v.dwPlatformId != VER_PLATFORM_WIN32_NT)
        return;
    const DWORD major = v.dwMajorVersion, minor = v.dwMinorVersion;
    const bool named = (major == 3 && minor == 51) || (major == 4 && minor == 0) ||
                       (major == 5 && minor <= 2);
    if (major == 5 && minor == 1)
        record->IsWinXP = 1;
    else if (major == 5 && minor == 2)
        record->IsWin2003 = 1;
    else if (!named)
        record->IsNTOther = 1;
}

BOOL xPlatformAttach(PlatformRecord* record, HMODULE module, DWORD reason)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    record->ModuleHandle = module;
    record->VersionInfo.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    // When the call fails the fields stay zero and no flag is set.
    GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&record->VersionInfo));
    xClassifyPlatform(record);
    return TRUE;
}

HMODULE xLoadSystemLibrary(const char* name, HMODULE(WINAPI* load)(LPCSTR))
{
    char path[MAX_PATH];
    const UINT folder = GetSystemDirectoryA(path, MAX_PATH);
    const size_t length = strlen(name);
    if (folder == 0 || folder >= MAX_PATH || folder + 1 + length >= MAX_PATH)
        return nullptr;
    char* end = path + folder;
    if (end[-1] != '\\')
        *end++ = '\\';
    memcpy(end, name, length + 1);
    return load(path);
}
