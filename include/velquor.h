/* Velquor: the QRVTS_ programming interface for terminal services.
 *
 * Every function is __stdcall and exported by its decorated name
 * (_QRVTS_OpenServer@8 and so on). Link against libvelquor.dll.a, or look
 * the functions up with GetProcAddress under their decorated names. */
#ifndef VELQUOR_H
#define VELQUOR_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QRVTS_CALL __stdcall

/* Result codes: 0 for success, otherwise the extender error number whose
 * text the library's string table holds; velquor_errors.h names them all. */
#include "velquor_errors.h"

/* Server handles and session actions. A null or empty server name is the
 * local server. Every failure of the platform is recorded as the last error. */
LONG QRVTS_CALL QRVTS_OpenServer(LPCSTR serverName, HANDLE* handle);
LONG QRVTS_CALL QRVTS_CloseServer(HANDLE handle);
void QRVTS_CALL QRVTS_FreeBuffer(void* buffer);
LONG QRVTS_CALL QRVTS_ProcessIdToSessionId(DWORD processId, DWORD* sessionId);
LONG QRVTS_CALL QRVTS_DisconnectSession(LPCSTR serverName, DWORD sessionId, BOOL wait);
LONG QRVTS_CALL QRVTS_LogoffSession(LPCSTR serverName, DWORD sessionId, BOOL wait);
LONG QRVTS_CALL QRVTS_TerminateProcess(LPCSTR serverName, DWORD processId, DWORD exitCode);
LONG QRVTS_CALL QRVTS_SendMessage(LPCSTR serverName, DWORD sessionId, LPCSTR title, LPCSTR message, DWORD style,
                                  DWORD timeout, BOOL wait, DWORD* response);
/* A wait blocks until an event of the mask comes and reports only those
 * events. A mask with the platform's flush (WTS_EVENT_FLUSH, 0x80000000)
 * ends every wait this process has in progress through the library on the
 * server of that name (letters compared without regard to case): they
 * return 0 events, and so does the flushing call; WTS_EVENT_ALL
 * (0x7FFFFFFF) flushes nothing. Session id 0xFFFFFFFF (WTS_CURRENT_SESSION)
 * is the caller's own session, on the local server only: the platform's
 * answers for it on a remote server are not to be used. */
LONG QRVTS_CALL QRVTS_WaitSystemEvent(LPCSTR serverName, DWORD eventMask, DWORD* eventFlags);
LONG QRVTS_CALL QRVTS_GetActiveConsoleSessionId(DWORD* sessionId);
LONG QRVTS_CALL QRVTS_ShutdownSystem(LPCSTR serverName, DWORD flags);

/* Result blocks: one C-heap block each, the header followed by the packed
 * texts it points to; give it back with QRVTS_FreeBuffer. Lists are texts
 * whose items are separated by TAB; the n-th items of the lists of one
 * block describe the same session or process. */
typedef struct SessionListRecord {
    DWORD Count;
    LPSTR SessionIds;
    LPSTR SessionNames;
    LPSTR SessionStates;
} SessionListRecord;

typedef struct ProcessListRecord {
    DWORD Count;
    LPSTR SessionIds;
    LPSTR ProcessIds;
    LPSTR ProcessNames;
    LPSTR UserSids;
} ProcessListRecord;

#ifdef __cplusplus
#define QRVTS_PIN(cond, what) static_assert(cond, what)
#else
#define QRVTS_PIN(cond, what) _Static_assert(cond, what)
#endif
/* The layouts of both builds: QRVTS_AT(x86, x64) is the one of this build
 * (32-bit: 4-byte pointers; 64-bit: 8-byte pointers, 8-byte aligned). */
#define QRVTS_AT(x86, x64) (sizeof(void*) == 4 ? (x86) : (x64))
QRVTS_PIN(sizeof(void*) == 4 || sizeof(void*) == 8, "the interface is 32-bit or 64-bit");
QRVTS_PIN(sizeof(SessionListRecord) == QRVTS_AT(16, 32), "SessionListRecord header");
QRVTS_PIN(__builtin_offsetof(SessionListRecord, SessionIds) == QRVTS_AT(4, 8), "SessionIds");
QRVTS_PIN(__builtin_offsetof(SessionListRecord, SessionNames) == QRVTS_AT(8, 16), "SessionNames");
QRVTS_PIN(__builtin_offsetof(SessionListRecord, SessionStates) == QRVTS_AT(12, 24), "SessionStates");
QRVTS_PIN(sizeof(ProcessListRecord) == QRVTS_AT(20, 40), "ProcessListRecord header");
QRVTS_PIN(__builtin_offsetof(ProcessListRecord, SessionIds) == QRVTS_AT(4, 8), "SessionIds");
QRVTS_PIN(__builtin_offsetof(ProcessListRecord, ProcessIds) == QRVTS_AT(8, 16), "ProcessIds");
QRVTS_PIN(__builtin_offsetof(ProcessListRecord, ProcessNames) == QRVTS_AT(12, 24), "ProcessNames");
QRVTS_PIN(__builtin_offsetof(ProcessListRecord, UserSids) == QRVTS_AT(16, 32), "UserSids");

