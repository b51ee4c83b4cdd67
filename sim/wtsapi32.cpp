// Test double of the terminal-services library, serving the scenario.
#include <windows.h>

#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include "sim/scenario.h"
#include "support/wtsplatform.h"

namespace {

// Every buffer handed out is one block: the records, then the texts.
class BlockBuilder {
public:
    explicit BlockBuilder(size_t headerBytes) : bytes_(headerBytes, 0) {}
    // A scenario's UTF-8 text in the form of Char, with its terminator.
    template <class Char>
    size_t AddText(const std::string& utf8)
    {
        if (sizeof(Char) == 1) {
            const std::string text = SimAnsi(utf8);
            return AddBytes(text.c_str(), text.size() + 1);
        }
        const std::wstring text = SimWide(utf8);
        return AddBytes(text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    }
    size_t AddBytes(const void* data, size_t n)
    {
        size_t at = bytes_.size();
        bytes_.insert(bytes_.end(), static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + n);
        return at;
    }
    BYTE* Header() { return bytes_.data(); }
    size_t Size() const { return bytes_.size(); }
    // Copies the block to the heap; offsets in `fixups` become pointers.
    BYTE* Finish(const std::vector<std::pair<size_t, size_t>>& fixups)
    {
        BYTE* block = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, bytes_.size() + 1));
        memcpy(block, bytes_.data(), bytes_.size());
        for (const auto& f : fixups) {
            BYTE* target = block + f.second;
            memcpy(block + f.first, &target, sizeof target);
        }
        SimLog("alloc %p", block);
        return block;
    }

private:
    std::vector<BYTE> bytes_;
};

void Release(void* p)
{
    if (p)
        HeapFree(GetProcessHeap(), 0, p);
}

// A name the caller gave, as UTF-8.
std::string Given(const char* ansi) { return SimFromAnsi(ansi); }
std::string Given(const WCHAR* wide) { return SimUtf8(wide); }

// Opening only makes a handle: on Vista and later the server is reached at
// the first call made with it, so an open stays in the caller's process.
template <class Char>
HANDLE Open(const char* entry, const Char* given)
{
    const std::string name = given ? Given(given) : "(null)";
    const bool refused = given && SimFails(entry);  // the scenario's error is set
    const DWORD error = refused ? GetLastError() : DWORD(RPC_S_SERVER_UNAVAILABLE);
    HANDLE h = given && !refused ? SimOpenHandle(name) : nullptr;
    SimLogLocal("%s name=%s -> %p", entry, name.c_str(), h);
    if (!h)
        SetLastError(error);
    return h;
}

// A SID from its text form "S-1-authority-sub-...", the authority in
// decimal or as "0x" and twelve hexadecimal digits; "invalid" gives bytes
// that no SID check accepts.
std::vector<BYTE> SidBytes(const std::string& text)
{
    if (text == "invalid")
        return std::vector<BYTE>(12, 0xEE);
    std::vector<BYTE> bytes(8, 0);
    bytes[0] = 1;
    const char* p = text.c_str() + 4;  // past "S-1-"
    unsigned long long authority = strtoull(p, const_cast<char**>(&p), 0);
    for (int i = 0; i < 6; ++i)
        bytes[2 + i] = BYTE(authority >> (8 * (5 - i)));
    while (*p == '-') {
        DWORD sub = strtoul(p + 1, const_cast<char**>(&p), 10);
        bytes.insert(bytes.end(), reinterpret_cast<BYTE*>(&sub), reinterpret_cast<BYTE*>(&sub) + 4);
        ++bytes[1];
    }
    return bytes;
}

