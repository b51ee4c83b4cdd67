// The terminal-services entry points as the exports call them: tables that
// the run-time binding fills, each published once complete and never
// changed after, and the holds that keep a table alive during a call.
#pragma once
#include <windows.h>

#include <cstddef>

#include "api/tsplatform.h"
#include "support/errors.h"

// The entry points that take or give texts, in one of the platform's two
// forms: ANSI (Char = char, the ...A entry points) or wide (WCHAR, ...W).
template <class Char>
struct TextEntryPoints {
    typename TsTextEntries<Char>::Open OpenServerEx;
    typename TsTextEntries<Char>::FreeEx FreeMemoryEx;
    typename TsTextEntries<Char>::SessionsEx EnumerateSessionsEx;
    typename TsTextEntries<Char>::ProcessesEx EnumerateProcessesEx;
    typename TsTextEntries<Char>::Open OpenServer;
    typename TsTextEntries<Char>::Sessions EnumerateSessions;
    typename TsTextEntries<Char>::Processes EnumerateProcesses;
    typename TsTextEntries<Char>::Send SendMessageBox;
    typename TsTextEntries<Char>::Query QuerySessionInformation;
};

// Every bound entry point; null when not found.
struct BoundEntryPoints {
    TextEntryPoints<char> Ansi;
    TextEntryPoints<WCHAR> Wide;
    WTSCloseServerFn WTSCloseServer;
    WTSFreeMemoryFn WTSFreeMemory;
    WTSSessionActionFn WTSDisconnectSession;
    WTSSessionActionFn WTSLogoffSession;
    WTSTerminateProcessFn WTSTerminateProcess;
    WTSWaitSystemEventFn WTSWaitSystemEvent;
    WTSShutdownSystemFn WTSShutdownSystem;
    WTSGetActiveConsoleSessionIdFn WTSGetActiveConsoleSessionId;
    ProcessIdToSessionIdFn ProcessIdToSessionId;
    WinStationQueryInformationWFn WinStationQueryInformationW;
};

// What newer systems add, each looked up by name and null where the system
// lacks it; the exports that need one say so (QRVTS_NOT_AVAILABLE).
struct NewerEntryPoints {
    WTSConnectSessionWFn WTSConnectSessionW;               // Vista SP1, Server 2008
    WTSStartRemoteControlSessionWFn WTSStartRemoteControlSessionW;  // Vista SP1, Server 2008
    WTSStopRemoteControlSessionFn WTSStopRemoteControlSession;      // Vista SP1, Server 2008
    WTSEnumerateServersWFn WTSEnumerateServersW;
    NetServerGetInfoFn NetServerGetInfo;  // NETAPI32: the server's Windows version
    NetApiBufferFreeFn NetApiBufferFree;
    RegConnectRegistryWFn RegConnectRegistryW;  // ADVAPI32: a server's registry
    RegOpenKeyExWFn RegOpenKeyExW;
    RegQueryValueExWFn RegQueryValueExW;
    RegSetValueExWFn RegSetValueExW;
    RegCloseKeyFn RegCloseKey;
};

// The libraries a table holds one reference on each, in the order they are
// released.
struct LoadedLibraries {
    HMODULE Kernel32, Wtsapi32, Winsta, Netapi32, Advapi32;
};

const int kBindingMessageSize = 257;

// What one run of the binding sequence found.
struct BindingTable {
    BoundEntryPoints Entry;
    NewerEntryPoints Newer;
    LoadedLibraries Libraries;
    // 1 once every required entry point of the terminal-services library was found.
    DWORD ServicesBound;
    // The answer of the presence test, taken when binding.
    DWORD ProductPresent;
    // 1 when the add-on's library of that name is present.
    DWORD WfapiLoaded, ApsdkLoaded, SmcapiLoaded;
    // 1 when every entry point an export needs was found: the sequence got
    // past the kernel's entry points with the terminal services bound.
    DWORD ExportsBound;
    // 1 when the wide entry points the UTF-8 exports need were found as
    // well; else WideMessage names the first that is missing.
    DWORD WideExportsBound;
    char WideMessage[kBindingMessageSize];
    // The sequence's result (the number of script functions, or -1) and its
    // message: the empty text, or the one naming what is missing.
    int Result;
    char Message[kBindingMessageSize];
};

// The binding sequence, supplied by the run-time binding: fills `table`
// (zeroed by the caller), which then holds a reference on every library it
// names; on failure writes the message and returns -1, else the number of
// script functions.
int xRunBindingSequence(BindingTable* table);

// Gives back the library references of a table, supplied by the run-time binding.
void xReleaseLibraries(const LoadedLibraries& libraries);

// The interpreter's initialisation: runs the whole sequence again. Callers
// holding the current table keep it; the new one replaces it unless it
// found the same, or failed where the current one had succeeded. On failure
// copies the message into `message` (when not null). Returns the sequence's result.
int xInitialiseBinding(char* message);

// The interpreter's termination: nothing stays bound. The libraries go back
// once no call holds the table; the next export that needs the platform
// binds again.
void xTerminateBinding();

// Puts `table` (copied; it holds no library) in place of any binding, for a
// program that supplies the entry points itself.
void xInstallBinding(const BindingTable& table);

// At unload, when no caller is left: gives back every table and library.
void xReleaseAllBindings();

// A hold on the binding for one call: while it lasts, the table it returns
// is neither changed nor released.
class BindingLease {
public:
    BindingLease();
    ~BindingLease();
    BindingLease(const BindingLease&) = delete;
    BindingLease& operator=(const BindingLease&) = delete;

    // The binding, made now when nothing is bound.
    const BindingTable& Bound();
    // The binding as it stands; a table of nothing when nothing is bound.
    const BindingTable& Current();

private:
    const BindingTable* table_;
};

// What every export does on entry: it forgets the calling thread's code, so
// that the code describes this call, and holds the binding for the call.
class ExportCall : public BindingLease {
public:
    ExportCall() { xClearThreadLastErrorCode(); }
};

// True when the terminal-services library is bound and `entry`, one of its
// entry points in `table`, was found. The wide entry points serve only when
// all of those the UTF-8 exports need were found.
template <class Fn>
inline bool xServes(const BindingTable& table, Fn entry)
{
    return table.ServicesBound && entry;
}

template <class Char, class Fn>
inline bool xServesForm(const BindingTable& table, Fn entry)
{
    return xServes(table, entry) && (sizeof(Char) == 1 || table.WideExportsBound);
}

// The entry points of one form.
inline const TextEntryPoints<char>& xEntries(const BoundEntryPoints& e, char) { return e.Ansi; }
inline const TextEntryPoints<WCHAR>& xEntries(const BoundEntryPoints& e, WCHAR) { return e.Wide; }
template <class Char>
const TextEntryPoints<Char>& xEntriesOf(const BoundEntryPoints& e)
{
    return xEntries(e, Char());
}
