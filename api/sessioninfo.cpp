// Everything the platform reports about one session, in one record.
#include <cstdlib>
#include <cstring>

#include "api/lists.h"
#include "api/bound.h"
#include "api/server.h"
#include "include/velquor.h"
#include "support/errors.h"
#include "support/format.h"
#include "support/platform.h"

namespace {

const char kTextFailed[] = "xAllocPrintf() {returned NULL pointer} : QRVTS_QuerySessionInfo()";
const char kBlockFailed[] = "calloc() {returned NULL pointer} : QRVTS_QuerySessionInfo()";
const char kTimesRefused[] = "WinStationInformationWX() {session times} : QRVTS_QuerySessionInfo()";
const char kUnsupported[] = "*UNSUPPORTED*";

enum InfoClass {
    InitialProgramClass = 0, ApplicationNameClass = 1, WorkingDirectoryClass = 2, OEMIdClass = 3,
    UserNameClass = 5, WinStationNameClass = 6, DomainNameClass = 7, ConnectStateClass = 8,
    ClientBuildNumberClass = 9, ClientNameClass = 10, ClientDirectoryClass = 11, ClientProductIdClass = 12,
    ClientHardwareIdClass = 13, ClientAddressClass = 14, ClientDisplayClass = 15, ClientProtocolTypeClass = 16,
};

const char* PlaceOf(int infoClass)
{
    switch (infoClass) {
    case ClientBuildNumberClass: return "WTSQuerySessionInformationAX() {WTSClientBuildNumber} : QRVTS_QuerySessionInfo()";
    case ClientHardwareIdClass: return "WTSQuerySessionInformationAX() {WTSClientHardwareId} : QRVTS_QuerySessionInfo()";
    case ClientProductIdClass: return "WTSQuerySessionInformationAX() {WTSClientProductId} : QRVTS_QuerySessionInfo()";
    case ClientDisplayClass: return "WTSQuerySessionInformationAX() {WTSClientDisplay} : QRVTS_QuerySessionInfo()";
    case ApplicationNameClass: return "WTSQuerySessionInformationAX() {WTSApplicationName} : QRVTS_QuerySessionInfo()";
    case ClientAddressClass: return "WTSQuerySessionInformationAX() {WTSClientAddress} : QRVTS_QuerySessionInfo()";
    case ClientNameClass: return "WTSQuerySessionInformationAX() {WTSClientName} : QRVTS_QuerySessionInfo()";
    case ClientDirectoryClass: return "WTSQuerySessionInformationAX() {WTSClientDirectory} : QRVTS_QuerySessionInfo()";
    case ClientProtocolTypeClass:
        return "WTSQuerySessionInformationAX() {WTSClientProtocolType} : QRVTS_QuerySessionInfo()";
    case ConnectStateClass: return "WTSQuerySessionInformationAX() {WTSConnectState} : QRVTS_QuerySessionInfo()";
    case DomainNameClass: return "WTSQuerySessionInformationAX() {WTSDomainName} : QRVTS_QuerySessionInfo()";
    case InitialProgramClass: return "WTSQuerySessionInformationAX() {WTSInitialProgram} : QRVTS_QuerySessionInfo()";
    case OEMIdClass: return "WTSQuerySessionInformationAX() {WTSOEMId} : QRVTS_QuerySessionInfo()";
    case UserNameClass: return "WTSQuerySessionInformationAX() {WTSUserName} : QRVTS_QuerySessionInfo()";
    case WinStationNameClass:
        return "WTSQuerySessionInformationAX() {WTSWinStationName / SessionName} : QRVTS_QuerySessionInfo()";
    default: return "WTSQuerySessionInformationAX() {WTSWorkingDirectory} : QRVTS_QuerySessionInfo()";
    }
}

// The seventeen texts in the record's field order.
enum Text {
    ApplicationName, ClientAddress, ClientDirectory, ClientName, ClientProtocolType, ConnectState, DomainName,
    InitialProgram, OEMId, UserName, WinStationName, WorkingDirectory, CurrentTime, LogonTime, LastInputTime,
    ConnectTime, DisconnectTime, TextCount
};

// The platform's answer for one class: its buffer and the size it reported.
struct Answer {
    LPSTR data;
    DWORD bytes;

