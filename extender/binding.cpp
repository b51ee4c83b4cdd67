#include "extender/binding.h"

#include "include/velquor.h"
#include "support/platform.h"
#include "support/procaddr.h"

BindingSeam Binding = {::LoadLibraryA, ::LoadLibraryExA, ::GetProcAddress, ::FreeLibrary,
                       QRVTS_IsTerminalServiceProductPresent};

namespace {

const int kScriptFunctions = 16;
const char kPrefix[] = "Unable to initialize Velquor: ";

int Fail(BindingTable* table, const char* text, const char* detail = "")
{
    lstrcpyA(table->Message, kPrefix);
    lstrcatA(table->Message, text);
    lstrcatA(table->Message, detail);
    return -1;
}

template <class Fn>
bool Find(HMODULE module, const char* name, Fn* slot)
{
    *slot = xProcAs<Fn>(Binding.GetProcAddress(module, name));
    return *slot != nullptr;
}

// Whether an add-on library is where the loader would look for it. It is
// mapped as a data file, so none of its code runs, and let go at once.
DWORD AddOnPresent(const char* name)
{
    HMODULE probe = Binding.LoadLibraryExA(name, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!probe)
        return 0;
    Binding.FreeLibrary(probe);
    return 1;
}

struct RequiredEntry {
    const char* name;
    FARPROC* slot;
};

// The optional extended entry points; the last two only when the release
// routine for their buffers exists.
void BindExtended(HMODULE wts, BoundEntryPoints* entry)
{
    if (!Find(wts, "WTSOpenServerExA", &entry->WTSOpenServerExA))
        return;
    if (!Find(wts, "WTSFreeMemoryExA", &entry->WTSFreeMemoryExA))
        return;
    Find(wts, "WTSEnumerateSessionsExA", &entry->WTSEnumerateSessionsExA);
    Find(wts, "WTSEnumerateProcessesExA", &entry->WTSEnumerateProcessesExA);
}

// Returns the name of the first required entry point that is missing.
const char* BindRequired(HMODULE wts, BoundEntryPoints* entry)
{
#define REQUIRED(name) {#name, reinterpret_cast<FARPROC*>(&entry->name)}
    const RequiredEntry required[] = {
        REQUIRED(WTSOpenServerA),       REQUIRED(WTSCloseServer),
        REQUIRED(WTSEnumerateSessionsA), REQUIRED(WTSEnumerateProcessesA),
        REQUIRED(WTSFreeMemory),        REQUIRED(WTSDisconnectSession),
        REQUIRED(WTSLogoffSession),     REQUIRED(WTSTerminateProcess),
        REQUIRED(WTSSendMessageA),      REQUIRED(WTSQuerySessionInformationA),
        REQUIRED(WTSWaitSystemEvent),   REQUIRED(WTSShutdownSystem),
    };
#undef REQUIRED
    for (const RequiredEntry& required_ : required) {
        *required_.slot = Binding.GetProcAddress(wts, required_.name);
        if (!*required_.slot)
            return required_.name;
    }
    return nullptr;
}

int BindWtsapi(BindingTable* table)
{
    HMODULE wts = table->Libraries.Wtsapi32 = xLoadSystemLibrary("WTSAPI32.DLL", Binding.LoadLibraryA);
    if (!wts)
        return table->ProductPresent ? Fail(table, "Unable to load WTSAPI32.DLL") : 0;
    BindExtended(wts, &table->Entry);
    if (const char* missing = BindRequired(wts, &table->Entry))
        return Fail(table, missing, "() not found in WTSAPI32.DLL");
    table->ServicesBound = 1;
    return 0;
}

int BindKernel(BindingTable* table, GetTempPathAFn* getTempPath)
{
    HMODULE kernel = table->Libraries.Kernel32 = xLoadSystemLibrary("KERNEL32.DLL", Binding.LoadLibraryA);
    if (!kernel)
        return Fail(table, "Unable to load KERNEL32.DLL");
    BoundEntryPoints* entry = &table->Entry;
    Find(kernel, "WTSGetActiveConsoleSessionId", &entry->WTSGetActiveConsoleSessionId);
    if (!Find(kernel, "GetTempPathA", getTempPath))
        return Fail(table, "GetTempPathA() not found in KERNEL32.DLL");
    if (table->ServicesBound && !Find(kernel, "ProcessIdToSessionId", &entry->ProcessIdToSessionId) &&
        PlatformInfo.VersionInfo.dwMajorVersion >= 5)
        return Fail(table, "ProcessIdToSessionId() not found in KERNEL32.DLL");
    table->ExportsBound = table->ServicesBound;
    return 0;
}

int BindWinsta(BindingTable* table)
{
    HMODULE winsta = table->Libraries.Winsta = xLoadSystemLibrary("WINSTA.DLL", Binding.LoadLibraryA);
    if (winsta && !Find(winsta, "WinStationQueryInformationW", &table->Entry.WinStationQueryInformationW))
        return Fail(table, "WinStationQueryInformationW() not found in WINSTA.DLL");
    return 0;
}

void ProbeAddOn(BindingTable* table)
{
    table->WfapiLoaded = AddOnPresent("WFAPI.DLL");
    table->ApsdkLoaded = AddOnPresent("APSDK.DLL");
    table->SmcapiLoaded = AddOnPresent("CTXSMCAPI.DLL");
}

}  // namespace

int xRunBindingSequence(BindingTable* table)
{
    table->ProductPresent = Binding.ProductPresent() ? 1 : 0;
    GetTempPathAFn getTempPath = nullptr;
    if (BindWtsapi(table) < 0 || BindKernel(table, &getTempPath) < 0 || BindWinsta(table) < 0)
        return -1;
    ProbeAddOn(table);
    // The temporary-files folder is only asked for, as a check that the
    // kernel's file services answer; where it is matters to nothing.
    char folder[MAX_PATH];
    if (getTempPath(MAX_PATH, folder) == 0)
        return Fail(table, "GetTempPathAX() failed!");
    return kScriptFunctions;
}

void xReleaseLibraries(const LoadedLibraries& libraries)
{
    const HMODULE order[] = {libraries.Kernel32, libraries.Wtsapi32, libraries.Winsta};
    for (HMODULE module : order) {
        if (module)
            Binding.FreeLibrary(module);
    }
}
