// The terminal-services platform as the library sees it: the records its
// entry points exchange and the entry points' types. Nothing here is linked;
// every entry point is bound by name at initialisation.
#pragma once
#include <windows.h>
#include <cstddef>

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
// library are the platform's, and these are their sizes on 32-bit Windows.
static_assert(sizeof(WTS_SESSION_INFOA) == 12 && sizeof(WTS_SESSION_INFOW) == 12, "WTS_SESSION_INFO");
static_assert(sizeof(WTS_SESSION_INFO_1A) == 32 && offsetof(WTS_SESSION_INFO_1A, pSessionName) == 12 &&
                  offsetof(WTS_SESSION_INFO_1W, pFarmName) == 28,
              "WTS_SESSION_INFO_1");
static_assert(sizeof(WTS_PROCESS_INFOA) == 16 && sizeof(WTS_PROCESS_INFOW) == 16, "WTS_PROCESS_INFO");
static_assert(sizeof(WTS_PROCESS_INFO_EXA) == 56 && offsetof(WTS_PROCESS_INFO_EXA, UserTime) == 40 &&
                  sizeof(WTS_PROCESS_INFO_EXW) == 56,
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
#undef TS_DECLARED_AS
