#include "sim/scenario.h"

#include "support/wtsplatform.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <utility>
#include <vector>

namespace {

// Handles: the scenario's servers from 0x5100 on, four apart (and a count
// of opens above the low 16 bits where every open has its own); those of
// names only an open of any name takes, from 0x7F00 on.
const uintptr_t kFirstServer = 0x5100, kUnknownServer = 0x7F00;

std::string Trim(const std::string& s)
{
    size_t a = s.find_first_not_of(" \t\r");
    size_t b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

DWORD Number(const std::string& s) { return DWORD(strtoul(s.c_str(), nullptr, 0)); }

// A time is a FILETIME count, or "YYYY:MM:DD:hh:mm:ss" in UTC.
ULONGLONG Time(const std::string& s)
{
    SYSTEMTIME st = {};
    if (sscanf(s.c_str(), "%hu:%hu:%hu:%hu:%hu:%hu", &st.wYear, &st.wMonth, &st.wDay, &st.wHour, &st.wMinute,
               &st.wSecond) == 6) {
        FILETIME ft;
        SystemTimeToFileTime(&st, &ft);
        return (ULONGLONG(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    }
    return strtoull(s.c_str(), nullptr, 0);
}

// An IPv6 address's text ("fd00::7", "ffff::1", eight groups) as its 16 bytes.
void Ipv6Bytes(const std::string& text, BYTE* bytes)
{
    std::vector<unsigned> head, tail;
    std::vector<unsigned>* into = &head;
    for (size_t at = 0; at < text.size();) {
        if (text.compare(at, 2, "::") == 0) {
            into = &tail;
            at += 2;
            continue;
        }
        into->push_back(unsigned(strtoul(text.c_str() + at, nullptr, 16)));
        at = text.find(':', at);
        if (at == std::string::npos)
            break;
        if (text.compare(at, 2, "::") != 0)
            ++at;
    }
    unsigned groups[8] = {};
    for (size_t i = 0; i < head.size() && i < 8; ++i)
        groups[i] = head[i];
    for (size_t i = 0; i < tail.size() && i < 8; ++i)
        groups[8 - tail.size() + i] = tail[i];
    for (int i = 0; i < 8; ++i)
        bytes[2 * i] = BYTE(groups[i] >> 8), bytes[2 * i + 1] = BYTE(groups[i]);
}

DWORD Version(const std::string& text)
{
    unsigned major = 0, minor = 0;
    sscanf(text.c_str(), "%u.%u", &major, &minor);
    return (major << 8) | minor;
}

void SessionKey(SimSession& s, const std::string& key, const std::string& value)
{
    static const char* const kTimes[] = {"connect", "disconnect", "lastinput", "logon", "current"};
    if (key == "name") {
        s.hasName = true;
        s.name = value;
    } else if (key == "state") {
        s.state = Number(value);
    } else if (key.compare(0, 5, "info.") == 0) {
        s.texts[atoi(key.c_str() + 5)] = value;
    } else if (key == "build") {
        s.build = Number(value);
    } else if (key == "hardware") {
        s.hardware = Number(value);
    } else if (key == "product") {
        s.product = Number(value);
    } else if (key == "protocol") {
        s.protocol = Number(value);
        s.hasProtocol = true;
    } else if (key == "display") {
        sscanf(value.c_str(), "%lu,%lu,%lu", &s.display[0], &s.display[1], &s.display[2]);
    } else if (key == "locked") {
        s.locked = Number(value) != 0;
    } else if (key == "traffic") {
        sscanf(value.c_str(), "%lu,%lu,%lu,%lu,%lu,%lu", &s.traffic[0], &s.traffic[1], &s.traffic[2],
               &s.traffic[3], &s.traffic[4], &s.traffic[5]);
    } else if (key == "password") {
        s.password = value;
    } else if (key == "address" && value.compare(0, 3, "23:") == 0) {  // 23:an IPv6 address (16 bytes from 0)
        Ipv6Bytes(value.substr(3), s.address);
        s.family = 23;
        s.hasAddress = true;
    } else if (key == "address") {  // family:b0.b1.b2.b3 (bytes 2 to 5 of the address)
        unsigned b[4] = {0, 0, 0, 0};
        sscanf(value.c_str(), "%lu:%u.%u.%u.%u", &s.family, &b[0], &b[1], &b[2], &b[3]);
        for (int i = 0; i < 4; ++i)
            s.address[2 + i] = BYTE(b[i]);
        s.hasAddress = true;
    } else {
        for (int i = 0; i < 5; ++i)
            if (key == kTimes[i])
                s.times[i] = Time(value);
    }
}

void ProcessKey(SimProcess& p, const std::string& key, const std::string& value)
{
    if (key == "session")
        p.session = Number(value);
    else if (key == "name")
        p.name = value;
    else if (key == "sid")
        p.sid = value;
    else if (key == "threads")
        p.threads = Number(value);
    else if (key == "handles")
        p.handles = Number(value);
    else if (key == "memory")
        sscanf(value.c_str(), "%lu,%lu", &p.memory[0], &p.memory[1]);
    else if (key == "pagefile")
        sscanf(value.c_str(), "%lu,%lu", &p.pagefile[0], &p.pagefile[1]);
    else if (key == "cpu") {
        unsigned long user = 0, kernel = 0;
        sscanf(value.c_str(), "%lu,%lu", &user, &kernel);
        p.cpu[0] = ULONGLONG(user) * 10000, p.cpu[1] = ULONGLONG(kernel) * 10000;
    }
    else if (key == "reused") {
        char sid[256] = "";
        sscanf(value.c_str(), "%lu %255s", &p.reusedAt, sid);
        p.reusedSid = sid;
    }
}

// [generate] servers=K sessions=N processes=M: servers server001 to K, and
// a large host on top of the listed
// sessions, ids from 100, with users, clients and times, and processes
// spread over them, each owned by its session's user.
void Generate(SimScenario& sc)
{
    static const char* const kPrograms[] = {"explorer.exe", "outlook.exe", "winword.exe", "excel.exe",
                                            "chrome.exe",   "teams.exe",   "rdpclip.exe", "notepad.exe"};
    char text[64];
    for (DWORD i = 1; i <= sc.generatedServers; ++i) {
        snprintf(text, sizeof text, "server%03lu", i);
        sc.servers.push_back(text);
    }
    for (DWORD i = 0; i < sc.generatedSessions; ++i) {
        SimSession s;
        s.id = 100 + i;
        s.hasName = true;
        snprintf(text, sizeof text, "RDP-Tcp#%lu", 1000 + i);
        s.name = text;
        s.state = i % 7 == 6 ? 4 : 0;  // every seventh disconnected
        snprintf(text, sizeof text, "user%04lu", i);
        s.texts[5] = text;
        s.texts[7] = "CORP";
        snprintf(text, sizeof text, "PC-%04lu", i);
        s.texts[10] = text;
        s.protocol = 2;
        s.hasProtocol = true;
        s.family = 2;
        s.address[2] = 10, s.address[3] = 1, s.address[4] = BYTE(i / 250), s.address[5] = BYTE(1 + i % 250);
        s.hasAddress = true;
        s.display[0] = 1920, s.display[1] = 1080, s.display[2] = 32;
        s.times[3] = Time("2026:12:07:07:00:00") + ULONGLONG(i) * 10000000ull * 60;  // logon, a minute apart
        s.times[0] = s.times[3];
        s.times[2] = Time("2026:12:07:09:30:00");
        s.times[4] = Time("2026:12:07:09:42:00");
        sc.sessions.push_back(s);
    }
    for (DWORD i = 0; i < sc.generatedProcesses; ++i) {
        SimProcess p;
        p.id = 10000 + 4 * i;
        p.session = sc.generatedSessions ? 100 + i % sc.generatedSessions : 0;
        p.name = kPrograms[i % 8];
        snprintf(text, sizeof text, "S-1-5-21-1004336348-1177238915-682003330-%lu", 2000 + (p.session - 100));
        p.sid = text;
        sc.processes.push_back(p);
    }
}

// The file's sections in order, each with its key=value lines (a key may
// repeat: [server] name=). The file is UTF-8, read as bytes: the profile
// functions would read it in the ANSI code page. Lines starting with "#"
// or ";" are comments.
typedef std::vector<std::pair<std::string, std::string>> SectionLines;

std::vector<std::pair<std::string, SectionLines>> Sections(const char* path)
{
    std::vector<std::pair<std::string, SectionLines>> sections;
    FILE* f = fopen(path, "rb");
    if (!f)
        return sections;
    std::string data;
    char chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, f)) > 0;)
        data.append(chunk, n);
    fclose(f);
    if (data.compare(0, 3, "\xEF\xBB\xBF") == 0)
        data.erase(0, 3);
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find('\n', start);
        if (end == std::string::npos)
            end = data.size();
        const std::string text = Trim(data.substr(start, end - start));
        start = end + 1;
        if (text.empty() || text[0] == '#' || text[0] == ';')
            continue;
        if (text[0] == '[' && text.back() == ']') {
            sections.push_back({Trim(text.substr(1, text.size() - 2)), {}});
            continue;
        }
        if (sections.empty())
            continue;
        const size_t eq = text.find('=');
        sections.back().second.push_back(
            {Trim(text.substr(0, eq)), eq == std::string::npos ? "" : Trim(text.substr(eq + 1))});
    }
    return sections;
}

