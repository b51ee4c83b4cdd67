// The simulated terminal server: a scenario file read once per process
// (path in VELQUOR_SCENARIO) and a call log appended to VELQUOR_SIM_LOG.
// Scenario files and the log are UTF-8; every name is kept as UTF-8 and
// handed out as wide text by the ...W entry points and in the process's
// ANSI code page by the ...A ones, as the platform converts it.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

struct SimSession {
    DWORD id = 0;
    bool hasName = false;  // a session without a name reports a null pointer
    std::string name;
    DWORD state = 0;
    std::map<int, std::string> texts;  // information class -> text
    DWORD build = 0, hardware = 0, product = 0, protocol = 0;
    bool hasProtocol = false;
    DWORD display[3] = {0, 0, 0};
    DWORD family = 0;
    BYTE address[20] = {};
    bool hasAddress = false;
    ULONGLONG times[5] = {0, 0, 0, 0, 0};  // connect, disconnect, lastinput, logon, current
    int locked = -1;                       // locked=1|0: whether it is (-1: the server cannot tell)
    DWORD traffic[6] = {0, 0, 0, 0, 0, 0};  // bytes, frames, compressed bytes; in, out each
    std::string password;                  // password=: its user's, for a connection to it
};

struct SimProcess {
    DWORD id = 0, session = 0;
    std::string name;
    std::string sid;  // "" no SID; "invalid" an invalid one
    DWORD threads = 0, handles = 0;        // threads=, handles=
    DWORD memory[2] = {0, 0};             // memory=WORKING,PEAK (bytes)
    DWORD pagefile[2] = {0, 0};           // pagefile=USAGE,PEAK (bytes)
    ULONGLONG cpu[2] = {0, 0};            // cpu=USER,KERNEL (milliseconds; kept in 100 ns)
    DWORD reusedAt = 0;      // reused=MS SID: from MS milliseconds on, the id is another
    std::string reusedSid;   // owner's program's (the first ended, the system gave its id again)
};

// The owner's SID of process `p` now (the timeline's time).
const std::string& SimProcessSid(const SimProcess& p);

// One change of the timeline: at `at` milliseconds after the scenario was
// read, session `session` takes state `state` and user `user` (it appears
// when it was not there); `gone` takes it away (its user logged off).
struct SimChange {
    DWORD at = 0, session = 0, state = 0;
    std::string user;
    bool gone = false;
};

struct SimScenario {
    std::vector<std::string> servers;  // names WTSOpenServerA accepts
    std::string emptyServer;
    std::map<std::string, DWORD> failures;  // entry point (or "Entry.class") -> last error
    std::vector<SimSession> sessions;
    std::vector<SimProcess> processes;
    DWORD currentSession = 1;  // the caller's own session (id 0xFFFFFFFF)
    DWORD eventFlags = 0;  // [server] events=: an event of these flags at every moment
    DWORD closeError = 0;  // WTSCloseServer sets this last error when not 0
    DWORD response = 1;
    DWORD generatedSessions = 0, generatedProcesses = 0, generatedServers = 0;  // [generate]
    DWORD delay = 0;  // milliseconds every call takes, standing for the network
    DWORD listDelay = 0;  // [server] listdelay=: milliseconds more a process list takes
    std::vector<SimChange> timeline;                // [timeline] TIME=SESSION STATE USER|-
    std::vector<std::vector<SimSession>> steps;     // the sessions after each change of the timeline
    std::vector<std::string> silent;                // servers whose waits end only when flushed
    bool distinctHandles = false;                   // every open gets a handle of its own
    bool openAny = false;  // [server] openany=1: any name opens; its first call fails with 1722
    std::vector<std::string> hung;  // [server] hang=NAME: every call on it waits without end
    std::map<std::string, std::string> accounts;  // [accounts] DOMAIN\USER=SID: the domain's users
    DWORD version = 0x0A00;  // [server] version=MAJOR.MINOR: every server's Windows version
    std::map<std::string, DWORD> versions;  // version.NAME=MAJOR.MINOR: one server's
    std::map<std::string, std::vector<std::string>> domains;  // [domain NAME] server=: a domain's terminal servers
    DWORD start = 0;                                // the tick count when the scenario was read
};

// The sessions as the timeline has made them by now.
const std::vector<SimSession>& SimSessionsNow();

// How many changes of the timeline have happened by now.
size_t SimChangesNow();

// The scenario of this process, read on first use.
const SimScenario& Scenario();

// One line of the call log, printf-style; every entry point calls it first,
// and it waits the scenario's delay, but for the operations that stay in
// the caller's process (`local`).
void SimLog(const char* format, ...);
void SimLogLocal(const char* format, ...);

// Whether `entry` (with `detail`, such as ".5" for an information class)
// is told to fail, for every server ("Entry") or for the server of `handle`
// ("Entry@name"); a [fail] entry fails the entry point in both forms, with
// or without its final A or W. Every call on the handle of a server that
// only an open of any name gave fails with RPC_S_SERVER_UNAVAILABLE. Sets
// the last error when so.
bool SimFails(const std::string& entry, HANDLE handle = nullptr, const std::string& detail = "");

// The name of the server behind a handle ("" for the local server).
std::string SimServerName(HANDLE handle);

// Whether the server of `handle` is the scenario's server without sessions
// and processes ([server] empty=NAME).
bool SimEmptyServer(HANDLE handle);

// The session `id` of the server behind `handle` (the caller's own for
// WTS_CURRENT_SESSION), as the timeline has made it by now; null when there
// is none.
const SimSession* SimFindSession(HANDLE handle, DWORD id);

// Whether the server of `handle` has session `id`, or process `id`; when
// not, the platform's error is set (ERROR_CTX_WINSTATION_NOT_FOUND, or
// ERROR_INVALID_PARAMETER for a process).
bool SimSessionIsThere(HANDLE handle, DWORD id);
bool SimProcessIsThere(HANDLE handle, DWORD id);

// The handle an open of server `name` gives: null for a name the scenario
// does not know, unless it opens any name ([server] openany=1).
HANDLE SimOpenHandle(const std::string& name);

// The account `name`, "DOMAIN\USER" or "USER" (the first of that user
// name), without regard to case: its qualified name and its SID as text;
// null when there is none.
const std::pair<const std::string, std::string>* SimAccount(const std::string& name);

// Whether two server (or domain) names are one: letters A to Z in either case.
bool SimSameName(const std::string& a, const std::string& b);

// The Windows version (major * 256 + minor) of server `name` ("" this computer).
DWORD SimServerVersion(const std::string& name);

// The events (WTS_EVENT_...) of the timeline's changes from `from` up to `to`.
DWORD SimEventsOf(size_t from, size_t to);

// Takes the entry points named in the environment variable `variable`
// (separated by commas) out of the export table of `module`, as the
// library of an older platform lacks them.
void SimHideEntryPoints(HMODULE module, const char* variable);

// Conversions between the scenario's UTF-8, wide text and the process's
// ANSI code page (the platform's own conversion, with its losses).
std::wstring SimWide(const std::string& utf8);
std::string SimUtf8(const std::wstring& wide);
std::string SimAnsi(const std::string& utf8);
std::string SimFromAnsi(const char* ansi);