/* Everything the platform reports about one session: six numbers and
 * seventeen texts, never a null pointer (a property the platform refused is
 * 0 or the empty text). Times are UTC, "YYYY:MM:DD:hh:mm:ss". */
typedef struct SessionInfoRecord {
    DWORD ClientBuildNumber;
    DWORD HorizontalResolution;
    DWORD VerticalResolution;
    DWORD ColorDepth;
    DWORD ClientHardwareId;
    DWORD ClientProductId;
    LPSTR ApplicationName;
    LPSTR ClientAddress;
    LPSTR ClientDirectory;
    LPSTR ClientName;
    LPSTR ClientProtocolType;
    LPSTR ConnectState;
    LPSTR DomainName;
    LPSTR InitialProgram;
    LPSTR OEMId;
    LPSTR UserName;
    LPSTR WinStationName;
    LPSTR WorkingDirectory;
    LPSTR CurrentTime;
    LPSTR LogonTime;
    LPSTR LastInputTime;
    LPSTR ConnectTime;
    LPSTR DisconnectTime;
} SessionInfoRecord;
QRVTS_PIN(sizeof(SessionInfoRecord) == QRVTS_AT(92, 160), "SessionInfoRecord header");
QRVTS_PIN(__builtin_offsetof(SessionInfoRecord, ClientProductId) == QRVTS_AT(20, 20), "ClientProductId");
QRVTS_PIN(__builtin_offsetof(SessionInfoRecord, ApplicationName) == QRVTS_AT(24, 24), "ApplicationName");
QRVTS_PIN(__builtin_offsetof(SessionInfoRecord, ClientName) == QRVTS_AT(36, 48), "ClientName");
QRVTS_PIN(__builtin_offsetof(SessionInfoRecord, ConnectState) == QRVTS_AT(44, 64), "ConnectState");
QRVTS_PIN(__builtin_offsetof(SessionInfoRecord, WinStationName) == QRVTS_AT(64, 104), "WinStationName");
QRVTS_PIN(__builtin_offsetof(SessionInfoRecord, CurrentTime) == QRVTS_AT(72, 120), "CurrentTime");
QRVTS_PIN(__builtin_offsetof(SessionInfoRecord, DisconnectTime) == QRVTS_AT(88, 152), "DisconnectTime");

LONG QRVTS_CALL QRVTS_QuerySessionInfo(LPCSTR serverName, DWORD sessionId, SessionInfoRecord** info);

/* The user sessions of a server, one item per session someone is logged
 * on to: id, session name, state word, user, domain, client name, client
 * address (as in SessionInfoRecord) and three UTC times "YYYY:MM:DD:hh:mm:ss"
 * (logon; last input, or the disconnection; the server's current time),
 * each a TAB-delimited list. The level-1 enumeration gives the users where
 * the platform has it; every session is asked for the rest on one handle.
 * A refused property is the empty text (and recorded). */
typedef struct UserListRecord {
    DWORD Count;
    LPSTR SessionIds;
    LPSTR SessionNames;
    LPSTR SessionStates;
    LPSTR UserNames;
    LPSTR DomainNames;
    LPSTR ClientNames;
    LPSTR ClientAddresses;
    LPSTR LogonTimes;
    LPSTR LastInputTimes;
    LPSTR CurrentTimes;
} UserListRecord;
QRVTS_PIN(sizeof(UserListRecord) == QRVTS_AT(44, 88), "UserListRecord header");
QRVTS_PIN(__builtin_offsetof(UserListRecord, UserNames) == QRVTS_AT(16, 32), "UserNames");
QRVTS_PIN(__builtin_offsetof(UserListRecord, CurrentTimes) == QRVTS_AT(40, 80), "CurrentTimes");

LONG QRVTS_CALL QRVTS_EnumerateUsers(LPCSTR serverName, UserListRecord** users);

/* Session and process lists. The record pointer must be null on entry.
 * A session filter of 0xFFFFFFFF lists the processes of every session. */
