// Test double of the terminal-services library, serving the scenario.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api/tsplatform.h"
#include "sim/scenario.h"

namespace {

const DWORD kSessionNotFound = 7022;
const DWORD kServerUnavailable = 1722;

// Every buffer handed out is one block: the records, then the texts.
class BlockBuilder {
public:
    explicit BlockBuilder(size_t headerBytes) : bytes_(headerBytes, 0) {}
    size_t AddText(const std::string& text)
    {
        size_t at = bytes_.size();
        bytes_.insert(bytes_.end(), text.begin(), text.end());
        bytes_.push_back(0);
        return at;
    }
    size_t AddBytes(const void* data, size_t n)
    {
        size_t at = bytes_.size();
        bytes_.insert(bytes_.end(), static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + n);
        return at;
    }
    BYTE* Header() { return bytes_.data(); }
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

HANDLE Open(const char* entry, LPSTR name)
{
    if (SimFails(entry)) {
        SimLog("%s name=%s -> 00000000", entry, name ? name : "(null)");
        return nullptr;
    }
    const auto& servers = Scenario().servers;
    for (size_t i = 0; i < servers.size(); ++i) {
        if (name && servers[i] == name) {
            HANDLE h = reinterpret_cast<HANDLE>(0x5100 + 4 * i);
            SimLog("%s name=%s -> %p", entry, name, h);
            return h;
        }
    }
    SimLog("%s name=%s -> 00000000", entry, name ? name : "(null)");
    SetLastError(kServerUnavailable);
    return nullptr;
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

template <class Record>
BOOL EnumerateProcesses(HANDLE server, DWORD filter, Record** out, DWORD* count)
{
    std::vector<const SimProcess*> chosen;
    for (const SimProcess& p : Scenario().processes)
        if (!SimEmptyServer(server) && (filter == 0xFFFFFFFE || p.session == filter))
            chosen.push_back(&p);
    BlockBuilder block(sizeof(Record) * chosen.size());
    std::vector<std::pair<size_t, size_t>> fixups;
    for (size_t i = 0; i < chosen.size(); ++i) {
        Record* r = reinterpret_cast<Record*>(block.Header()) + i;
        r->SessionId = chosen[i]->session;
        r->ProcessId = chosen[i]->id;
        const size_t base = i * sizeof(Record);
        fixups.push_back({base + offsetof(Record, pProcessName), block.AddText(chosen[i]->name)});
        if (!chosen[i]->sid.empty()) {
            std::vector<BYTE> sid = SidBytes(chosen[i]->sid);
            fixups.push_back({base + offsetof(Record, pUserSid), block.AddBytes(sid.data(), sid.size())});
        }
    }
    *out = reinterpret_cast<Record*>(block.Finish(fixups));
    *count = DWORD(chosen.size());
    return TRUE;
}

// Basic or level-1 session records; `nameAt` is where a record keeps its name.
template <class Record>
BOOL EnumerateSessions(HANDLE server, Record** out, DWORD* count, size_t nameAt)
{
    static const std::vector<SimSession> kNone;  // both sides lvalues: the scenario's list is not copied
    const std::vector<SimSession>& sessions = SimEmptyServer(server) ? kNone : Scenario().sessions;
    BlockBuilder block(sizeof(Record) * sessions.size());
    std::vector<std::pair<size_t, size_t>> fixups;
    for (size_t i = 0; i < sessions.size(); ++i) {
        Record* r = reinterpret_cast<Record*>(block.Header()) + i;
        r->SessionId = sessions[i].id;
        r->State = sessions[i].state;
        if (sessions[i].hasName)
            fixups.push_back({i * sizeof *r + nameAt, block.AddText(sessions[i].name)});
    }
    *out = reinterpret_cast<Record*>(block.Finish(fixups));
    *count = DWORD(sessions.size());
    return TRUE;
}

// The buffer the platform hands back for one class, and its size as the
// platform reports it: the value's own size, or a text with its terminator.
BYTE* QueryBuffer(const SimSession& s, int infoClass, DWORD* bytes)
{
    BlockBuilder block(0);
    auto add = [&](const void* value, size_t size) {
        block.AddBytes(value, size);
        *bytes = DWORD(size);
    };
    const WORD product = WORD(s.product), protocol = WORD(s.protocol);
    TsClientAddress address = {};
    address.AddressFamily = s.family;
    memcpy(address.Address, s.address, sizeof address.Address);
    switch (infoClass) {
    case 8: add(&s.state, 4); break;
    case 9: add(&s.build, 4); break;
    case 12: add(&product, 2); break;
    case 13: add(&s.hardware, 4); break;
    case 14: add(&address, sizeof address); break;
    case 15: add(s.display, 12); break;
    case 16: add(&protocol, 2); break;
    default: {
        auto text = s.texts.find(infoClass);
        const std::string& value =
            text != s.texts.end() ? text->second : (infoClass == 6 ? s.name : std::string());
        block.AddText(value);
        *bytes = DWORD(value.size() + 1);
    }
    }
    return block.Finish({});
}

}  // namespace

extern "C" {

HANDLE WINAPI WTSOpenServerA(LPSTR name) { return Open("WTSOpenServerA", name); }
HANDLE WINAPI WTSOpenServerExA(LPSTR name) { return Open("WTSOpenServerExA", name); }

void WINAPI WTSCloseServer(HANDLE h)
{
    SimLog("WTSCloseServer %p", h);
    if (Scenario().closeError)
        SetLastError(Scenario().closeError);
}

void WINAPI WTSFreeMemory(PVOID p)
{
    SimLog("WTSFreeMemory %p", p);
    Release(p);
}

BOOL WINAPI WTSFreeMemoryExA(int type, PVOID p, ULONG count)
{
    SimLog("WTSFreeMemoryExA type=%d %p count=%lu", type, p, count);
    Release(p);
    return TRUE;
}

BOOL WINAPI WTSEnumerateSessionsA(HANDLE h, DWORD reserved, DWORD version, TsSessionInfo** out, DWORD* count)
{
    SimLog("WTSEnumerateSessionsA handle=%p reserved=%lu version=%lu", h, reserved, version);
    if (SimFails("WTSEnumerateSessionsA", h))
        return FALSE;
    return EnumerateSessions(h, out, count, offsetof(TsSessionInfo, pWinStationName));
}

BOOL WINAPI WTSEnumerateSessionsExA(HANDLE h, DWORD* level, DWORD filter, TsSessionInfo1** out, DWORD* count)
{
    SimLog("WTSEnumerateSessionsExA handle=%p level=%lu filter=%lu", h, level ? *level : 0, filter);
    if (SimFails("WTSEnumerateSessionsExA", h))
        return FALSE;
    return EnumerateSessions(h, out, count, offsetof(TsSessionInfo1, pSessionName));
}

BOOL WINAPI WTSEnumerateProcessesA(HANDLE h, DWORD reserved, DWORD version, TsProcessInfo** out, DWORD* count)
{
    SimLog("WTSEnumerateProcessesA handle=%p reserved=%lu version=%lu", h, reserved, version);
    if (SimFails("WTSEnumerateProcessesA", h))
        return FALSE;
    return EnumerateProcesses(h, 0xFFFFFFFE, out, count);
}

BOOL WINAPI WTSEnumerateProcessesExA(HANDLE h, DWORD* level, DWORD session, LPSTR* out, DWORD* count)
{
    SimLog("WTSEnumerateProcessesExA handle=%p level=%lu session=%lu", h, level ? *level : 0, session);
    if (SimFails("WTSEnumerateProcessesExA", h))
        return FALSE;
    return EnumerateProcesses(h, session, reinterpret_cast<TsProcessInfoEx**>(out), count);
}

BOOL WINAPI WTSDisconnectSession(HANDLE h, DWORD session, BOOL wait)
{
    SimLog("WTSDisconnectSession handle=%p session=%lu wait=%d", h, session, wait);
    return !SimFails("WTSDisconnectSession");
}

BOOL WINAPI WTSLogoffSession(HANDLE h, DWORD session, BOOL wait)
{
    SimLog("WTSLogoffSession handle=%p session=%lu wait=%d", h, session, wait);
    return !SimFails("WTSLogoffSession");
}

BOOL WINAPI WTSTerminateProcess(HANDLE h, DWORD process, DWORD exitCode)
{
    SimLog("WTSTerminateProcess handle=%p process=%lu exit=%lu", h, process, exitCode);
    return !SimFails("WTSTerminateProcess");
}

BOOL WINAPI WTSSendMessageA(HANDLE h, DWORD session, LPSTR title, DWORD titleLength, LPSTR message,
                            DWORD messageLength, DWORD style, DWORD timeout, DWORD* response, BOOL wait)
{
    SimLog("WTSSendMessageA handle=%p session=%lu title=[%s] %lu message=[%s] %lu style=%lu timeout=%lu wait=%d", h,
           session, title ? title : "(null)", titleLength, message ? message : "(null)", messageLength, style,
           timeout, wait);
    if (SimFails("WTSSendMessageA"))
        return FALSE;
    *response = Scenario().response;
    return TRUE;
}

BOOL WINAPI WTSQuerySessionInformationA(HANDLE h, DWORD session, int infoClass, LPSTR* buffer, DWORD* bytes)
{
    SimLog("WTSQuerySessionInformationA handle=%p session=%lu class=%d", h, session, infoClass);
    if (SimFails("WTSQuerySessionInformationA", h) ||
        SimFails("WTSQuerySessionInformationA." + std::to_string(infoClass), h))
        return FALSE;
    const SimSession* s = SimFindSession(session);
    if (!s) {
        SetLastError(kSessionNotFound);
        return FALSE;
    }
    *buffer = reinterpret_cast<LPSTR>(QueryBuffer(*s, infoClass, bytes));
    return TRUE;
}

BOOL WINAPI WTSWaitSystemEvent(HANDLE h, DWORD mask, DWORD* flags)
{
    SimLog("WTSWaitSystemEvent handle=%p mask=%lu", h, mask);
    if (SimFails("WTSWaitSystemEvent"))
        return FALSE;
    *flags = Scenario().eventFlags;
    return TRUE;
}

BOOL WINAPI WTSShutdownSystem(HANDLE h, DWORD flags)
{
    SimLog("WTSShutdownSystem handle=%p flags=%lu", h, flags);
    return !SimFails("WTSShutdownSystem");
}

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