template <class Char, class Record>
BOOL EnumerateProcesses(HANDLE server, DWORD filter, Record** out, DWORD* count)
{
    if (Scenario().listDelay)
        Sleep(Scenario().listDelay);  // the list is what the server has once the time has passed
    std::vector<const SimProcess*> chosen;
    for (const SimProcess& p : Scenario().processes)
        if (!SimEmptyServer(server) && (filter == WTS_ANY_SESSION || p.session == filter))
            chosen.push_back(&p);
    BlockBuilder block(sizeof(Record) * chosen.size());
    std::vector<std::pair<size_t, size_t>> fixups;
    for (size_t i = 0; i < chosen.size(); ++i) {
        Record* r = reinterpret_cast<Record*>(block.Header()) + i;
        r->SessionId = chosen[i]->session;
        r->ProcessId = chosen[i]->id;
        if constexpr (std::is_same_v<Record, WTS_PROCESS_INFO_EXW> || std::is_same_v<Record, WTS_PROCESS_INFO_EXA>) {
            const SimProcess& p = *chosen[i];
            r->NumberOfThreads = p.threads, r->HandleCount = p.handles;
            r->WorkingSetSize = p.memory[0], r->PeakWorkingSetSize = p.memory[1];
            r->PagefileUsage = p.pagefile[0], r->PeakPagefileUsage = p.pagefile[1];
            r->UserTime.QuadPart = LONGLONG(p.cpu[0]), r->KernelTime.QuadPart = LONGLONG(p.cpu[1]);
        }
        const size_t base = i * sizeof(Record);
        fixups.push_back({base + offsetof(Record, pProcessName), block.AddText<Char>(chosen[i]->name)});
        if (!SimProcessSid(*chosen[i]).empty()) {
            std::vector<BYTE> sid = SidBytes(SimProcessSid(*chosen[i]));
            fixups.push_back({base + offsetof(Record, pUserSid), block.AddBytes(sid.data(), sid.size())});
        }
    }
    *out = reinterpret_cast<Record*>(block.Finish(fixups));
    *count = DWORD(chosen.size());
    return TRUE;
}

// Basic or level-1 session records; `nameAt` is where a record keeps its
// name, `userAt` and `domainAt` (level-1 only, else 0) its user's.
template <class Char, class Record>
BOOL EnumerateSessions(HANDLE server, Record** out, DWORD* count, size_t nameAt, size_t userAt = 0,
                       size_t domainAt = 0)
{
    static const std::vector<SimSession> kNone;  // both sides lvalues: the scenario's list is not copied
    const std::vector<SimSession>& sessions = SimEmptyServer(server) ? kNone : SimSessionsNow();
    BlockBuilder block(sizeof(Record) * sessions.size());
    std::vector<std::pair<size_t, size_t>> fixups;
    for (size_t i = 0; i < sessions.size(); ++i) {
        Record* r = reinterpret_cast<Record*>(block.Header()) + i;
        r->SessionId = sessions[i].id;
        r->State = WTS_CONNECTSTATE_CLASS(sessions[i].state);
        if (sessions[i].hasName)
            fixups.push_back({i * sizeof *r + nameAt, block.AddText<Char>(sessions[i].name)});
        for (const auto& [at, infoClass] : {std::make_pair(userAt, int(WTSUserName)), std::make_pair(domainAt, int(WTSDomainName))}) {
            const auto text = sessions[i].texts.find(infoClass);
            if (at && text != sessions[i].texts.end())
                fixups.push_back({i * sizeof *r + at, block.AddText<Char>(text->second)});
        }
    }
    *out = reinterpret_cast<Record*>(block.Finish(fixups));
    *count = DWORD(sessions.size());
    return TRUE;
}

// The buffer the platform hands back for one class, and its size as the
// platform reports it: the value's own size, or a text with its terminator.
template <class Char>
BYTE* QueryBuffer(const SimSession& s, int infoClass, DWORD* bytes)
{
    BlockBuilder block(0);
    auto add = [&](const void* value, size_t size) {
        block.AddBytes(value, size);
        *bytes = DWORD(size);
    };
    const WORD product = WORD(s.product), protocol = WORD(s.protocol);
    WTS_CLIENT_ADDRESS address = {};
    address.AddressFamily = s.family;
    memcpy(address.Address, s.address, sizeof address.Address);
    switch (infoClass) {
    case WTSConnectState: add(&s.state, 4); break;
    case WTSClientBuildNumber: add(&s.build, 4); break;
    case WTSClientProductId: add(&product, 2); break;
    case WTSClientHardwareId: add(&s.hardware, 4); break;
    case WTSClientAddress: add(&address, sizeof address); break;
    case WTSClientDisplay: add(s.display, 12); break;
    case WTSClientProtocolType: add(&protocol, 2); break;
    default: {
        auto text = s.texts.find(infoClass);
        const std::string& value =
            text != s.texts.end() ? text->second : (infoClass == WTSWinStationName ? s.name : std::string());
        const size_t at = block.AddText<Char>(value);
        *bytes = DWORD(block.Size() - at);
    }
    }
    return block.Finish({});
}