LONG QRVTS_CALL QRVTS_EnumerateSessions(LPCSTR serverName, BOOL extended, SessionListRecord** sessions);
LONG QRVTS_CALL QRVTS_EnumerateProcesses(LPCSTR serverName, DWORD sessionFilter, BOOL extended,
                                         ProcessListRecord** processes);
/* The standard text form of a SID; 1 when made, else 0 and the empty text. */
BOOL QRVTS_CALL QRVTS_ConvertSIDToText(PSID sid, LPSTR buffer, DWORD size);

/* Binding. The library imports none of the terminal-services entry points:
 * it loads WTSAPI32.DLL, KERNEL32.DLL and WINSTA.DLL from the system folder
 * and looks them up by name, once per process, on the first call that needs
 * them (or when the interpreter initialises the extender; after the
 * interpreter terminates it, the next call that needs them binds again).
 * Every export may be called from several threads at once. An export whose
 * entry point is missing returns QRVTS_NOT_AVAILABLE. QRVTS_GetBindingMessage
 * binds when that has not happened yet and tells the outcome: QRVTS_OK when
 * every entry point an ANSI export needs was found, with the empty text or
 * the message of what only the interpreter requires (WinStationQueryInformationW,
 * without which the session times are empty) or of a wide entry point only
 * the Utf8 exports need (below); else QRVTS_NOT_AVAILABLE and
 * the message that names the missing library or entry point, such as
 * "Unable to initialize Velquor: WTSSendMessageA() not found in WTSAPI32.DLL".
 * The text is cut to `size` characters with its terminator; `buffer` may be
 * null when only the result is wanted. */
LONG QRVTS_CALL QRVTS_GetBindingMessage(LPSTR buffer, DWORD size);

/* Failures. QRVTS_GetErrorText copies the text of error `number` (from a
 * language file when one replaces it, else from the string table), cut to
 * `size` characters with its terminator, and returns its length; 0 and the
 * empty text for a number without a text. QRVTS_GetLastErrorCode returns
 * the Windows error code of the calling thread's latest recorded failure,
 * the code the last-error record shows in hexadecimal (0 when the thread's
 * latest call recorded none, or for an allocation that failed); threads do
 * not see each other's. Every other export but QRVTS_GetBindingMessage,
 * QRVTS_FreeBuffer, QRVTS_GetErrorTextUtf8 and QRVTS_GetBindingMessageUtf8
 * forgets the calling thread's code on entry. */
LONG QRVTS_CALL QRVTS_GetErrorText(LONG number, LPSTR buffer, DWORD size);
DWORD QRVTS_CALL QRVTS_GetLastErrorCode(void);

/* UTF-8 texts. Each export above that takes or gives names has a twin
 * whose name ends in Utf8, with the same arguments, result blocks and
 * result codes: its texts (server names, the message box's title and text,
 * and every name in the blocks it returns) are UTF-8, and it calls the
 * platform's wide-character entry points (WTSOpenServerW and the like), so
 * that a name arrives whole whatever the ANSI code page of the caller or of
 * the server. A text given that is not UTF-8 is refused with
 * QRVTS_INVALID_PARAMETER. Where the platform lacks a wide entry point they
 * need, the Utf8 exports return QRVTS_NOT_AVAILABLE and the ANSI exports
 * keep working; QRVTS_GetBindingMessageUtf8 then returns
 * QRVTS_NOT_AVAILABLE and names what is missing. A handle from
 * QRVTS_OpenServerUtf8 is closed with QRVTS_CloseServer; blocks are given
 * back with QRVTS_FreeBuffer. The ANSI exports give each name as the
 * platform converts it to the ANSI code page: a character outside it is
 * lost (a question mark or a look-alike letter). SID texts and state words
 * are ASCII in both. */
LONG QRVTS_CALL QRVTS_OpenServerUtf8(LPCSTR serverName, HANDLE* handle);
LONG QRVTS_CALL QRVTS_DisconnectSessionUtf8(LPCSTR serverName, DWORD sessionId, BOOL wait);
LONG QRVTS_CALL QRVTS_LogoffSessionUtf8(LPCSTR serverName, DWORD sessionId, BOOL wait);
LONG QRVTS_CALL QRVTS_TerminateProcessUtf8(LPCSTR serverName, DWORD processId, DWORD exitCode);
LONG QRVTS_CALL QRVTS_SendMessageUtf8(LPCSTR serverName, DWORD sessionId, LPCSTR title, LPCSTR message,
                                      DWORD style, DWORD timeout, BOOL wait, DWORD* response);
