// The terminal-services platform as the library sees it: the records its
// entry points exchange and the entry points' types. Nothing here is linked;
// every entry point is bound by name at initialisation.
#pragma once
#include <windows.h>
#include <cstddef>

#include "include/velquor.h"
#include "support/wtsplatform.h"

// The platform's records of one character width, by the names the library
// uses for them.
template <class Char>
using TsSessionInfoOf = typename WtsRecords<Char>::Session;
template <class Char>
using TsSessionInfo1Of = typename WtsRecords<Char>::Session1;
template <class Char>
using TsProcessInfoOf = typename WtsRecords<Char>::Process;
template <class Char>
using TsProcessInfoExOf = typename WtsRecords<Char>::ProcessEx;
typedef WTS_CLIENT_ADDRESS TsClientAddress;
typedef WTS_CLIENT_DISPLAY TsClientDisplay;

// The layouts the library reads, pinned: the records declared above the
// library are the platform's, and these are their sizes on 32-bit and on
// 64-bit Windows (QRVTS_AT(x86, x64)).
static_assert(sizeof(WTS_SESSION_INFOA) == QRVTS_AT(12, 24) && sizeof(WTS_SESSION_INFOW) == QRVTS_AT(12, 24),
              "WTS_SESSION_INFO");
static_assert(sizeof(WTS_SESSION_INFO_1A) == QRVTS_AT(32, 56) &&
                  offsetof(WTS_SESSION_INFO_1A, pSessionName) == QRVTS_AT(12, 16) &&
                  offsetof(WTS_SESSION_INFO_1W, pFarmName) == QRVTS_AT(28, 48),
              "WTS_SESSION_INFO_1");
static_assert(sizeof(WTS_PROCESS_INFOA) == QRVTS_AT(16, 24) && sizeof(WTS_PROCESS_INFOW) == QRVTS_AT(16, 24),
              "WTS_PROCESS_INFO");
static_assert(sizeof(WTS_PROCESS_INFO_EXA) == QRVTS_AT(56, 64) &&
                  offsetof(WTS_PROCESS_INFO_EXA, UserTime) == QRVTS_AT(40, 48) &&
                  sizeof(WTS_PROCESS_INFO_EXW) == QRVTS_AT(56, 64),
              "WTS_PROCESS_INFO_EX");
static_assert(sizeof(WTS_CLIENT_ADDRESS) == 24 && offsetof(WTS_CLIENT_ADDRESS, Address) == 4, "WTS_CLIENT_ADDRESS");
static_assert(sizeof(WTS_CLIENT_DISPLAY) == 12, "WTS_CLIENT_DISPLAY");
static_assert(sizeof(WINSTATIONINFORMATIONW) == 1216 && offsetof(WINSTATIONINFORMATIONW, LogonId) == 72 &&
                  WINSTATION_CURRENT_TIME_OFFSET + 8 == sizeof(WINSTATIONINFORMATIONW),
              "WINSTATIONINFORMATIONW");

// The entry points that take or give texts, in either form.
template <class Char>
struct TsTextEntries {
    typedef HANDLE(WINAPI* Open)(Char*);
    typedef BOOL(WINAPI* Sessions)(HANDLE, DWORD, DWORD, TsSessionInfoOf<Char>**, DWORD*);
    typedef BOOL(WINAPI* SessionsEx)(HANDLE, DWORD*, DWORD, TsSessionInfo1Of<Char>**, DWORD*);
    typedef BOOL(WINAPI* Processes)(HANDLE, DWORD, DWORD, TsProcessInfoOf<Char>**, DWORD*);
    typedef BOOL(WINAPI* ProcessesEx)(HANDLE, DWORD*, DWORD, Char**, DWORD*);
    typedef BOOL(WINAPI* FreeEx)(WTS_TYPE_CLASS, PVOID, ULONG);
    typedef BOOL(WINAPI* Send)(HANDLE, DWORD, Char*, DWORD, Char*, DWORD, DWORD, DWORD, DWORD*, BOOL);
    typedef BOOL(WINAPI* Query)(HANDLE, DWORD, WTS_INFO_CLASS, Char**, DWORD*);
};