// A fixed-size name of a level-1 record.
template <size_t N>
void CopyName(WCHAR (&to)[N], const std::string& utf8)
{
    const std::wstring wide = SimWide(utf8);
    const size_t n = wide.size() < N - 1 ? wide.size() : N - 1;
    memcpy(to, wide.data(), n * sizeof(WCHAR));
    to[n] = 0;
}

// The level-1 record of a session (WTSSessionInfoEx), wide.
BYTE* SessionInfoEx(const SimSession& s, DWORD version, DWORD* bytes)
{
    WTSINFOEXW info = {};
    info.Level = 1;
    WTSINFOEX_LEVEL1_W& r = info.Data.WTSInfoExLevel1;
    r.SessionId = s.id, r.SessionState = WTS_CONNECTSTATE_CLASS(s.state);
    const bool reversed = version == 0x0601;
    r.SessionFlags = s.locked < 0 ? LONG(WTS_SESSIONSTATE_UNKNOWN)
                     : (s.locked == 1) != reversed ? LONG(WTS_SESSIONSTATE_LOCK) : LONG(WTS_SESSIONSTATE_UNLOCK);
    CopyName(r.WinStationName, s.name);
    const auto text = [&](int infoClass) {
        auto found = s.texts.find(infoClass);
        return found == s.texts.end() ? std::string() : found->second;
    };
    CopyName(r.UserName, text(WTSUserName));
    CopyName(r.DomainName, text(WTSDomainName));
    r.ConnectTime.QuadPart = LONGLONG(s.times[0]), r.DisconnectTime.QuadPart = LONGLONG(s.times[1]);
    r.LastInputTime.QuadPart = LONGLONG(s.times[2]), r.LogonTime.QuadPart = LONGLONG(s.times[3]);
    r.CurrentTime.QuadPart = LONGLONG(s.times[4]);
    DWORD* counters[6] = {&r.IncomingBytes, &r.OutgoingBytes, &r.IncomingFrames, &r.OutgoingFrames,
                          &r.IncomingCompressedBytes, &r.OutgoingCompressedBytes};
    for (int i = 0; i < 6; ++i)
        *counters[i] = s.traffic[i];
    BlockBuilder block(0);
    block.AddBytes(&info, sizeof info);
    *bytes = DWORD(sizeof info);
    return block.Finish({});
}

// The entry points that exist in both forms.
template <class Char>
BOOL SessionsBasic(const char* entry, HANDLE h, DWORD reserved, DWORD version,
                   typename WtsRecords<Char>::Session** out, DWORD* count)
{
    SimLog("%s handle=%p reserved=%lu version=%lu", entry, h, reserved, version);
    if (SimFails(entry, h))
        return FALSE;
    return EnumerateSessions<Char>(h, out, count, offsetof(typename WtsRecords<Char>::Session, pWinStationName));
}

template <class Char>
BOOL SessionsLevel1(const char* entry, HANDLE h, DWORD* level, DWORD filter,
                    typename WtsRecords<Char>::Session1** out, DWORD* count)
{
    SimLog("%s handle=%p level=%lu filter=%lu", entry, h, level ? *level : 0, filter);
    if (SimFails(entry, h))
        return FALSE;
    typedef typename WtsRecords<Char>::Session1 Record;
    return EnumerateSessions<Char>(h, out, count, offsetof(Record, pSessionName), offsetof(Record, pUserName),
                                   offsetof(Record, pDomainName));
}

template <class Char>
BOOL ProcessesBasic(const char* entry, HANDLE h, DWORD reserved, DWORD version,
                    typename WtsRecords<Char>::Process** out, DWORD* count)
{
    SimLog("%s handle=%p reserved=%lu version=%lu", entry, h, reserved, version);
    if (SimFails(entry, h))
        return FALSE;
    return EnumerateProcesses<Char>(h, WTS_ANY_SESSION, out, count);
}

template <class Char>
BOOL ProcessesLevel1(const char* entry, HANDLE h, DWORD* level, DWORD session, Char** out, DWORD* count)
{
    SimLog("%s handle=%p level=%lu session=%lu", entry, h, level ? *level : 0, session);
    if (SimFails(entry, h))
        return FALSE;
    if (SimServerVersion(SimServerName(h)) < 0x0601) {  // a server before Windows 7 has no such call
        SetLastError(RPC_S_PROCNUM_OUT_OF_RANGE);
        return FALSE;
    }
    return EnumerateProcesses<Char>(h, session, reinterpret_cast<typename WtsRecords<Char>::ProcessEx**>(out), count);
}

