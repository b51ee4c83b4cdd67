/* The terminal-services platform's own values and records, for the library,
 * the simulator and velquor.exe alike: mingw-w64's <wtsapi32.h>,
 * <winternl.h>, <winuser.h> and <winerror.h> where they hold them (event
 * masks, WTS_EVENT_FLUSH, the information classes up to WTSSessionInfo, the
 * connect states, the shutdown flags, the message-box answers, the basic
 * records, the errors, and <winsock2.h>'s address families of a client's
 * address), and below, each with the documentation page it comes
 * from, what mingw-w64 10 lacks. Nothing else declares a platform value. */
#ifndef VELQUOR_WTSPLATFORM_H
#define VELQUOR_WTSPLATFORM_H

#include <winsock2.h>
#include <windows.h>
#include <wtsapi32.h>
#include <winternl.h>
#include <lmcons.h>
#include <lmserver.h>
#include <lmapibuf.h>
#include <lmerr.h>

/* "WTSEnumerateProcessesEx" page: every session's processes. */
#ifndef WTS_ANY_SESSION
#define WTS_ANY_SESSION ((DWORD)0xFFFFFFFE)
#endif

/* "WTSFreeMemoryEx" page: what a level-1 buffer holds. */
typedef enum _WTS_TYPE_CLASS {
    WTSTypeProcessInfoLevel0,
    WTSTypeProcessInfoLevel1,
    WTSTypeSessionInfoLevel1
} WTS_TYPE_CLASS;

/* "WTS_SESSION_INFO_1A" / "WTS_SESSION_INFO_1W" pages (Windows 7 and
 * Server 2008 R2 on, through WTSEnumerateSessionsEx). */
typedef struct _WTS_SESSION_INFO_1A {
    DWORD ExecEnvId;
    WTS_CONNECTSTATE_CLASS State;
    DWORD SessionId;
    LPSTR pSessionName;
    LPSTR pHostName;
    LPSTR pUserName;
    LPSTR pDomainName;
    LPSTR pFarmName;
} WTS_SESSION_INFO_1A, *PWTS_SESSION_INFO_1A;

typedef struct _WTS_SESSION_INFO_1W {
    DWORD ExecEnvId;
    WTS_CONNECTSTATE_CLASS State;
    DWORD SessionId;
    LPWSTR pSessionName;
    LPWSTR pHostName;
    LPWSTR pUserName;
    LPWSTR pDomainName;
    LPWSTR pFarmName;
} WTS_SESSION_INFO_1W, *PWTS_SESSION_INFO_1W;

/* "WTS_PROCESS_INFO_EXA" / "WTS_PROCESS_INFO_EXW" pages (Windows 7 and
 * Server 2008 R2 on, through WTSEnumerateProcessesEx level 1). */
typedef struct _WTS_PROCESS_INFO_EXA {
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
} WTS_PROCESS_INFO_EXA, *PWTS_PROCESS_INFO_EXA;

typedef struct _WTS_PROCESS_INFO_EXW {
    DWORD SessionId;
    DWORD ProcessId;
    LPWSTR pProcessName;
    PSID pUserSid;
    DWORD NumberOfThreads;
    DWORD HandleCount;
    DWORD PagefileUsage;
    DWORD PeakPagefileUsage;
    DWORD WorkingSetSize;
    DWORD PeakWorkingSetSize;
    LARGE_INTEGER UserTime;
    LARGE_INTEGER KernelTime;
} WTS_PROCESS_INFO_EXW, *PWTS_PROCESS_INFO_EXW;

/* "WTS_INFO_CLASS" page: the level-1 record of a session (Windows 7 and
 * Server 2008 R2 on). */
#define WTSSessionInfoEx ((WTS_INFO_CLASS)25)

/* "WTSINFOEX_LEVEL1_W" page (the wide form, the only one asked for):
 * SessionFlags. Windows 7 and Server 2008 R2 report LOCK and UNLOCK
 * reversed ("due to a code defect"). */