LONG QRVTS_CALL QRVTS_WaitSystemEventUtf8(LPCSTR serverName, DWORD eventMask, DWORD* eventFlags);
LONG QRVTS_CALL QRVTS_ShutdownSystemUtf8(LPCSTR serverName, DWORD flags);
LONG QRVTS_CALL QRVTS_QuerySessionInfoUtf8(LPCSTR serverName, DWORD sessionId, SessionInfoRecord** info);
LONG QRVTS_CALL QRVTS_EnumerateSessionsUtf8(LPCSTR serverName, BOOL extended, SessionListRecord** sessions);
LONG QRVTS_CALL QRVTS_EnumerateProcessesUtf8(LPCSTR serverName, DWORD sessionFilter, BOOL extended,
                                             ProcessListRecord** processes);
LONG QRVTS_CALL QRVTS_EnumerateUsersUtf8(LPCSTR serverName, UserListRecord** users);
/* The binding's outcome for the Utf8 exports: QRVTS_OK when they are
 * bound, else QRVTS_NOT_AVAILABLE and the message naming what is missing. */
LONG QRVTS_CALL QRVTS_GetBindingMessageUtf8(LPSTR buffer, DWORD size);
/* The text of error `number` as UTF-8 (a language file's text converted
 * from the ANSI code page), cut at a character's end to fit `size` bytes
 * with its terminator; returns the bytes copied. */
LONG QRVTS_CALL QRVTS_GetErrorTextUtf8(LONG number, LPSTR buffer, DWORD size);

/* What newer servers tell and do (UTF-8, as above). Each calls an entry
 * point looked up by name: where the system lacks it the export returns
 * QRVTS_NOT_AVAILABLE, and the last-error record names the entry point
 * ("WTSConnectSessionW() not found in WTSAPI32.DLL : ...", code 127). */

/* The lock states of a session, corrected for the servers (Windows 7 and
 * Server 2008 R2) that report the platform's two flags reversed. */
#define QRVTS_LOCK_LOCKED 0
#define QRVTS_LOCK_UNLOCKED 1
#define QRVTS_LOCK_UNKNOWN 0xFFFFFFFFul
/* A number the server did not give. */
#define QRVTS_UNKNOWN_NUMBER 0xFFFFFFFFul

/* One session's details (Windows 7 and Server 2008 R2 on): the level-1
 * record (WTSSessionInfoEx), the client's name, address and display, and
 * the server's own clock. Times are "YYYY:MM:DD:hh:mm:ss" UTC as the
 * server reports them, empty where none is known; IdleSeconds is the
 * server's current time less the last input (the disconnection for a
 * disconnected session), QRVTS_UNKNOWN_NUMBER where that is not known. */
typedef struct SessionDetailsRecord {
    DWORD SessionId;
    DWORD LockState;     /* QRVTS_LOCK_... */
    DWORD IdleSeconds;
    DWORD IncomingBytes, OutgoingBytes, IncomingFrames, OutgoingFrames;
    DWORD IncomingCompressedBytes, OutgoingCompressedBytes;
    DWORD HorizontalResolution, VerticalResolution, ColorDepth;
    DWORD ClientBuildNumber;
    DWORD ServerVersion; /* major * 256 + minor (0x0601: Windows 7 / 2008 R2); 0 when not known */
    LPSTR State;         /* the state word, as in the session lists */
    LPSTR SessionName;
    LPSTR UserName;
    LPSTR DomainName;
    LPSTR ClientName;
    LPSTR ClientAddress; /* IPv4 or IPv6 text, or "*UNSPEC*" and the like */
    LPSTR CurrentTime;
    LPSTR LogonTime;
    LPSTR ConnectTime;
    LPSTR DisconnectTime;
    LPSTR LastInputTime;
} SessionDetailsRecord;
QRVTS_PIN(sizeof(SessionDetailsRecord) == QRVTS_AT(100, 144), "SessionDetailsRecord");
QRVTS_PIN(__builtin_offsetof(SessionDetailsRecord, ServerVersion) == QRVTS_AT(52, 52), "ServerVersion");
QRVTS_PIN(__builtin_offsetof(SessionDetailsRecord, State) == QRVTS_AT(56, 56), "State");
QRVTS_PIN(__builtin_offsetof(SessionDetailsRecord, LastInputTime) == QRVTS_AT(96, 136), "LastInputTime");

/* The details of every session of a server: Count records at Sessions,
 * texts after them, all in the one block. */