typedef TsTextEntries<char>::Open WTSOpenServerAFn;
typedef void(WINAPI* WTSCloseServerFn)(HANDLE);
typedef TsTextEntries<char>::Sessions WTSEnumerateSessionsAFn;
typedef TsTextEntries<char>::SessionsEx WTSEnumerateSessionsExAFn;
typedef TsTextEntries<char>::Processes WTSEnumerateProcessesAFn;
typedef TsTextEntries<char>::ProcessesEx WTSEnumerateProcessesExAFn;
typedef void(WINAPI* WTSFreeMemoryFn)(PVOID);
typedef TsTextEntries<char>::FreeEx WTSFreeMemoryExAFn;
typedef BOOL(WINAPI* WTSSessionActionFn)(HANDLE, DWORD, BOOL);
typedef BOOL(WINAPI* WTSTerminateProcessFn)(HANDLE, DWORD, DWORD);
typedef TsTextEntries<char>::Send WTSSendMessageAFn;
typedef TsTextEntries<char>::Query WTSQuerySessionInformationAFn;
typedef BOOL(WINAPI* WTSWaitSystemEventFn)(HANDLE, DWORD, DWORD*);
typedef BOOL(WINAPI* WTSShutdownSystemFn)(HANDLE, DWORD);
typedef DWORD(WINAPI* WTSGetActiveConsoleSessionIdFn)(void);
typedef DWORD(WINAPI* GetTempPathAFn)(DWORD, LPSTR);
typedef BOOL(WINAPI* ProcessIdToSessionIdFn)(DWORD, DWORD*);
typedef PWINSTATIONQUERYINFORMATIONW WinStationQueryInformationWFn;
// Looked up by name where the system has them (see the binding).
typedef BOOL(WINAPI* WTSConnectSessionWFn)(ULONG, ULONG, PWSTR, BOOL);
typedef BOOL(WINAPI* WTSStartRemoteControlSessionWFn)(LPWSTR, ULONG, BYTE, USHORT);
typedef BOOL(WINAPI* WTSStopRemoteControlSessionFn)(ULONG);
typedef BOOL(WINAPI* WTSEnumerateServersWFn)(LPWSTR, DWORD, DWORD, PWTS_SERVER_INFOW*, DWORD*);
typedef NET_API_STATUS(WINAPI* NetServerGetInfoFn)(LMSTR, DWORD, LPBYTE*);
typedef NET_API_STATUS(WINAPI* NetApiBufferFreeFn)(LPVOID);
typedef LONG(WINAPI* RegConnectRegistryWFn)(LPCWSTR, HKEY, PHKEY);
typedef LONG(WINAPI* RegOpenKeyExWFn)(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
typedef LONG(WINAPI* RegQueryValueExWFn)(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
typedef LONG(WINAPI* RegSetValueExWFn)(HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD);
typedef LONG(WINAPI* RegCloseKeyFn)(HKEY);

// The level-1 session record, as its page lays it out (the times 8-byte aligned).
static_assert(offsetof(WTSINFOEX_LEVEL1_W, WinStationName) == 12 && offsetof(WTSINFOEX_LEVEL1_W, LogonTime) == 160 &&
                  offsetof(WTSINFOEX_LEVEL1_W, IncomingBytes) == 200 && sizeof(WTSINFOEX_LEVEL1_W) == 224,
              "WTSINFOEX_LEVEL1_W");
static_assert(offsetof(WTSINFOEXW, Data) == 8 && sizeof(WTSINFOEXW) == 232, "WTSINFOEXW");
static_assert(sizeof(WTS_SERVER_INFOW) == sizeof(LPWSTR), "WTS_SERVER_INFOW");
static_assert(offsetof(SERVER_INFO_101, sv101_version_major) == QRVTS_AT(8, 16) &&
                  offsetof(SERVER_INFO_101, sv101_version_minor) == QRVTS_AT(12, 20),
              "SERVER_INFO_101");

// The types above are those mingw-w64's <wtsapi32.h> declares, where it
// declares the entry point.
template <class A, class B>
struct TsSameType {
    static const bool value = false;
};
template <class A>
struct TsSameType<A, A> {
    static const bool value = true;
};
#define TS_DECLARED_AS(type, entry) static_assert(TsSameType<type, decltype(&entry)>::value, #entry)
TS_DECLARED_AS(TsTextEntries<char>::Open, WTSOpenServerA);
TS_DECLARED_AS(TsTextEntries<WCHAR>::Open, WTSOpenServerW);
TS_DECLARED_AS(WTSCloseServerFn, WTSCloseServer);
TS_DECLARED_AS(TsTextEntries<char>::Sessions, WTSEnumerateSessionsA);
TS_DECLARED_AS(TsTextEntries<WCHAR>::Sessions, WTSEnumerateSessionsW);
TS_DECLARED_AS(TsTextEntries<char>::Processes, WTSEnumerateProcessesA);
TS_DECLARED_AS(TsTextEntries<WCHAR>::Processes, WTSEnumerateProcessesW);
TS_DECLARED_AS(WTSFreeMemoryFn, WTSFreeMemory);
TS_DECLARED_AS(WTSSessionActionFn, WTSDisconnectSession);
TS_DECLARED_AS(WTSSessionActionFn, WTSLogoffSession);
TS_DECLARED_AS(WTSTerminateProcessFn, WTSTerminateProcess);
TS_DECLARED_AS(TsTextEntries<char>::Send, WTSSendMessageA);
TS_DECLARED_AS(TsTextEntries<WCHAR>::Send, WTSSendMessageW);
TS_DECLARED_AS(TsTextEntries<char>::Query, WTSQuerySessionInformationA);
TS_DECLARED_AS(TsTextEntries<WCHAR>::Query, WTSQuerySessionInformationW);
TS_DECLARED_AS(WTSWaitSystemEventFn, WTSWaitSystemEvent);
TS_DECLARED_AS(WTSShutdownSystemFn, WTSShutdownSystem);
TS_DECLARED_AS(WTSConnectSessionWFn, WTSConnectSessionW);
TS_DECLARED_AS(WTSStartRemoteControlSessionWFn, WTSStartRemoteControlSessionW);
TS_DECLARED_AS(WTSStopRemoteControlSessionFn, WTSStopRemoteControlSession);
TS_DECLARED_AS(WTSEnumerateServersWFn, WTSEnumerateServersW);
TS_DECLARED_AS(NetServerGetInfoFn, NetServerGetInfo);
TS_DECLARED_AS(NetApiBufferFreeFn, NetApiBufferFree);
TS_DECLARED_AS(RegConnectRegistryWFn, RegConnectRegistryW);
TS_DECLARED_AS(RegOpenKeyExWFn, RegOpenKeyExW);
TS_DECLARED_AS(RegQueryValueExWFn, RegQueryValueExW);
TS_DECLARED_AS(RegSetValueExWFn, RegSetValueExW);
TS_DECLARED_AS(RegCloseKeyFn, RegCloseKey);
#undef TS_DECLARED_AS