    // The buffer when it holds at least `size` bytes, else null: a value is
    // never read past what the platform said it wrote.
    template <class T>
    const T* Holding() const
    {
        return data && bytes >= sizeof(T) ? reinterpret_cast<const T*>(data) : nullptr;
    }
    // The text's length within the reported size.
    int TextLength() const
    {
        DWORD n = 0;
        while (data && n < bytes && data[n])
            ++n;
        return int(n);
    }
};

struct Query {
    const BoundEntryPoints& bound;
    HANDLE handle;
    DWORD session;
    DWORD numbers[6] = {0, 0, 0, 0, 0, 0};
    char* texts[TextCount] = {};

    ~Query()
    {
        for (char* text : texts)
            free(text);
    }

    // Calls `use` with the platform's answer; a refusal answers nothing.
    template <class Use>
    void Ask(int infoClass, Use use)
    {
        LPSTR buffer = nullptr;
        DWORD bytes = 0;
        const BOOL answered = bound.WTSQuerySessionInformationA(handle, session, infoClass, &buffer, &bytes);
        if (!answered)
            xRecordLastError(GetLastError(), PlaceOf(infoClass));
        use(answered ? Answer{buffer, bytes} : Answer{nullptr, 0});
        // A refusal may still hand a buffer back: it is released all the same.
        if (buffer)
            bound.WTSFreeMemory(buffer);
    }

    template <class T>
    T Number(int infoClass)
    {
        T value = 0;
        Ask(infoClass, [&](const Answer& a) { value = a.Holding<T>() ? *a.Holding<T>() : 0; });
        return value;
    }

    // Makes text `t` from the class's answer with `convert`; false when memory ran out.
    template <class Convert>
    bool Make(Text t, int infoClass, Convert convert)
    {
        Ask(infoClass, [&](const Answer& a) { convert(a, &texts[t]); });
        return texts[t] != nullptr;
    }