typedef struct SessionDetailsList {
    DWORD Count;
    SessionDetailsRecord* Sessions;
} SessionDetailsList;
QRVTS_PIN(sizeof(SessionDetailsList) == QRVTS_AT(8, 16), "SessionDetailsList");

LONG QRVTS_CALL QRVTS_QuerySessionDetailsUtf8(LPCSTR serverName, DWORD sessionId, SessionDetailsRecord** details);
LONG QRVTS_CALL QRVTS_EnumerateSessionDetailsUtf8(LPCSTR serverName, SessionDetailsList** sessions);

/* One process and what it uses (Windows 7 and Server 2008 R2 on: the
 * level-1 process list). Sizes in bytes, times in 100-nanosecond units. */
typedef struct ProcessResourceRecord {
    DWORD ProcessId;
    DWORD SessionId;
    DWORD ThreadCount;
    DWORD HandleCount;
    DWORD PagefileUsage, PeakPagefileUsage;
    DWORD WorkingSetSize, PeakWorkingSetSize;
    ULONGLONG UserTime;
    ULONGLONG KernelTime;
    LPSTR ProcessName;
    LPSTR UserSid; /* empty for none */
} ProcessResourceRecord;
QRVTS_PIN(sizeof(ProcessResourceRecord) == QRVTS_AT(56, 64), "ProcessResourceRecord");
QRVTS_PIN(__builtin_offsetof(ProcessResourceRecord, UserTime) == QRVTS_AT(32, 32), "UserTime");
QRVTS_PIN(__builtin_offsetof(ProcessResourceRecord, ProcessName) == QRVTS_AT(48, 48), "ProcessName");

typedef struct ProcessResourceList {
    DWORD Count;
    ProcessResourceRecord* Processes;
} ProcessResourceList;
QRVTS_PIN(sizeof(ProcessResourceList) == QRVTS_AT(8, 16), "ProcessResourceList");

/* A session filter of 0xFFFFFFFF lists every session's processes. */
LONG QRVTS_CALL QRVTS_EnumerateProcessResourcesUtf8(LPCSTR serverName, DWORD sessionFilter,
                                                    ProcessResourceList** processes);

/* Connects session `sessionId` to session `targetSessionId` of this computer
 * (Vista SP1 and Server 2008 on; 0xFFFFFFFF: the caller's own session):
 * the target shows the session, whose user's password is given (empty when
 * the caller is that user). */
LONG QRVTS_CALL QRVTS_ConnectSessionUtf8(DWORD sessionId, DWORD targetSessionId, LPCSTR password, BOOL wait);

/* Remote control of a session (Vista SP1 and Server 2008 on), started from
 * a remote session of the caller's own: the key `hotkeyVk` with the
 * modifiers (1 Shift, 2 Ctrl, 4 Alt) ends it. */
LONG QRVTS_CALL QRVTS_StartRemoteControlUtf8(LPCSTR serverName, DWORD sessionId, DWORD hotkeyVk,
                                             DWORD hotkeyModifiers);
LONG QRVTS_CALL QRVTS_StopRemoteControl(DWORD sessionId);

/* The terminal servers of a domain (null or empty: the caller's own), as
 * the network answers (not where NetBIOS over TCP/IP is turned off). */
typedef struct ServerListRecord {
    DWORD Count;
    LPSTR ServerNames; /* a TAB-delimited list */
} ServerListRecord;
QRVTS_PIN(sizeof(ServerListRecord) == QRVTS_AT(8, 16), "ServerListRecord");
LONG QRVTS_CALL QRVTS_EnumerateServersUtf8(LPCSTR domainName, ServerListRecord** servers);

/* Whether a server takes new logons, in its registry (reached remotely
 * through the remote registry service): every logon, none (reconnections
 * refused too), reconnections only, or reconnections only until the
 * server restarts (Server 2008 on for the last two). */
#define QRVTS_LOGONS_ENABLED 0
#define QRVTS_LOGONS_DISABLED 1
#define QRVTS_LOGONS_DRAIN 2
#define QRVTS_LOGONS_DRAIN_UNTIL_RESTART 3
LONG QRVTS_CALL QRVTS_GetLogonModeUtf8(LPCSTR serverName, DWORD* mode);
LONG QRVTS_CALL QRVTS_SetLogonModeUtf8(LPCSTR serverName, DWORD mode);

/* Terminal Services presence. */
BOOL QRVTS_CALL QRVTS_ValidateProductSuite(LPCSTR suiteName);
BOOL QRVTS_CALL QRVTS_IsTerminalServiceProductPresent(void);

#ifdef __cplusplus
}
#endif

#endif /* VELQUOR_H */