// An entry point's name without the final A or W of its form
// ("WTSSendMessageA" and "WTSSendMessageW" are "WTSSendMessage"), and
// with what follows it (".class", "@server").
std::string WithoutForm(const std::string& key)
{
    const size_t end = key.find_first_of(".@");
    const size_t at = end == std::string::npos ? key.size() : end;
    const bool form = at > 1 && (key[at - 1] == 'A' || key[at - 1] == 'W') && islower((unsigned char)key[at - 2]);
    return form ? key.substr(0, at - 1) + key.substr(at) : key;
}

// "TIME=SESSION STATE USER", or "TIME=SESSION -" (also with a state) for a
// session that goes away: its user logged off.
SimChange Change(const std::string& key, const std::string& value)
{
    SimChange c;
    c.at = Number(key);
    char second[256] = "", user[256] = "";
    sscanf(value.c_str(), "%lu %255s %255s", &c.session, second, user);
    c.gone = strcmp(second, "-") == 0 || strcmp(user, "-") == 0;
    c.state = c.gone ? DWORD(WTSDown) : Number(second);
    c.user = c.gone ? "" : user;
    return c;
}

// The sessions after each change of the timeline, made once.
void Steps(SimScenario& sc)
{
    sc.steps.push_back(sc.sessions);
    for (const SimChange& c : sc.timeline) {
        std::vector<SimSession> next;
        bool found = false;
        for (SimSession s : sc.steps.back()) {
            if (s.id == c.session) {
                found = true;
                if (c.gone)
                    continue;
                s.state = c.state;
                s.texts[5] = c.user;
            }
            next.push_back(s);
        }
        if (!found && !c.gone) {
            SimSession s;
            s.id = c.session, s.state = c.state, s.hasName = true;
            s.name = "RDP-Tcp#" + std::to_string(c.session);
            s.texts[5] = c.user;
            next.push_back(s);
        }
        sc.steps.push_back(next);
    }
}