BOOL FreeEx(const char* entry, WTS_TYPE_CLASS type, PVOID p, ULONG count)
{
    SimLogLocal("%s type=%d %p count=%lu", entry, int(type), p, count);
    Release(p);
    return TRUE;
}

// The lengths are bytes, in both forms.
template <class Char>
BOOL Send(const char* entry, HANDLE h, DWORD session, Char* title, DWORD titleLength, Char* message,
          DWORD messageLength, DWORD style, DWORD timeout, DWORD* response, BOOL wait)
{
    SimLog("%s handle=%p session=%lu title=[%s] %lu message=[%s] %lu style=%lu timeout=%lu wait=%d", entry, h,
           session, title ? Given(title).c_str() : "(null)", titleLength, message ? Given(message).c_str() : "(null)",
           messageLength, style, timeout, wait);
    if (SimFails(entry, h) || !SimSessionIsThere(h, session))
        return FALSE;
    *response = Scenario().response;
    return TRUE;
}

// Waits, after the platform's documentation: a wait reports the events of
// the changes that come after it began, only the bits it asked for, and
// blocks until one comes; a silent server has none. A flush
// (WTS_EVENT_FLUSH) ends the waits in progress on its own handle, which
// then report WTS_EVENT_NONE.
CRITICAL_SECTION* WaitLock()
{
    static CRITICAL_SECTION lock;
    static const bool made = (InitializeCriticalSection(&lock), true);
    (void)made;
    return &lock;
}

std::map<HANDLE, DWORD>& Flushes()
{
    static std::map<HANDLE, DWORD> flushes;
    return flushes;
}

DWORD FlushesOf(HANDLE h)
{
    EnterCriticalSection(WaitLock());
    const DWORD n = Flushes()[h];
    LeaveCriticalSection(WaitLock());
    return n;
}

void Flush(HANDLE h)
{
    EnterCriticalSection(WaitLock());
    ++Flushes()[h];
    LeaveCriticalSection(WaitLock());
}

bool Silent(HANDLE h)
{
    for (const std::string& name : Scenario().silent)
        if (SimServerName(h) == name)
            return true;
    return false;
}

// Blocks until a change after `from` (the changes that had happened when
// the wait began) carries a bit of `mask`, or the handle is flushed.
DWORD WaitForChange(HANDLE h, DWORD mask, size_t from)
{
    const DWORD flushes = FlushesOf(h);
    for (;;) {
        if (FlushesOf(h) != flushes)
            return WTS_EVENT_NONE;
        const DWORD events = Silent(h) ? 0 : SimEventsOf(from, SimChangesNow()) & mask;
        if (events)
            return events;
        Sleep(10);
    }
}

template <class Char>
BOOL Query(const char* entry, HANDLE h, DWORD session, int infoClass, Char** buffer, DWORD* bytes)
{
    SimLog("%s handle=%p session=%lu class=%d", entry, h, session, infoClass);
    if (SimFails(entry, h) || SimFails(entry, h, "." + std::to_string(infoClass)))
        return FALSE;
    const SimSession* s = SimFindSession(h, session);
    if (!s) {
        SetLastError(ERROR_CTX_WINSTATION_NOT_FOUND);
        return FALSE;
    }
    if (infoClass == WTSSessionInfoEx) {
        // Windows 7 and Server 2008 R2 on; those two report the lock flags reversed.
        const DWORD version = SimServerVersion(SimServerName(h));
        if (version < 0x0601 || sizeof(Char) == 1) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        *buffer = reinterpret_cast<Char*>(SessionInfoEx(*s, version, bytes));
        return TRUE;
    }
    *buffer = reinterpret_cast<Char*>(QueryBuffer<Char>(*s, infoClass, bytes));
    return TRUE;
}

}  // namespace