#define WTS_SESSIONSTATE_LOCK 0x00000000
#define WTS_SESSIONSTATE_UNLOCK 0x00000001
#define WTS_SESSIONSTATE_UNKNOWN 0xFFFFFFFF

typedef struct _WTSINFOEX_LEVEL1_W {
    ULONG SessionId;
    WTS_CONNECTSTATE_CLASS SessionState;
    LONG SessionFlags;
    WCHAR WinStationName[WINSTATIONNAME_LENGTH + 1];
    WCHAR UserName[USERNAME_LENGTH + 1];
    WCHAR DomainName[DOMAIN_LENGTH + 1];
    LARGE_INTEGER LogonTime;
    LARGE_INTEGER ConnectTime;
    LARGE_INTEGER DisconnectTime;
    LARGE_INTEGER LastInputTime;
    LARGE_INTEGER CurrentTime;
    DWORD IncomingBytes;
    DWORD OutgoingBytes;
    DWORD IncomingFrames;
    DWORD OutgoingFrames;
    DWORD IncomingCompressedBytes;
    DWORD OutgoingCompressedBytes;
} WTSINFOEX_LEVEL1_W, *PWTSINFOEX_LEVEL1_W;

/* "WTSINFOEXW" page: the answer to WTSSessionInfoEx; Level is 1. */
typedef union _WTSINFOEX_LEVEL_W {
    WTSINFOEX_LEVEL1_W WTSInfoExLevel1;
} WTSINFOEX_LEVEL_W, *PWTSINFOEX_LEVEL_W;

typedef struct _WTSINFOEXW {
    DWORD Level;
    WTSINFOEX_LEVEL_W Data;
} WTSINFOEXW, *PWTSINFOEXW;

/* "WTSStartRemoteControlSession" page: the modifiers of the key that ends
 * a remote control (values of the SDK's wtsapi32.h). */
#define REMOTECONTROL_KBDSHIFT_HOTKEY 0x1
#define REMOTECONTROL_KBDCTRL_HOTKEY 0x2
#define REMOTECONTROL_KBDALT_HOTKEY 0x4

/* WINSTATIONINFORMATIONW (WinStationInformation, class 8, of winsta.dll's
 * WinStationQueryInformationW): <winternl.h> gives its size and LogonId
 * only; the times follow LogonId as winsta.h lays the record out
 * (ConnectState, WinStationName[33], LogonId, ConnectTime, DisconnectTime,
 * LastInputTime, LogonTime, Status, Domain, UserName, CurrentTime, as the
 * WINSTATIONINFORMATION page of the Process Hacker documentation shows it):
 * byte offsets of the FILETIME values. */
#define WINSTATION_CONNECT_TIME_OFFSET 80
#define WINSTATION_DISCONNECT_TIME_OFFSET 88
#define WINSTATION_LAST_INPUT_TIME_OFFSET 96
#define WINSTATION_LOGON_TIME_OFFSET 104
#define WINSTATION_CURRENT_TIME_OFFSET 1208 /* the record's last eight bytes */

#ifdef __cplusplus
/* The records of one character width: char for the ...A entry points, WCHAR
 * for the ...W ones. */
template <class Char>
struct WtsRecords;

template <>
struct WtsRecords<char> {
    typedef WTS_SESSION_INFOA Session;
    typedef WTS_SESSION_INFO_1A Session1;
    typedef WTS_PROCESS_INFOA Process;
    typedef WTS_PROCESS_INFO_EXA ProcessEx;
};

template <>
struct WtsRecords<WCHAR> {
    typedef WTS_SESSION_INFOW Session;
    typedef WTS_SESSION_INFO_1W Session1;
    typedef WTS_PROCESS_INFOW Process;
    typedef WTS_PROCESS_INFO_EXW ProcessEx;
};
#endif

#endif