void ServerKey(SimScenario& sc, const std::string& key, const std::string& value)
{
    if (key == "name")
        sc.servers.push_back(value);
    else if (key == "empty")
        sc.servers.push_back(sc.emptyServer = value);
    else if (key == "events")
        sc.eventFlags = Number(value);
    else if (key == "closeerror")
        sc.closeError = Number(value);
    else if (key == "current")
        sc.currentSession = Number(value);
    else if (key == "response")
        sc.response = Number(value);
    else if (key == "delay")
        sc.delay = Number(value);
    else if (key == "listdelay")
        sc.listDelay = Number(value);
    else if (key == "silent")
        sc.silent.push_back(value);
    else if (key == "distincthandles")
        sc.distinctHandles = Number(value) != 0;
    else if (key == "openany")
        sc.openAny = Number(value) != 0;
    else if (key == "version")
        sc.version = Version(value);
    else if (key.compare(0, 8, "version.") == 0)
        sc.versions[key.substr(8)] = Version(value);
    else if (key == "hang") {
        sc.servers.push_back(value);
        sc.hung.push_back(value);
    }
}

// The scenario file ("Z:" and a Unix path, or a Windows path).
SimScenario Load()
{
    SimScenario sc;
    const char* path = getenv("VELQUOR_SCENARIO");
    if (!path)
        return sc;
    for (const auto& [section, lines] : Sections(path)) {
        const bool session = section.compare(0, 8, "session ") == 0;
        const bool process = section.compare(0, 8, "process ") == 0;
        if (session) {
            sc.sessions.push_back(SimSession());
            sc.sessions.back().id = Number(section.substr(8));
        } else if (process) {
            // [process self]: the calling program's own process.
            sc.processes.push_back(SimProcess());
            sc.processes.back().id = section.substr(8) == "self" ? GetCurrentProcessId() : Number(section.substr(8));
        }
        for (const auto& [key, value] : lines) {
            if (section == "server")
                ServerKey(sc, key, value);
            else if (section == "fail")
                sc.failures[WithoutForm(key)] = Number(value);
            else if (section == "generate" && key == "sessions")
                sc.generatedSessions = Number(value);
            else if (section == "generate" && key == "processes")
                sc.generatedProcesses = Number(value);
            else if (section == "generate" && key == "servers")
                sc.generatedServers = Number(value);
            else if (section == "accounts")
                sc.accounts[key] = value;
            else if (section.compare(0, 7, "domain ") == 0 && key == "server")
                sc.domains[section.substr(7)].push_back(value);
            else if (section == "timeline")
                sc.timeline.push_back(Change(key, value));
            else if (session)
                SessionKey(sc.sessions.back(), key, value);
            else if (process)
                ProcessKey(sc.processes.back(), key, value);
        }
    }
    Generate(sc);
    Steps(sc);
    sc.start = GetTickCount();
    return sc;
}

}  // namespace

