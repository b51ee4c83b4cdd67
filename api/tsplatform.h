// The terminal-services platform as the library sees it: the records its
// entry points exchange and the entry points' types. Nothing here is linked;
// every entry point is bound by name at initialisation.
#pragma once
#include <windows.h>
#include <cstddef>

struct TsSessionInfo {  // WTS_SESSION_INFOA
    DWORD SessionId;
    LPSTR pWinStationName;
    DWORD State;
};

struct TsSessionInfo1 {  // WTS_SESSION_INFO_1A
    DWORD ExecEnvId;
    DWORD State;
    DWORD SessionId;
    LPSTR pSessionName;
    LPSTR pHostName;
    LPSTR pUserName;
    LPSTR pDomainName;
    LPSTR pFarmName;
};

struct TsProcessInfo {  // WTS_PROCESS_INFOA
    DWORD SessionId;
    DWORD ProcessId;
    LPSTR pProcessName;
    PSID pUserSid;
};

struct TsProcessInfoEx {  // WTS_PROCESS_INFO_EXA
    DWORD SessionId;
    DWORD ProcessId;
    LPSTR pProcessName;
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

static_assert(sizeof(TsSessionInfo) == 12, "WTS_SESSION_INFOA");
static_assert(sizeof(TsSessionInfo1) == 32 && offsetof(TsSessionInfo1, pSessionName) == 12, "WTS_SESSION_INFO_1A");
static_assert(sizeof(TsProcessInfo) == 16, "WTS_PROCESS_INFOA");
static_assert(sizeof(TsProcessInfoEx) == 56 && offsetof(TsProcessInfoEx, UserTime) == 40, "WTS_PROCESS_INFO_EXA");
static_assert(sizeof(TsClientAddress) == 24 && offsetof(TsClientAddress, Address) == 4, "WTS_CLIENT_ADDRESS");
static_assert(sizeof(TsClientDisplay) == 12, "WTS_CLIENT_DISPLAY");
static_assert(kCurrentTimeOffset + 8 == kWinStationInfoSize, "CurrentTime ends the record");

// Type classes of WTSFreeMemoryExA.
const int kTypeProcessInfoLevel0 = 0;
const int kTypeProcessInfoLevel1 = 1;
const int kTypeSessionInfoLevel1 = 2;

typedef HANDLE(WINAPI* WTSOpenServerAFn)(LPSTR);
typedef void(WINAPI* WTSCloseServerFn)(HANDLE);
typedef BOOL(WINAPI* WTSEnumerateSessionsAFn)(HANDLE, DWORD, DWORD, TsSessionInfo**, DWORD*);
typedef BOOL(WINAPI* WTSEnumerateSessionsExAFn)(HANDLE, DWORD*, DWORD, TsSessionInfo1**, DWORD*);
typedef BOOL(WINAPI* WTSEnumerateProcessesAFn)(HANDLE, DWORD, DWORD, TsProcessInfo**, DWORD*);
typedef BOOL(WINAPI* WTSEnumerateProcessesExAFn)(HANDLE, DWORD*, DWORD, LPSTR*, DWORD*);
typedef void(WINAPI* WTSFreeMemoryFn)(PVOID);
typedef BOOL(WINAPI* WTSFreeMemoryExAFn)(int, PVOID, ULONG);
typedef BOOL(WINAPI* WTSSessionActionFn)(HANDLE, DWORD, BOOL);
typedef BOOL(WINAPI* WTSTerminateProcessFn)(HANDLE, DWORD, DWORD);
typedef BOOL(WINAPI* WTSSendMessageAFn)(HANDLE, DWORD, LPSTR, DWORD, LPSTR, DWORD, DWORD, DWORD, DWORD*, BOOL);
typedef BOOL(WINAPI* WTSQuerySessionInformationAFn)(HANDLE, DWORD, int, LPSTR*, DWORD*);
typedef BOOL(WINAPI* WTSWaitSystemEventFn)(HANDLE, DWORD, DWORD*);
typedef BOOL(WINAPI* WTSShutdownSystemFn)(HANDLE, DWORD);
typedef DWORD(WINAPI* WTSGetActiveConsoleSessionIdFn)(void);
typedef DWORD(WINAPI* GetTempPathAFn)(DWORD, LPSTR);
typedef BOOL(WINAPI* ProcessIdToSessionIdFn)(DWORD, DWORD*);
typedef BOOLEAN(WINAPI* WinStationQueryInformationWFn)(HANDLE, ULONG, int, PVOID, ULONG, PULONG);