extern "C" {

HANDLE WINAPI WTSOpenServerA(LPSTR name) { return Open("WTSOpenServerA", name); }
HANDLE WINAPI WTSOpenServerExA(LPSTR name) { return Open("WTSOpenServerExA", name); }
HANDLE WINAPI WTSOpenServerW(LPWSTR name) { return Open("WTSOpenServerW", name); }
HANDLE WINAPI WTSOpenServerExW(LPWSTR name) { return Open("WTSOpenServerExW", name); }

void WINAPI WTSCloseServer(HANDLE h)
{
    SimLogLocal("WTSCloseServer %p", h);
    if (Scenario().closeError)
        SetLastError(Scenario().closeError);
}

void WINAPI WTSFreeMemory(PVOID p)
{
    SimLogLocal("WTSFreeMemory %p", p);
    Release(p);
}

BOOL WINAPI WTSFreeMemoryExA(WTS_TYPE_CLASS type, PVOID p, ULONG count) { return FreeEx("WTSFreeMemoryExA", type, p, count); }
BOOL WINAPI WTSFreeMemoryExW(WTS_TYPE_CLASS type, PVOID p, ULONG count) { return FreeEx("WTSFreeMemoryExW", type, p, count); }

BOOL WINAPI WTSEnumerateSessionsA(HANDLE h, DWORD reserved, DWORD version, PWTS_SESSION_INFOA* out, DWORD* count)
{
    return SessionsBasic<char>("WTSEnumerateSessionsA", h, reserved, version, out, count);
}

BOOL WINAPI WTSEnumerateSessionsW(HANDLE h, DWORD reserved, DWORD version, PWTS_SESSION_INFOW* out,
                                  DWORD* count)
{
    return SessionsBasic<WCHAR>("WTSEnumerateSessionsW", h, reserved, version, out, count);
}

BOOL WINAPI WTSEnumerateSessionsExA(HANDLE h, DWORD* level, DWORD filter, PWTS_SESSION_INFO_1A* out, DWORD* count)
{
    return SessionsLevel1<char>("WTSEnumerateSessionsExA", h, level, filter, out, count);
}

BOOL WINAPI WTSEnumerateSessionsExW(HANDLE h, DWORD* level, DWORD filter, PWTS_SESSION_INFO_1W* out,
                                    DWORD* count)
{
    return SessionsLevel1<WCHAR>("WTSEnumerateSessionsExW", h, level, filter, out, count);
}

BOOL WINAPI WTSEnumerateProcessesA(HANDLE h, DWORD reserved, DWORD version, PWTS_PROCESS_INFOA* out, DWORD* count)
{
    return ProcessesBasic<char>("WTSEnumerateProcessesA", h, reserved, version, out, count);
}

BOOL WINAPI WTSEnumerateProcessesW(HANDLE h, DWORD reserved, DWORD version, PWTS_PROCESS_INFOW* out,
                                   DWORD* count)
{
    return ProcessesBasic<WCHAR>("WTSEnumerateProcessesW", h, reserved, version, out, count);
}

BOOL WINAPI WTSEnumerateProcessesExA(HANDLE h, DWORD* level, DWORD session, LPSTR* out, DWORD* count)
{
    return ProcessesLevel1("WTSEnumerateProcessesExA", h, level, session, out, count);
}

BOOL WINAPI WTSEnumerateProcessesExW(HANDLE h, DWORD* level, DWORD session, LPWSTR* out, DWORD* count)
{
    return ProcessesLevel1("WTSEnumerateProcessesExW", h, level, session, out, count);
}

BOOL WINAPI WTSDisconnectSession(HANDLE h, DWORD session, BOOL wait)
{
    SimLog("WTSDisconnectSession handle=%p session=%lu wait=%d", h, session, wait);
    return !SimFails("WTSDisconnectSession", h) && SimSessionIsThere(h, session);
}

BOOL WINAPI WTSLogoffSession(HANDLE h, DWORD session, BOOL wait)
{
    SimLog("WTSLogoffSession handle=%p session=%lu wait=%d", h, session, wait);
    return !SimFails("WTSLogoffSession", h) && SimSessionIsThere(h, session);
}

BOOL WINAPI WTSTerminateProcess(HANDLE h, DWORD process, DWORD exitCode)
{
    SimLog("WTSTerminateProcess handle=%p process=%lu exit=%lu", h, process, exitCode);
    return !SimFails("WTSTerminateProcess", h) && SimProcessIsThere(h, process);
}

BOOL WINAPI WTSSendMessageA(HANDLE h, DWORD session, LPSTR title, DWORD titleLength, LPSTR message,
                            DWORD messageLength, DWORD style, DWORD timeout, DWORD* response, BOOL wait)
{
    return Send("WTSSendMessageA", h, session, title, titleLength, message, messageLength, style, timeout, response,
                wait);
}

BOOL WINAPI WTSSendMessageW(HANDLE h, DWORD session, LPWSTR title, DWORD titleLength, LPWSTR message,
                            DWORD messageLength, DWORD style, DWORD timeout, DWORD* response, BOOL wait)
{
    return Send("WTSSendMessageW", h, session, title, titleLength, message, messageLength, style, timeout, response,
                wait);
}

BOOL WINAPI WTSQuerySessionInformationA(HANDLE h, DWORD session, WTS_INFO_CLASS infoClass, LPSTR* buffer, DWORD* bytes)
{
    return Query("WTSQuerySessionInformationA", h, session, infoClass, buffer, bytes);
}

BOOL WINAPI WTSQuerySessionInformationW(HANDLE h, DWORD session, WTS_INFO_CLASS infoClass, LPWSTR* buffer, DWORD* bytes)
{
    return Query("WTSQuerySessionInformationW", h, session, infoClass, buffer, bytes);
}

BOOL WINAPI WTSWaitSystemEvent(HANDLE h, DWORD mask, DWORD* flags)
{
    const size_t from = SimChangesNow();
    SimLog("WTSWaitSystemEvent handle=%p mask=%lu", h, mask);
    if (SimFails("WTSWaitSystemEvent", h))
        return FALSE;
    if (mask & WTS_EVENT_FLUSH) {
        Flush(h);
        *flags = WTS_EVENT_NONE;
        return TRUE;
    }
    // A server with an event at every moment ([server] events=) answers at
    // once with what was asked of it.
    *flags = Silent(h) ? 0 : Scenario().eventFlags & mask;
    if (!*flags)
        *flags = WaitForChange(h, mask, from);
    SimLog("WTSWaitSystemEvent handle=%p -> %lu", h, *flags);
    return TRUE;
}

BOOL WINAPI WTSShutdownSystem(HANDLE h, DWORD flags)
{
    SimLog("WTSShutdownSystem handle=%p flags=%lu", h, flags);
    return !SimFails("WTSShutdownSystem", h);
}

// Connects session `logonId` of this computer to `target` (either may be
// the caller's own, not both): each must be there, and a session with a
// password ([session N] password=) takes only that one.
BOOL WINAPI WTSConnectSessionW(ULONG logonId, ULONG target, PWSTR password, BOOL wait)
{
    SimLog("WTSConnectSessionW session=%lu target=%lu wait=%d", logonId, target, wait);
    if (!password || (logonId == LOGONID_CURRENT && target == LOGONID_CURRENT)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (SimFails("WTSConnectSession"))
        return FALSE;
    const SimSession* from = SimFindSession(WTS_CURRENT_SERVER_HANDLE, logonId);
    if (!from || !SimFindSession(WTS_CURRENT_SERVER_HANDLE, target)) {
        SetLastError(ERROR_CTX_WINSTATION_NOT_FOUND);
        return FALSE;
    }
    if (!from->password.empty() && SimUtf8(password) != from->password) {
        SetLastError(ERROR_LOGON_FAILURE);
        return FALSE;
    }
    return TRUE;
}

// Remote control of a session of a named server, and its end.
BOOL WINAPI WTSStartRemoteControlSessionW(LPWSTR server, ULONG logonId, BYTE hotkey, USHORT modifiers)
{
    const std::string name = server ? SimUtf8(server) : "";
    SimLog("WTSStartRemoteControlSessionW server=%s session=%lu hotkey=%u modifiers=%u", name.c_str(), logonId,
           unsigned(hotkey), unsigned(modifiers));
    char here[MAX_COMPUTERNAME_LENGTH + 1] = "";
    DWORD size = sizeof here;
    GetComputerNameA(here, &size);
    HANDLE h = SimOpenHandle(name);
    if (!h && !name.empty() && !SimSameName(name, here)) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return FALSE;
    }
    if (SimFails("WTSStartRemoteControlSession", h))
        return FALSE;
    return SimSessionIsThere(h, logonId);
}

BOOL WINAPI WTSStopRemoteControlSession(ULONG logonId)
{
    SimLog("WTSStopRemoteControlSession session=%lu", logonId);
    if (SimFails("WTSStopRemoteControlSession"))
        return FALSE;
    return SimSessionIsThere(WTS_CURRENT_SERVER_HANDLE, logonId);
}

// The terminal servers of a domain ([domain NAME] server=; null: the first
// domain of the scenario, standing for the caller's own).
BOOL WINAPI WTSEnumerateServersW(LPWSTR domain, DWORD reserved, DWORD version, PWTS_SERVER_INFOW* out, DWORD* count)
{
    const std::string name = domain ? SimUtf8(domain) : "";
    SimLog("WTSEnumerateServersW domain=%s reserved=%lu version=%lu", name.c_str(), reserved, version);
    if (reserved != 0 || version != 1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (SimFails("WTSEnumerateServers"))
        return FALSE;
    const auto& domains = Scenario().domains;
    auto found = domains.end();
    for (auto d = domains.begin(); d != domains.end(); ++d)
        if ((name.empty() && found == domains.end()) || SimSameName(d->first, name))
            found = d;
    if (found == domains.end()) {
        SetLastError(ERROR_NO_SUCH_DOMAIN);
        return FALSE;
    }
    const std::vector<std::string>& servers = found->second;
    BlockBuilder block(sizeof(WTS_SERVER_INFOW) * servers.size());
    std::vector<std::pair<size_t, size_t>> fixups;
    for (size_t i = 0; i < servers.size(); ++i)
        fixups.push_back({i * sizeof(WTS_SERVER_INFOW), block.AddText<WCHAR>(servers[i])});
    *out = reinterpret_cast<PWTS_SERVER_INFOW>(block.Finish(fixups));
    *count = DWORD(servers.size());
    return TRUE;
}

// The account database of the server's domain, as LookupAccountNameW
// answers from it: the SID and the domain of "DOMAIN\\USER" or "USER"
// ([accounts]); sizes too small are refused with the sizes needed, an
// unknown account with ERROR_NONE_MAPPED, an unknown server with
// RPC_S_SERVER_UNAVAILABLE. The command-line tool's test build takes the
// platform's entry point from here.
BOOL WINAPI SimLookupAccountNameW(LPCWSTR system, LPCWSTR account, PSID sid, LPDWORD sidBytes, LPWSTR domain,
                                  LPDWORD domainUnits, PSID_NAME_USE use)
{
    const std::string server = system ? SimUtf8(system) : "", name = account ? SimUtf8(account) : "";
    SimLog("LookupAccountNameW server=%s account=%s", server.c_str(), name.c_str());
    HANDLE h = server.empty() ? WTS_CURRENT_SERVER_HANDLE : SimOpenHandle(server);
    if (!server.empty() && !h) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return FALSE;
    }
    if (SimFails("LookupAccountName", h))
        return FALSE;
    const auto* found = SimAccount(name);
    if (!found) {
        SetLastError(ERROR_NONE_MAPPED);
        return FALSE;
    }
    const std::vector<BYTE> bytes = SidBytes(found->second);
    const size_t slash = found->first.find('\\');
    const std::wstring domainName = SimWide(slash == std::string::npos ? "" : found->first.substr(0, slash));
    if (*sidBytes < bytes.size() || *domainUnits < domainName.size() + 1) {
        *sidBytes = DWORD(bytes.size()), *domainUnits = DWORD(domainName.size() + 1);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(sid, bytes.data(), bytes.size());
    memcpy(domain, domainName.c_str(), sizeof(WCHAR) * (domainName.size() + 1));
    *sidBytes = DWORD(bytes.size()), *domainUnits = DWORD(domainName.size());
    *use = SidTypeUser;
    return TRUE;
}
static_assert(std::is_same_v<decltype(&SimLookupAccountNameW), decltype(&::LookupAccountNameW)>,
              "the platform's prototype");

// The library of an older platform lacks entry points: those named in
// VELQUOR_SIM_MISSING (separated by commas) are taken out of this library's
// export table as it is loaded, so that looking them up finds nothing.
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        SimHideEntryPoints(self, "VELQUOR_SIM_MISSING");
    return TRUE;
}

// Only the simulator has this: tells it apart from the platform's library.
BOOL WINAPI VelquorSimulator(void) { return TRUE; }

}  // extern "C"