const SimScenario& Scenario()
{
    static const SimScenario scenario = Load();
    return scenario;
}

namespace {

void Log(const char* format, va_list args);

}  // namespace

void SimLog(const char* format, ...)
{
    if (Scenario().delay)
        Sleep(Scenario().delay);
    va_list args;
    va_start(args, format);
    Log(format, args);
    va_end(args);
}

void SimLogLocal(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Log(format, args);
    va_end(args);
}

const std::string& SimProcessSid(const SimProcess& p)
{
    return p.reusedAt && GetTickCount() - Scenario().start >= p.reusedAt ? p.reusedSid : p.sid;
}

size_t SimChangesNow()
{
    const DWORD elapsed = GetTickCount() - Scenario().start;
    size_t n = 0;
    while (n < Scenario().timeline.size() && Scenario().timeline[n].at <= elapsed)
        ++n;
    return n;
}

const std::vector<SimSession>& SimSessionsNow() { return Scenario().steps[SimChangesNow()]; }

namespace {

// The log reads the same in both builds: a pointer as at least eight
// hexadecimal digits, as the 32-bit build's %p writes it.
std::string SameInBothBuilds(const char* format)
{
    std::string f = format;
    if (sizeof(void*) == 8)
        for (size_t at = f.find("%p"); at != std::string::npos; at = f.find("%p", at + 5))
            f.replace(at, 2, "%08zx");
    return f;
}

void Log(const char* given, va_list args)
{
    const char* path = getenv("VELQUOR_SIM_LOG");
    if (!path)
        return;
    const std::string portable = SameInBothBuilds(given);
    const char* format = portable.c_str();
    // Both simulated libraries write here, each from several threads, and
    // each line goes to the end of the file: the writers take turns through
    // a mutex of the process that both libraries open by its name, so that
    // no two write at the same end and no line is lost.
    va_list again;
    va_copy(again, args);
    const int n = vsnprintf(nullptr, 0, format, args);
    std::string line(size_t(n > 0 ? n : 0) + 1, '\0');
    vsnprintf(&line[0], line.size(), format, again);
    va_end(again);
    line.back() = '\n';
    const std::string name = "velquor-simulator-log-" + std::to_string(GetCurrentProcessId());
    HANDLE turns = CreateMutexA(nullptr, FALSE, name.c_str());
    if (!turns)
        return;
    WaitForSingleObject(turns, INFINITE);
    if (FILE* f = fopen(path, "a")) {
        fwrite(line.data(), 1, line.size(), f);
        fclose(f);
    }
    ReleaseMutex(turns);
    CloseHandle(turns);
}

}  // namespace

