// The terminal-services platform as the library sees it: the records its
// entry points exchange and the entry points' types. Nothing here is linked;
// every entry point is bound by name at initialisation.
#pragma once
#include <windows.h>
#include <cstddef>

// The records come in the platform's two forms: ANSI texts (Char = char,
// the ...A entry points) and wide texts (Char = WCHAR, the ...W ones).
template <class Char>
struct TsSessionInfoOf {  // WTS_SESSION_INFOA / W
    DWORD SessionId;
    Char* pWinStationName;
    DWORD State;
};

template <class Char>
struct TsSessionInfo1Of {  // WTS_SESSION_INFO_1A / W
    DWORD ExecEnvId;
    DWORD State;
    DWORD SessionId;
    Char* pSessionName;
    Char* pHostName;
    Char* pUserName;
    Char* pDomainName;
    Char* pFarmName;
};

template <class Char>
struct TsProcessInfoOf {  // WTS_PROCESS_INFOA / W
    DWORD SessionId;
    DWORD ProcessId;
    Char* pProcessName;
    PSID pUserSid;
};

template <class Char>
struct TsProcessInfoExOf {  // WTS_PROCESS_INFO_EXA / W
    DWORD SessionId;
    DWORD ProcessId;
    Char* pProcessName;
    PSID pUserSid;
    DWORD NumberOfThreads;
    DWORD HandleCount;
    DWORD PagefileUsage;
    DWORD PeakPagefileUsage;
    DWORD WorkingSetSize;
    DWORD PeakWorkingSetSize;
    LARGE_INTEGER UserTime;
    LARGE_INTEGER KernelTime;
};

typedef TsSessionInfoOf<char> TsSessionInfo;
typedef TsSessionInfo1Of<char> TsSessionInfo1;
typedef TsProcessInfoOf<char> TsProcessInfo;
typedef TsProcessInfoExOf<char> TsProcessInfoEx;

struct TsClientAddress {  // WTS_CLIENT_ADDRESS
    DWORD AddressFamily;
    BYTE Address[20];
};

struct TsClientDisplay {  // WTS_CLIENT_DISPLAY
    DWORD HorizontalResolution;
    DWORD VerticalResolution;
    DWORD ColorDepth;
};

// WINSTATIONINFORMATIONW: only the five times are read.
const ULONG kWinStationInfoSize = 1216;
const ULONG kWinStationInformationClass = 8;
const size_t kConnectTimeOffset = 80;
const size_t kDisconnectTimeOffset = 88;
const size_t kLastInputTimeOffset = 96;
const size_t kLogonTimeOffset = 104;
const size_t kCurrentTimeOffset = 1208;

static_assert(sizeof(TsSessionInfo) == 12 && sizeof(TsSessionInfoOf<WCHAR>) == 12, "WTS_SESSION_INFO");
static_assert(sizeof(TsSessionInfo1) == 32 && offsetof(TsSessionInfo1, pSessionName) == 12 &&
                  sizeof(TsSessionInfo1Of<WCHAR>) == 32,
              "WTS_SESSION_INFO_1");
static_assert(sizeof(TsProcessInfo) == 16 && sizeof(TsProcessInfoOf<WCHAR>) == 16, "WTS_PROCESS_INFO");
static_assert(sizeof(TsProcessInfoEx) == 56 && offsetof(TsProcessInfoEx, UserTime) == 40 &&
                  sizeof(TsProcessInfoExOf<WCHAR>) == 56,
              "WTS_PROCESS_INFO_EX");
static_assert(sizeof(TsClientAddress) == 24 && offsetof(TsClientAddress, Address) == 4, "WTS_CLIENT_ADDRESS");
static_assert(sizeof(TsClientDisplay) == 12, "WTS_CLIENT_DISPLAY");
static_assert(kCurrentTimeOffset + 8 == kWinStationInfoSize, "CurrentTime ends the record");

// Type classes of WTSFreeMemoryExA and WTSFreeMemoryExW.
const int kTypeProcessInfoLevel0 = 0;
const int kTypeProcessInfoLevel1 = 1;
const int kTypeSessionInfoLevel1 = 2;

// The entry points that take or give texts, in either form.
template <class Char>
struct TsTextEntries {
    typedef HANDLE(WINAPI* Open)(Char*);
    typedef BOOL(WINAPI* Sessions)(HANDLE, DWORD, DWORD, TsSessionInfoOf<Char>**, DWORD*);
    typedef BOOL(WINAPI* SessionsEx)(HANDLE, DWORD*, DWORD, TsSessionInfo1Of<Char>**, DWORD*);
    typedef BOOL(WINAPI* Processes)(HANDLE, DWORD, DWORD, TsProcessInfoOf<Char>**, DWORD*);
    typedef BOOL(WINAPI* ProcessesEx)(HANDLE, DWORD*, DWORD, Char**, DWORD*);
    typedef BOOL(WINAPI* FreeEx)(int, PVOID, ULONG);
    typedef BOOL(WINAPI* Send)(HANDLE, DWORD, Char*, DWORD, Char*, DWORD, DWORD, DWORD, DWORD*, BOOL);
    typedef BOOL(WINAPI* Query)(HANDLE, DWORD, int, Char**, DWORD*);
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
typedef BOOLEAN(WINAPI* WinStationQueryInformationWFn)(HANDLE, ULONG, int, PVOID, ULONG, PULONG);
