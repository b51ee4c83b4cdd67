#include "sim/inprocess.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "api/bound.h"
#include "support/process.h"

InProcessServer Server;

namespace {

// One SID for every process that has one: a domain user.
struct DomainUserSid {
    BYTE revision = 1, count = 5;
    BYTE authority[6] = {0, 0, 0, 0, 0, 5};
    DWORD subs[5] = {21, 1004336348, 1177238915, 682003330, 1104};
};
DomainUserSid userSid;

template <class T>
T* Allocate(size_t bytes)
{
    ++Server.buffers;
    return static_cast<T*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes));
}

template <class Char>
HANDLE WINAPI Open(Char*)
{
    return ++Server.opens, reinterpret_cast<HANDLE>(0x5100);
}

void WINAPI Close(HANDLE) { ++Server.closes; }

void WINAPI Free(PVOID p)
{
    ++Server.releases;
    HeapFree(GetProcessHeap(), 0, p);
}

BOOL WINAPI FreeEx(WTS_TYPE_CLASS, PVOID p, ULONG)
{
    Free(p);
    return TRUE;
}

// Names are written after the records: "RDP-Tcp#n" and "process-n.exe",
// in the texts of the entry point's form.
const size_t kNameChars = 24;  // characters

template <class Char>
Char* WriteName(Char* at, const char* format, DWORD n)
{
    char text[kNameChars];
    snprintf(text, sizeof text, format, n);
    for (size_t i = 0; i <= strlen(text); ++i)
        at[i] = Char(text[i]);
    return at;
}

template <class Char>
BOOL WINAPI EnumSessions(HANDLE, DWORD, DWORD, TsSessionInfoOf<Char>** out, DWORD* count)
{
    const DWORD n = Server.sessions;
    auto* records = Allocate<TsSessionInfoOf<Char>>(n * (sizeof(TsSessionInfoOf<Char>) + kNameChars * sizeof(Char)) + 1);
    Char* names = reinterpret_cast<Char*>(records + n);
    for (DWORD i = 0; i < n; ++i) {
        records[i].SessionId = i;
        records[i].State = WTS_CONNECTSTATE_CLASS(i % 11);  // 10: a state the platform does not name
        records[i].pWinStationName = WriteName(names + i * kNameChars, "RDP-Tcp#%lu", i);
    }
    *out = records;
    *count = n;
    return TRUE;
}

template <class Char>
BOOL WINAPI EnumProcesses(HANDLE, DWORD, DWORD, TsProcessInfoOf<Char>** out, DWORD* count)
{
    const DWORD n = Server.processes;
    auto* records = Allocate<TsProcessInfoOf<Char>>(n * (sizeof(TsProcessInfoOf<Char>) + kNameChars * sizeof(Char)) + 1);
    Char* names = reinterpret_cast<Char*>(records + n);
    for (DWORD i = 0; i < n; ++i) {
        records[i].ProcessId = 4 + 4 * i;
        records[i].SessionId = i % Server.sessionsOfProcesses;
        records[i].pUserSid = i < Server.withoutSid ? nullptr : &userSid;
        records[i].pProcessName = WriteName(names + i * kNameChars, "process-%lu.exe", i);
    }
    *out = records;
    *count = n;
    return TRUE;
}

// Every session is the same rich one; texts in the entry point's form.
template <class Char>
BOOL WINAPI QueryInfo(HANDLE, DWORD, WTS_INFO_CLASS infoClass, Char** buffer, DWORD* bytes)
{
    ++Server.queries;
    char* b = Allocate<char>(64 * sizeof(Char));
    switch (infoClass) {
    case 14: {
        TsClientAddress a = {2, {0, 0, 10, 0, 0, 7}};
        memcpy(b, &a, *bytes = sizeof a);
        break;
    }
    case 15: {
        TsClientDisplay d = {1024, 768, 16};
        memcpy(b, &d, *bytes = sizeof d);
        break;
    }
    case 12: case 16: b[0] = 2, *bytes = 2; break;  // the platform's USHORT values
    case 8: case 9: case 13: b[0] = 2, *bytes = 4; break;
    default:
        WriteName(reinterpret_cast<Char*>(b), "text of class %lu", DWORD(infoClass));
        *bytes = DWORD(snprintf(nullptr, 0, "text of class %d", infoClass) + 1) * DWORD(sizeof(Char));
    }
    *buffer = reinterpret_cast<Char*>(b);
    if (infoClass == Server.shortClass)
        *bytes = 1;
    if (infoClass == Server.refusedClass) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

BOOLEAN WINAPI QueryTimes(HANDLE, ULONG, WINSTATIONINFOCLASS, PVOID info, ULONG, PULONG)
{
    const ULONGLONG time = 127859223670000000ull;  // 2006:03:04:05:06:07
    for (size_t offset : {WINSTATION_CONNECT_TIME_OFFSET, WINSTATION_LOGON_TIME_OFFSET, WINSTATION_LAST_INPUT_TIME_OFFSET, WINSTATION_CURRENT_TIME_OFFSET})
        memcpy(static_cast<BYTE*>(info) + offset, &time, 8);
    return TRUE;
}

}  // namespace

BindingTable xInProcessBinding()
{
    BindingTable table = {};
    BoundEntryPoints& e = table.Entry;
    e.Ansi.OpenServer = Open<char>;
    e.Wide.OpenServer = Open<WCHAR>;
    e.WTSCloseServer = Close;
    e.WTSFreeMemory = Free;
    e.Ansi.FreeMemoryEx = FreeEx;
    e.Ansi.EnumerateSessions = EnumSessions<char>;
    e.Ansi.EnumerateProcesses = EnumProcesses<char>;
    e.Wide.FreeMemoryEx = FreeEx;
    e.Wide.EnumerateSessions = EnumSessions<WCHAR>;
    e.Wide.EnumerateProcesses = EnumProcesses<WCHAR>;
    e.Ansi.QuerySessionInformation = QueryInfo<char>;
    e.Wide.QuerySessionInformation = QueryInfo<WCHAR>;
    e.WinStationQueryInformationW = QueryTimes;
    table.ServicesBound = table.ExportsBound = table.WideExportsBound = 1;
    table.Result = 16;
    return table;
}

void xBindInProcessServer()
{
    xProcessAttach(GetModuleHandleA(nullptr));
    xInstallBinding(xInProcessBinding());
}
