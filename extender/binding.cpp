#include "extender/binding.h"

#include "include/velquor.h"
#include "support/platform.h"
#include "support/procaddr.h"

BindingSeam Binding = {::LoadLibraryA, ::GetProcAddress, ::FreeLibrary, QRVTS_IsTerminalServiceProductPresent};
LoadedLibraries Libraries;
DWORD WfapiLoaded;
DWORD ApsdkLoaded;
DWORD SmcapiLoaded;
char TempPath[MAX_PATH];

namespace {

const int kScriptFunctions = 16;
const char kPrefix[] = "Unable to initialize Velquor: ";

int Fail(char* message, const char* text, const char* detail = "")
{
    lstrcpyA(message, kPrefix);
    lstrcatA(message, text);
    lstrcatA(message, detail);
    return -1;
}

template <class Fn>
bool Find(HMODULE module, const char* name, Fn* slot)
{
    *slot = xProcAs<Fn>(Binding.GetProcAddress(module, name));
    return *slot != nullptr;
}

struct RequiredEntry {
    const char* name;
    FARPROC* slot;
};

// The optional extended entry points; the last two only when the release
// routine for their buffers exists.
void BindExtended(HMODULE wts)
{
    Bound.WTSFreeMemoryExA = nullptr;
    Bound.WTSEnumerateSessionsExA = nullptr;
    Bound.WTSEnumerateProcessesExA = nullptr;
    if (!Find(wts, "WTSOpenServerExA", &Bound.WTSOpenServerExA))
        return;
    if (!Find(wts, "WTSFreeMemoryExA", &Bound.WTSFreeMemoryExA))
        return;
    Find(wts, "WTSEnumerateSessionsExA", &Bound.WTSEnumerateSessionsExA);
    Find(wts, "WTSEnumerateProcessesExA", &Bound.WTSEnumerateProcessesExA);
}

// Returns the name of the first required entry point that is missing.
const char* BindRequired(HMODULE wts)
{
#define REQUIRED(name) {#name, reinterpret_cast<FARPROC*>(&Bound.name)}
    const RequiredEntry required[] = {
        REQUIRED(WTSOpenServerA),       REQUIRED(WTSCloseServer),
        REQUIRED(WTSEnumerateSessionsA), REQUIRED(WTSEnumerateProcessesA),
        REQUIRED(WTSFreeMemory),        REQUIRED(WTSDisconnectSession),
        REQUIRED(WTSLogoffSession),     REQUIRED(WTSTerminateProcess),
        REQUIRED(WTSSendMessageA),      REQUIRED(WTSQuerySessionInformationA),
        REQUIRED(WTSWaitSystemEvent),   REQUIRED(WTSShutdownSystem),
    };
#undef REQUIRED
    for (const RequiredEntry& entry : required) {
        *entry.slot = Binding.GetProcAddress(wts, entry.name);
        if (!*entry.slot)
            return entry.name;
    }
    return nullptr;
}

int BindWtsapi(char* message)
{
    Libraries.Wtsapi32 = Binding.LoadLibraryA("WTSAPI32.DLL");
    if (!Libraries.Wtsapi32)
        return ProductPresent ? Fail(message, "Unable to load WTSAPI32.DLL") : 0;
    BindExtended(Libraries.Wtsapi32);
    if (const char* missing = BindRequired(Libraries.Wtsapi32))
        return Fail(message, missing, "() not found in WTSAPI32.DLL");
    ServicesBound = 1;
    return 0;
}

int BindKernel(char* message)
{
    Libraries.Kernel32 = Binding.LoadLibraryA("KERNEL32.DLL");
    if (!Libraries.Kernel32)
        return Fail(message, "Unable to load KERNEL32.DLL");
    Find(Libraries.Kernel32, "WTSGetActiveConsoleSessionId", &Bound.WTSGetActiveConsoleSessionId);
    if (!Find(Libraries.Kernel32, "GetTempPathA", &Bound.GetTempPathA))
        return Fail(message, "GetTempPathA() not found in KERNEL32.DLL");
    if (!ServicesBound)
        return 0;
    if (!Find(Libraries.Kernel32, "ProcessIdToSessionId", &Bound.ProcessIdToSessionId) &&
        PlatformInfo.VersionInfo.dwMajorVersion >= 5)
        return Fail(message, "ProcessIdToSessionId() not found in KERNEL32.DLL");
    return 0;
}

int BindWinsta(char* message)
{
    Libraries.Winsta = Binding.LoadLibraryA("WINSTA.DLL");
    if (Libraries.Winsta &&
        !Find(Libraries.Winsta, "WinStationQueryInformationW", &Bound.WinStationQueryInformationW))
        return Fail(message, "WinStationQueryInformationW() not found in WINSTA.DLL");
    return 0;
}

// The add-on's libraries are only loaded, to tell whether it is present.
void LoadAddOn()
{
    Libraries.Wfapi = Binding.LoadLibraryA("WFAPI.DLL");
    if (Libraries.Wfapi)
        WfapiLoaded = 1;
    Libraries.Apsdk = Binding.LoadLibraryA("APSDK.DLL");
    if (Libraries.Apsdk)
        ApsdkLoaded = 1;
    Libraries.Ctxsmcapi = Binding.LoadLibraryA("CTXSMCAPI.DLL");
    if (Libraries.Ctxsmcapi)
        SmcapiLoaded = 1;
}

}  // namespace

int xRunBindingSequence(char* message)
{
    ProductPresent = Binding.ProductPresent() ? 1 : 0;
    if (BindWtsapi(message) < 0 || BindKernel(message) < 0 || BindWinsta(message) < 0)
        return -1;
    LoadAddOn();
    if (Bound.GetTempPathA(MAX_PATH, TempPath) == 0)
        return Fail(message, "GetTempPathAX() failed!");
    return kScriptFunctions;
}

int xInitialiseBinding(char* message)
{
    const int result = xBind(true);
    if (result < 0 && message)
        lstrcpyA(message, BindingMessage);
    return result;
}

void xReleaseLibraries()
{
    const HMODULE order[] = {Libraries.Kernel32, Libraries.Wtsapi32, Libraries.Winsta,
                             Libraries.Wfapi,    Libraries.Apsdk,    Libraries.Ctxsmcapi};
    for (HMODULE module : order) {
        if (module)
            Binding.FreeLibrary(module);
    }
}
