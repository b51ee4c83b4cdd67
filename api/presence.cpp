// Whether the running system is a Terminal Services system.
#include "include/velquor.h"
#include "support/errors.h"
#include "support/procaddr.h"

namespace {

const char kProductOptionsKey[] = "System\\CurrentControlSet\\Control\\ProductOptions";
const char kProductSuiteValue[] = "ProductSuite";

// Compares every string of a REG_MULTI_SZ block with `name`. The walk never
// leaves the `size` bytes read; the buffer carries two zero bytes beyond
// them, so a final string stored without its NUL compares only up to the
// end of the data.
BOOL SuiteListContains(const char* data, DWORD size, LPCSTR name)
{
    const char* const end = data + size;
    for (const char* p = data; p < end && *p; p += lstrlenA(p) + 1) {
        if (lstrcmpA(p, name) == 0)
            return TRUE;
    }
    return FALSE;
}

BOOL ReadSuiteList(HKEY key, LPCSTR name)
{
    DWORD size = 0;
    if (RegQueryValueExA(key, kProductSuiteValue, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS ||
        size == 0)
        return FALSE;
    char* data = static_cast<char*>(LocalAlloc(LMEM_ZEROINIT, size + 2));
    if (!data)
        return FALSE;
    DWORD type = 0;
    BOOL found = FALSE;
    if (RegQueryValueExA(key, kProductSuiteValue, nullptr, &type, reinterpret_cast<BYTE*>(data),
                         &size) == ERROR_SUCCESS &&
        type == REG_MULTI_SZ)
        found = SuiteListContains(data, size, name);
    LocalFree(data);
    return found;
}

typedef ULONGLONG(WINAPI* VerSetConditionMaskFn)(ULONGLONG, DWORD, BYTE);
typedef BOOL(WINAPI* VerifyVersionInfoFn)(OSVERSIONINFOEXA*, DWORD, DWORDLONG);

FARPROC FindLoaded(const char* module, const char* name)
{
    HMODULE handle = GetModuleHandleA(module);
    return handle ? GetProcAddress(handle, name) : nullptr;
}

BOOL HasSuite(VerifyVersionInfoFn verify, WORD suite, DWORDLONG mask)
{
    OSVERSIONINFOEXA info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    info.wSuiteMask = suite;
    return verify(&info, VER_SUITENAME, mask);
}

}  // namespace

extern "C" BOOL QRVTS_CALL QRVTS_ValidateProductSuite(LPCSTR suiteName)
{
    xClearThreadLastErrorCode();
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kProductOptionsKey, &key) != ERROR_SUCCESS)
        return FALSE;
    BOOL found = ReadSuiteList(key, suiteName);
    RegCloseKey(key);
    return found;
}

extern "C" BOOL QRVTS_CALL QRVTS_IsTerminalServiceProductPresent(void)
{
    xClearThreadLastErrorCode();
    const DWORD version = GetVersion();
    if (version & 0x80000000u)
        return FALSE;
    if (LOBYTE(LOWORD(version)) <= 4)
        return QRVTS_ValidateProductSuite("Terminal Server");

    auto setMask = xProcAs<VerSetConditionMaskFn>(FindLoaded("ntdll.dll", "VerSetConditionMask"));
    if (!setMask)
        return FALSE;
    const DWORDLONG mask = setMask(0, VER_SUITENAME, VER_AND);
    auto verify = xProcAs<VerifyVersionInfoFn>(FindLoaded("KERNEL32.DLL", "VerifyVersionInfoA"));
    if (!verify)
        return FALSE;
    BOOL present = HasSuite(verify, VER_SUITE_TERMINAL, mask);
    if (present)
        return present;
    return HasSuite(verify, VER_SUITE_SINGLEUSERTS, mask);
}
