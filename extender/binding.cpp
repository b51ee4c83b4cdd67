#include "extender/binding.h"

#include "include/velquor.h"
#include "support/platform.h"
#include "support/procaddr.h"

BindingSeam Binding = {::LoadLibraryA, ::LoadLibraryExA, ::GetProcAddress, ::FreeLibrary,
                       QRVTS_IsTerminalServiceProductPresent};

namespace {

const int kScriptFunctions = 16;
const char kPrefix[] = "Unable to initialize Velquor: ";

void Compose(char* message, const char* text, const char* detail)
{
    lstrcatA(lstrcatA(lstrcpyA(message, kPrefix), text), detail);
}

int Fail(BindingTable* table, const char* text, const char* detail = "")
{
    Compose(table->Message, text, detail);
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

// The optional extended entry points of one form ("A" or "W"); the last two
// only when the release routine for their buffers exists.
template <class Char>
void BindExtended(HMODULE wts, const char* form, TextEntryPoints<Char>* entry)
{
    char name[40];
    auto named = [&](const char* base) { return lstrcatA(lstrcpyA(name, base), form); };
    if (!Find(wts, named("WTSOpenServerEx"), &entry->OpenServerEx))
        return;
    if (!Find(wts, named("WTSFreeMemoryEx"), &entry->FreeMemoryEx))
        return;
    Find(wts, named("WTSEnumerateSessionsEx"), &entry->EnumerateSessionsEx);
    Find(wts, named("WTSEnumerateProcessesEx"), &entry->EnumerateProcessesEx);
}

// Looks the entries up in order; returns the name of the first that is missing.
template <size_t N>
const char* BindInOrder(HMODULE wts, const RequiredEntry (&required)[N])
{
    for (const RequiredEntry& entry : required) {
        *entry.slot = Binding.GetProcAddress(wts, entry.name);
        if (!*entry.slot)
            return entry.name;
    }
    return nullptr;
}

template <class Fn>
RequiredEntry Slot(const char* name, Fn* slot)
{
    return {name, reinterpret_cast<FARPROC*>(slot)};
}

// Returns the name of the first required entry point that is missing.
const char* BindRequired(HMODULE wts, BoundEntryPoints* e)
{
    const RequiredEntry required[] = {
        Slot("WTSOpenServerA", &e->Ansi.OpenServer),
        Slot("WTSCloseServer", &e->WTSCloseServer),
        Slot("WTSEnumerateSessionsA", &e->Ansi.EnumerateSessions),
        Slot("WTSEnumerateProcessesA", &e->Ansi.EnumerateProcesses),
        Slot("WTSFreeMemory", &e->WTSFreeMemory),
        Slot("WTSDisconnectSession", &e->WTSDisconnectSession),
        Slot("WTSLogoffSession", &e->WTSLogoffSession),
        Slot("WTSTerminateProcess", &e->WTSTerminateProcess),
        Slot("WTSSendMessageA", &e->Ansi.SendMessageBox),
        Slot("WTSQuerySessionInformationA", &e->Ansi.QuerySessionInformation),
        Slot("WTSWaitSystemEvent", &e->WTSWaitSystemEvent),
        Slot("WTSShutdownSystem", &e->WTSShutdownSystem),
    };
    return BindInOrder(wts, required);
}

// The wide entry points the UTF-8 exports call. None is required by the
// interpreter or the ANSI exports: what is missing is only named.
void BindWide(HMODULE wts, BindingTable* table)
{
    TextEntryPoints<WCHAR>* w = &table->Entry.Wide;
    BindExtended(wts, "W", w);
    const RequiredEntry required[] = {
        Slot("WTSOpenServerW", &w->OpenServer),
        Slot("WTSEnumerateSessionsW", &w->EnumerateSessions),
        Slot("WTSEnumerateProcessesW", &w->EnumerateProcesses),
        Slot("WTSSendMessageW", &w->SendMessageBox),
        Slot("WTSQuerySessionInformationW", &w->QuerySessionInformation),
    };
    if (const char* missing = BindInOrder(wts, required))
        Compose(table->WideMessage, missing, "() not found in WTSAPI32.DLL");
    else
        table->WideExportsBound = 1;
}

int BindWtsapi(BindingTable* table)
{
    HMODULE wts = table->Libraries.Wtsapi32 = xLoadSystemLibrary("WTSAPI32.DLL", Binding.LoadLibraryA);
    if (!wts)
        return table->ProductPresent ? Fail(table, "Unable to load WTSAPI32.DLL") : 0;
    BindExtended(wts, "A", &table->Entry.Ansi);
    if (const char* missing = BindRequired(wts, &table->Entry))
        return Fail(table, missing, "() not found in WTSAPI32.DLL");
    table->ServicesBound = 1;
    BindWide(wts, table);
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

// What newer systems add: found or not, nothing fails for it.
void BindNewer(BindingTable* table)
{
    NewerEntryPoints* n = &table->Newer;
    if (HMODULE wts = table->Libraries.Wtsapi32) {
        Find(wts, "WTSConnectSessionW", &n->WTSConnectSessionW);
        Find(wts, "WTSStartRemoteControlSessionW", &n->WTSStartRemoteControlSessionW);
        Find(wts, "WTSStopRemoteControlSession", &n->WTSStopRemoteControlSession);
        Find(wts, "WTSEnumerateServersW", &n->WTSEnumerateServersW);
    }
    if (HMODULE net = table->Libraries.Netapi32 = xLoadSystemLibrary("NETAPI32.DLL", Binding.LoadLibraryA)) {
        if (!Find(net, "NetApiBufferFree", &n->NetApiBufferFree) || !Find(net, "NetServerGetInfo", &n->NetServerGetInfo))
            n->NetServerGetInfo = nullptr;
    }
    if (HMODULE reg = table->Libraries.Advapi32 = xLoadSystemLibrary("ADVAPI32.DLL", Binding.LoadLibraryA)) {
        const bool all = Find(reg, "RegConnectRegistryW", &n->RegConnectRegistryW) &&
                         Find(reg, "RegOpenKeyExW", &n->RegOpenKeyExW) &&
                         Find(reg, "RegQueryValueExW", &n->RegQueryValueExW) &&
                         Find(reg, "RegSetValueExW", &n->RegSetValueExW) && Find(reg, "RegCloseKey", &n->RegCloseKey);
        if (!all)
            n->RegConnectRegistryW = nullptr;
    }
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
    BindNewer(table);
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
    const HMODULE order[] = {libraries.Kernel32, libraries.Wtsapi32, libraries.Winsta, libraries.Netapi32,
                             libraries.Advapi32};
    for (HMODULE module : order) {
        if (module)
            Binding.FreeLibrary(module);
    }
}
