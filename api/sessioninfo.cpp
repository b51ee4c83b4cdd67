// Everything the platform reports about one session, in one record.
#include <cstdlib>
#include <cstring>

#include "api/lists.h"
#include "api/bound.h"
#include "api/textform.h"
#include "api/server.h"
#include "api/sessionquery.h"
#include "include/velquor.h"
#include "support/errors.h"
#include "support/format.h"
#include "support/platform.h"

namespace {

const char kTextFailed[] = "xAllocPrintf() {returned NULL pointer} : QRVTS_QuerySessionInfo$()";
const char kBlockFailed[] = "calloc() {returned NULL pointer} : QRVTS_QuerySessionInfo$()";
const char kUnsupported[] = "*UNSUPPORTED*";

// The seventeen texts in the record's field order.
enum Text {
    ApplicationName, ClientAddress, ClientDirectory, ClientName, ClientProtocolType, ConnectState, DomainName,
    InitialProgram, OEMId, UserName, WinStationName, WorkingDirectory, CurrentTime, LogonTime, LastInputTime,
    ConnectTime, DisconnectTime, TextCount
};

template <class Char>
struct Query : SessionAsker<Char> {
    DWORD numbers[6] = {0, 0, 0, 0, 0, 0};
    char* texts[TextCount] = {};

    ~Query()
    {
        for (char* text : texts)
            free(text);
    }

    template <class T>
    T Number(int infoClass)
    {
        T value = 0;
        this->Ask(infoClass,
                  [&](const Answer<Char>& a) { value = a.template Holding<T>() ? *a.template Holding<T>() : 0; });
        return value;
    }

    // Makes text `t` from the class's answer with `convert`; false when memory ran out.
    template <class Convert>
    bool Make(Text t, int infoClass, Convert convert)
    {
        this->Ask(infoClass, [&](const Answer<Char>& a) { convert(a, &texts[t]); });
        return texts[t] != nullptr;
    }

    bool Plain(Text t, int infoClass)
    {
        return Make(t, infoClass,
                    [](const Answer<Char>& a, char** out) { TextForm<Char>::Copy(out, a.data, a.TextLength()); });
    }

    bool PlainOrUnsupported(Text t, int infoClass)
    {
        if (PlatformInfo.IsWinXP || PlatformInfo.IsWin2003 || PlatformInfo.IsNTOther) {
            xAllocPrintf(&texts[t], "%s", kUnsupported);
            return texts[t] != nullptr;
        }
        return Plain(t, infoClass);
    }
};

template <class Char>
void AddressText(const Answer<Char>& answer, char** out)
{
    xAddressText(answer.template Holding<TsClientAddress>(), out);
}

template <class Char>
void ProtocolText(const Answer<Char>& answer, char** out)
{
    static const char* const kProtocols[] = {"CONSOLE", "ICA", "RDP"};
    const USHORT* protocol = answer.template Holding<USHORT>();
    if (!protocol) {
        xAllocPrintf(out, "");
        return;
    }
    xAllocPrintf(out, "%s", *protocol < 3 ? kProtocols[*protocol] : "*UNKNOWN*");
}

template <class Char>
void StateText(const Answer<Char>& answer, char** out)
{
    const DWORD* state = answer.template Holding<DWORD>();
    xAllocPrintf(out, "%s", state ? xStateWord(*state) : "");
}

// The five times from one window-station query; all empty when it is
// refused or the window-station library is not there.
template <class Char>
bool MakeTimes(Query<Char>& q)
{
    SessionTimes times;
    q.Times(&times);
    xTimeText(times.current, &q.texts[CurrentTime]);
    xTimeText(times.logon, &q.texts[LogonTime]);
    xTimeText(times.LastInput(), &q.texts[LastInputTime]);
    xTimeText(times.connect, &q.texts[ConnectTime]);
    xTimeText(times.disconnect, &q.texts[DisconnectTime]);
    for (int t = CurrentTime; t <= DisconnectTime; ++t)
        if (!q.texts[t])
            return false;
    return true;
}

template <class Char>
bool MakeNumbersAndTexts(Query<Char>& q)
{
    q.numbers[0] = q.template Number<DWORD>(WTSClientBuildNumber);
    q.numbers[4] = q.template Number<DWORD>(WTSClientHardwareId);
    q.numbers[5] = q.template Number<USHORT>(WTSClientProductId);
    q.Ask(WTSClientDisplay, [&](const Answer<Char>& a) {
        if (a.template Holding<TsClientDisplay>())
            memcpy(&q.numbers[1], a.data, sizeof(TsClientDisplay));
    });
    return q.PlainOrUnsupported(ApplicationName, WTSApplicationName) &&
           q.Make(ClientAddress, WTSClientAddress, AddressText<Char>) && q.Plain(ClientName, WTSClientName) &&
           q.Plain(ClientDirectory, WTSClientDirectory) &&
           q.Make(ClientProtocolType, WTSClientProtocolType, ProtocolText<Char>) &&
           q.Make(ConnectState, WTSConnectState, StateText<Char>) && q.Plain(DomainName, WTSDomainName) &&
           q.PlainOrUnsupported(InitialProgram, WTSInitialProgram) && q.Plain(OEMId, WTSOEMId) &&
           q.Plain(UserName, WTSUserName) && q.Plain(WinStationName, WTSWinStationName) &&
           q.Plain(WorkingDirectory, WTSWorkingDirectory);
}

template <class Char>
SessionInfoRecord* Pack(const Query<Char>& q)
{
    size_t bytes = sizeof(SessionInfoRecord);
    for (const char* text : q.texts)
        bytes += strlen(text) + 1;
    SessionInfoRecord* record = static_cast<SessionInfoRecord*>(calloc(bytes, 1));
    if (!record)
        return nullptr;
    memcpy(record, q.numbers, sizeof q.numbers);
    LPSTR* pointers = &record->ApplicationName;
    char* at = reinterpret_cast<char*>(record) + sizeof(SessionInfoRecord);
    for (int t = 0; t < TextCount; ++t) {
        pointers[t] = at;
        const size_t n = strlen(q.texts[t]) + 1;
        memcpy(at, q.texts[t], n);
        at += n;
    }
    return record;
}

template <class Char>
LONG QuerySessionInfo(LPCSTR serverName, DWORD sessionId, SessionInfoRecord** info)
{
    ExportCall call;
    if (!info || *info)
        return QRVTS_INVALID_PARAMETER;
    const BindingTable& bound = call.Bound();
    if (!xServesForm<Char>(bound, xEntriesOf<Char>(bound.Entry).QuerySessionInformation) ||
        !bound.Entry.WTSFreeMemory)
        return QRVTS_NOT_AVAILABLE;
    // The places live beyond the body: its failure is recorded after it.
    const Place<Char> textFailed(kTextFailed), blockFailed(kBlockFailed);
    return xOnServer<Char>(serverName, [&](HANDLE handle) {
        Query<Char> q{{bound.Entry, handle, sessionId, "QRVTS_QuerySessionInfo"}};
        if (!MakeNumbersAndTexts(q))
            return xNoMemory(textFailed);
        if (!MakeTimes(q))
            return xNoMemory(blockFailed);
        *info = Pack(q);
        return *info ? xSucceeded() : xNoMemory(blockFailed);
    });
}

}  // namespace