namespace {

// Server names are the network's: letters A to Z in either case.
bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (tolower((unsigned char)a[i]) != tolower((unsigned char)b[i]) || ((unsigned char)a[i] >= 0x80 && a[i] != b[i]))
            return false;
    return true;
}

}  // namespace

std::string SimServerName(HANDLE handle)
{
    const size_t index = ((reinterpret_cast<uintptr_t>(handle) & 0xFFFF) - kFirstServer) / 4;
    return handle && index < Scenario().servers.size() ? Scenario().servers[index] : std::string();
}

bool SimEmptyServer(HANDLE handle)
{
    return !Scenario().emptyServer.empty() && SimServerName(handle) == Scenario().emptyServer;
}

bool SimFails(const std::string& entry, HANDLE handle, const std::string& detail)
{
    for (const std::string& hung : Scenario().hung)
        if (handle && SameName(hung, SimServerName(handle)))
            Sleep(INFINITE);  // a server that never answers: the call stays in the platform
    if ((reinterpret_cast<uintptr_t>(handle) & 0xFFFF) >= kUnknownServer) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return true;
    }
    const std::string name = WithoutForm(entry) + detail;
    const auto& failures = Scenario().failures;
    auto found = failures.find(name);
    if (found == failures.end() && handle)
        found = failures.find(name + "@" + SimServerName(handle));
    if (found == failures.end())
        return false;
    SetLastError(found->second);
    return true;
}

const SimSession* SimFindSession(HANDLE handle, DWORD id)
{
    if (id == WTS_CURRENT_SESSION)
        id = Scenario().currentSession;
    if (SimEmptyServer(handle))
        return nullptr;
    for (const SimSession& s : SimSessionsNow())
        if (s.id == id)
            return &s;
    return nullptr;
}

bool SimSessionIsThere(HANDLE handle, DWORD id)
{
    if (SimFindSession(handle, id))
        return true;
    SetLastError(ERROR_CTX_WINSTATION_NOT_FOUND);
    return false;
}

bool SimProcessIsThere(HANDLE handle, DWORD id)
{
    if (!SimEmptyServer(handle))
        for (const SimProcess& p : Scenario().processes)
            if (p.id == id)
                return true;
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
}


HANDLE SimOpenHandle(const std::string& name)
{
    // Each open its own handle where the scenario asks for it, as the
    // platform's are: a flush then reaches only its own.
    static volatile LONG opened = 0;
    const uintptr_t open = Scenario().distinctHandles ? uintptr_t(InterlockedIncrement(&opened)) << 16 : 0;
    const auto& servers = Scenario().servers;
    for (size_t i = 0; i < servers.size(); ++i)
        if (SameName(servers[i], name))
            return reinterpret_cast<HANDLE>(kFirstServer + 4 * i + open);
    return Scenario().openAny ? reinterpret_cast<HANDLE>(kUnknownServer + (open | 4 * servers.size())) : nullptr;
}

const std::pair<const std::string, std::string>* SimAccount(const std::string& name)
{
    const bool qualified = name.find('\\') != std::string::npos;
    for (const auto& entry : Scenario().accounts) {
        const size_t slash = entry.first.find('\\');
        if (SameName(qualified || slash == std::string::npos ? entry.first : entry.first.substr(slash + 1), name))
            return &entry;
    }
    return nullptr;
}

bool SimSameName(const std::string& a, const std::string& b) { return SameName(a, b); }

DWORD SimServerVersion(const std::string& name)
{
    for (const auto& [server, version] : Scenario().versions)
        if (SameName(server, name))
            return version;
    return Scenario().version;
}