    bool Plain(Text t, int infoClass)
    {
        return Make(t, infoClass,
                    [](const Answer& a, char** out) { xAllocPrintf(out, "%.*s", a.TextLength(), a.data ? a.data : ""); });
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

void AddressText(const Answer& answer, char** out)
{
    const TsClientAddress* a = answer.Holding<TsClientAddress>();
    if (!a) {
        xAllocPrintf(out, "");
        return;
    }
    switch (a->AddressFamily) {
    case 0: xAllocPrintf(out, "*UNSPEC*"); break;
    case 2: xAllocPrintf(out, "%d.%d.%d.%d", a->Address[2], a->Address[3], a->Address[4], a->Address[5]); break;
    case 6: xAllocPrintf(out, "*IPX*"); break;
    case 17: xAllocPrintf(out, "*NETBIOS*"); break;
    default: xAllocPrintf(out, "*UNKNOWN*"); break;
    }
}

void ProtocolText(const Answer& answer, char** out)
{
    static const char* const kProtocols[] = {"CONSOLE", "ICA", "RDP"};
    const USHORT* protocol = answer.Holding<USHORT>();
    if (!protocol) {
        xAllocPrintf(out, "");
        return;
    }
    xAllocPrintf(out, "%s", *protocol < 3 ? kProtocols[*protocol] : "*UNKNOWN*");
}

void StateText(const Answer& answer, char** out)
{
    const DWORD* state = answer.Holding<DWORD>();
    xAllocPrintf(out, "%s", state ? xStateWord(*state) : "");
}

// A FILETIME as UTC text; zero, or a value the conversion refuses, is the empty text.
void TimeText(ULONGLONG value, char** out)
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

ULONGLONG TimeAt(const BYTE* info, size_t offset)
{
    ULONGLONG value;
    memcpy(&value, info + offset, sizeof value);
    return value;
}

// The five times from one window-station query; all empty when it is
// refused or the window-station library is not there.
bool MakeTimes(Query& q)
{
    BYTE info[kWinStationInfoSize];
    memset(info, 0, sizeof info);
    ULONG returned = 0;
    if (q.bound.WinStationQueryInformationW &&
        !q.bound.WinStationQueryInformationW(q.handle, q.session, int(kWinStationInformationClass), info,
                                           kWinStationInfoSize, &returned)) {
        xRecordLastError(GetLastError(), kTimesRefused);
        memset(info, 0, sizeof info);
    }
    const ULONGLONG lastInput = TimeAt(info, kLastInputTimeOffset);
    TimeText(TimeAt(info, kCurrentTimeOffset), &q.texts[CurrentTime]);
    TimeText(TimeAt(info, kLogonTimeOffset), &q.texts[LogonTime]);
    TimeText(lastInput ? lastInput : TimeAt(info, kDisconnectTimeOffset), &q.texts[LastInputTime]);
    TimeText(TimeAt(info, kConnectTimeOffset), &q.texts[ConnectTime]);
    TimeText(TimeAt(info, kDisconnectTimeOffset), &q.texts[DisconnectTime]);
    for (int t = CurrentTime; t <= DisconnectTime; ++t)
        if (!q.texts[t])
            return false;
    return true;
}

bool MakeNumbersAndTexts(Query& q)
{
    q.numbers[0] = q.Number<DWORD>(ClientBuildNumberClass);
    q.numbers[4] = q.Number<DWORD>(ClientHardwareIdClass);
    q.numbers[5] = q.Number<USHORT>(ClientProductIdClass);
    q.Ask(ClientDisplayClass, [&](const Answer& a) {
        if (a.Holding<TsClientDisplay>())
            memcpy(&q.numbers[1], a.data, sizeof(TsClientDisplay));
    });
    return q.PlainOrUnsupported(ApplicationName, ApplicationNameClass) &&
           q.Make(ClientAddress, ClientAddressClass, AddressText) && q.Plain(ClientName, ClientNameClass) &&
           q.Plain(ClientDirectory, ClientDirectoryClass) &&
           q.Make(ClientProtocolType, ClientProtocolTypeClass, ProtocolText) &&
           q.Make(ConnectState, ConnectStateClass, StateText) && q.Plain(DomainName, DomainNameClass) &&
           q.PlainOrUnsupported(InitialProgram, InitialProgramClass) && q.Plain(OEMId, OEMIdClass) &&
           q.Plain(UserName, UserNameClass) && q.Plain(WinStationName, WinStationNameClass) &&
           q.Plain(WorkingDirectory, WorkingDirectoryClass);
}

SessionInfoRecord* Pack(const Query& q)
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

}  // namespace

extern "C" LONG QRVTS_CALL QRVTS_QuerySessionInfo(LPCSTR serverName, DWORD sessionId, SessionInfoRecord** info)
{
    ExportCall call;
    if (!info || *info)
        return QRVTS_INVALID_PARAMETER;
    const BindingTable& bound = call.Bound();
    if (!xServes(bound, bound.Entry.WTSQuerySessionInformationA) || !bound.Entry.WTSFreeMemory)
        return QRVTS_NOT_AVAILABLE;
    return xOnServer(serverName, [&](HANDLE handle) {
        Query q{bound.Entry, handle, sessionId};
        if (!MakeNumbersAndTexts(q))
            return xNoMemory(kTextFailed);
        if (!MakeTimes(q))
            return xNoMemory(kBlockFailed);
        *info = Pack(q);
        return *info ? xSucceeded() : xNoMemory(kBlockFailed);
    });
}