extern "C" LONG QRVTS_CALL QRVTS_QuerySessionInfo(LPCSTR serverName, DWORD sessionId, SessionInfoRecord** info)
{
    return QuerySessionInfo<char>(serverName, sessionId, info);
}

extern "C" LONG QRVTS_CALL QRVTS_QuerySessionInfoUtf8(LPCSTR serverName, DWORD sessionId, SessionInfoRecord** info)
{
    return QuerySessionInfo<WCHAR>(serverName, sessionId, info);
}

const char* xInfoClassName(int infoClass)
{
    switch (infoClass) {
    case WTSClientBuildNumber: return "WTSClientBuildNumber";
    case WTSClientHardwareId: return "WTSClientHardwareId";
    case WTSClientProductId: return "WTSClientProductId";
    case WTSClientDisplay: return "WTSClientDisplay";
    case WTSApplicationName: return "WTSApplicationName";
    case WTSClientAddress: return "WTSClientAddress";
    case WTSClientName: return "WTSClientName";
    case WTSClientDirectory: return "WTSClientDirectory";
    case WTSClientProtocolType: return "WTSClientProtocolType";
    case WTSConnectState: return "WTSConnectState";
    case WTSDomainName: return "WTSDomainName";
    case WTSInitialProgram: return "WTSInitialProgram";
    case WTSOEMId: return "WTSOEMId";
    case WTSUserName: return "WTSUserName";
    case WTSWinStationName: return "WTSWinStationName / SessionName";
    case WTSSessionInfoEx: return "WTSSessionInfoEx";
    default: return "WTSWorkingDirectory";
    }
}

namespace {

// An IPv6 address in its usual text (RFC 5952): hexadecimal groups in
// lower case without leading zeros, the longest run of two or more zero
// groups (the first of equal runs) written "::".
void Ipv6Text(const BYTE* bytes, char** out)
{
    unsigned groups[8];
    int run = -1, runLength = 0;
    for (int i = 0, length = 0; i < 8; ++i) {
        groups[i] = (unsigned(bytes[2 * i]) << 8) | bytes[2 * i + 1];
        length = groups[i] ? 0 : length + 1;
        if (length > runLength && length >= 2)
            run = i - length + 1, runLength = length;
    }
    char text[48];
    char* at = text;
    for (int i = 0; i < 8; ++i) {
        if (i == run) {
            at += wsprintfA(at, "::");
            i += runLength - 1;
            continue;
        }
        at += wsprintfA(at, (i == 0 || i == run + runLength) ? "%x" : ":%x", groups[i]);
    }
    *at = '\0';
    xAllocPrintf(out, "%s", text);
}

}  // namespace

void xAddressText(const TsClientAddress* a, char** out)
{
    if (!a) {
        xAllocPrintf(out, "");
        return;
    }
    switch (a->AddressFamily) {
    case AF_UNSPEC: xAllocPrintf(out, "*UNSPEC*"); break;
    case AF_INET: xAllocPrintf(out, "%d.%d.%d.%d", a->Address[2], a->Address[3], a->Address[4], a->Address[5]); break;
    case AF_IPX: xAllocPrintf(out, "*IPX*"); break;
    case AF_NETBIOS: xAllocPrintf(out, "*NETBIOS*"); break;
    case AF_INET6: Ipv6Text(a->Address, out); break;  // 16 bytes from the start, as its page shows them
    default: xAllocPrintf(out, "*UNKNOWN*"); break;
    }
}

void xTimeText(ULONGLONG value, char** out)
{
    FILETIME ft = {DWORD(value), DWORD(value >> 32)};
    SYSTEMTIME st;
    if ((ft.dwLowDateTime == 0 && ft.dwHighDateTime == 0) || !FileTimeToSystemTime(&ft, &st)) {
        xAllocPrintf(out, "");
        return;
    }
    xAllocPrintf(out, "%04hu:%02hu:%02hu:%02hu:%02hu:%02hu", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                 st.wSecond);
}