DWORD SimEventsOf(size_t from, size_t to)
{
    const SimScenario& sc = Scenario();
    DWORD events = 0;
    for (size_t i = from; i < to && i < sc.timeline.size(); ++i) {
        const SimChange& c = sc.timeline[i];
        const SimSession* before = nullptr;
        for (const SimSession& s : sc.steps[i])
            if (s.id == c.session)
                before = &s;
        const auto user = before ? before->texts.find(WTSUserName) : std::map<int, std::string>::const_iterator();
        const std::string oldUser = before && user != before->texts.end() ? user->second : "";
        const DWORD oldState = before ? before->state : DWORD(WTSInit);
        const std::string newUser = c.gone ? "" : c.user;
        if (!before)
            events |= WTS_EVENT_CREATE;
        if (c.gone)
            events |= WTS_EVENT_DELETE;
        if (oldState != c.state || c.gone || !before)
            events |= WTS_EVENT_STATECHANGE;
        if (!c.gone && c.state == WTSDisconnected && oldState != WTSDisconnected)
            events |= WTS_EVENT_DISCONNECT;
        if (!c.gone && (c.state == WTSActive || c.state == WTSConnected) &&
            (!before || oldState == WTSDisconnected || oldState == WTSConnectQuery))
            events |= WTS_EVENT_CONNECT;
        if (!oldUser.empty() && oldUser != newUser)
            events |= WTS_EVENT_LOGOFF;
        if (!newUser.empty() && newUser != oldUser)
            events |= WTS_EVENT_LOGON;
    }
    return events;
}

void SimHideEntryPoints(HMODULE module, const char* variable)
{
    const char* list = getenv(variable);
    if (!list || !*list)
        return;
    const std::string names = std::string(",") + list + ",";
    BYTE* base = reinterpret_cast<BYTE*>(module);
    const IMAGE_NT_HEADERS* nt =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const IMAGE_EXPORT_DIRECTORY* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    DWORD* functions = reinterpret_cast<DWORD*>(base + exports->AddressOfFunctions);
    const DWORD* nameAt = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    const WORD* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        const std::string name = reinterpret_cast<const char*>(base + nameAt[i]);
        if (names.find("," + name + ",") == std::string::npos)
            continue;
        DWORD* slot = &functions[ordinals[i]];
        DWORD protection = 0;
        if (VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) {
            *slot = 0;  // an export without an address is not found
            VirtualProtect(slot, sizeof *slot, protection, &protection);
        }
    }
}

std::wstring SimWide(const std::string& utf8)
{
    // "\\uXXXX" in a scenario's text is that UTF-16 unit, whatever it is: a
    // line break, or a surrogate without its pair, which no UTF-8 text holds.
    std::wstring wide;
    size_t from = 0;
    for (size_t at = utf8.find("\\u"); ; at = utf8.find("\\u", at + 1)) {
        const bool unit = at != std::string::npos && at + 6 <= utf8.size() &&
                          utf8.find_first_not_of("0123456789abcdefABCDEF", at + 2) >= at + 6;
        if (at != std::string::npos && !unit)
            continue;
        const std::string part = utf8.substr(from, (at == std::string::npos ? utf8.size() : at) - from);
        const int n = MultiByteToWideChar(CP_UTF8, 0, part.data(), int(part.size()), nullptr, 0);
        const size_t old = wide.size();
        wide.resize(old + size_t(n));
        if (n)
            MultiByteToWideChar(CP_UTF8, 0, part.data(), int(part.size()), &wide[old], n);
        if (at == std::string::npos)
            return wide;
        wide += wchar_t(strtoul(utf8.substr(at + 2, 4).c_str(), nullptr, 16));
        from = at + 6;
    }
}

std::string SimUtf8(const std::wstring& wide)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(size_t(n), '\0');
    if (n)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), &text[0], n, nullptr, nullptr);
    return text;
}

std::string SimAnsi(const std::string& utf8)
{
    const std::wstring wide = SimWide(utf8);
    const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(size_t(n), '\0');
    if (n)
        WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), &text[0], n, nullptr, nullptr);
    return text;
}

std::string SimFromAnsi(const char* ansi)
{
    const int n = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
    std::wstring wide(size_t(n > 0 ? n - 1 : 0), L'\0');
    if (n > 1)
        MultiByteToWideChar(CP_ACP, 0, ansi, -1, &wide[0], n);
    return SimUtf8(wide);
}
