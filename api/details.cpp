// The details of sessions on newer servers (Windows 7 and Server 2008 R2
// on): the level-1 session record with its lock state, times and traffic,
// the client's name, address and display, and idle time by the server's own
// clock. The lock state is corrected for the servers that report the
// platform's two flags reversed, by the server's Windows version.
#include <cstdlib>
#include <cstring>

#include "api/bound.h"
#include "api/lists.h"
#include "api/newer.h"
#include "api/server.h"
#include "api/sessionbuffer.h"
#include "api/sessionquery.h"
#include "api/textform.h"
#include "include/velquor.h"
#include "support/errors.h"

namespace {

const char kExport[] = "QRVTS_QuerySessionDetails";
const char kEnumerateFailed[] = "WTSEnumerateSessionsWX() : QRVTS_EnumerateSessionDetailsUtf8()";
const char kNoDetails[] = "WTSQuerySessionInformationWX() {WTSSessionInfoEx} : QRVTS_QuerySessionDetailsUtf8()";
const char kBlockFailed[] = "calloc() {returned NULL pointer} : QRVTS_QuerySessionDetailsUtf8()";
const DWORD kWindows7 = 0x0601;  // Windows 7 and Server 2008 R2: the lock flags reversed
const ULONGLONG kTicksPerSecond = 10000000;
const int kTexts = 11;

// One session's details, its texts made before the block is (a plain
// record: the list keeps an array of them in one allocation).
struct Details {
    SessionDetailsRecord numbers;
    char* texts[kTexts];
    bool Made() const
    {
        for (char* text : texts)
            if (!text)
                return false;
        return true;
    }
    size_t TextBytes() const
    {
        size_t n = 0;
        for (char* text : texts)
            n += strlen(text) + 1;
        return n;
    }
};

// Details of `count` sessions, their texts freed with the holder.
struct DetailsArray {
    Details* items;
    DWORD count;
    explicit DetailsArray(DWORD n) : items(static_cast<Details*>(calloc(n ? n : 1, sizeof(Details)))), count(n) {}
    ~DetailsArray()
    {
        for (DWORD i = 0; items && i < count; ++i)
            for (char* text : items[i].texts)
                free(text);
        free(items);
    }
    DetailsArray(const DetailsArray&) = delete;
    DetailsArray& operator=(const DetailsArray&) = delete;
};

// The record's text fields, in the order of `Details::texts`.
LPSTR* TextFields(SessionDetailsRecord* r)
{
    static_assert(offsetof(SessionDetailsRecord, LastInputTime) - offsetof(SessionDetailsRecord, State) ==
                      sizeof(LPSTR) * (kTexts - 1),
                  "the text fields follow one another");
    return &r->State;
}

DWORD LockState(LONG flags, DWORD version)
{
    const DWORD f = DWORD(flags);
    if (version == 0 || (f != WTS_SESSIONSTATE_LOCK && f != WTS_SESSIONSTATE_UNLOCK))
        return QRVTS_LOCK_UNKNOWN;
    const bool locked = (f == WTS_SESSIONSTATE_LOCK) != (version == kWindows7);
    return locked ? QRVTS_LOCK_LOCKED : QRVTS_LOCK_UNLOCKED;
}

ULONGLONG Ticks(const LARGE_INTEGER& t) { return ULONGLONG(t.QuadPart); }

// The server's current time less the last input (for a disconnected
// session, its disconnection), in seconds.
DWORD IdleSeconds(const WTSINFOEX_LEVEL1_W& s)
{
    const ULONGLONG now = Ticks(s.CurrentTime);
    ULONGLONG since = Ticks(s.LastInputTime);
    if (!since && s.SessionState == WTSDisconnected)
        since = Ticks(s.DisconnectTime);
    if (!now || !since)
        return QRVTS_UNKNOWN_NUMBER;
    const ULONGLONG seconds = now > since ? (now - since) / kTicksPerSecond : 0;
    return seconds < QRVTS_UNKNOWN_NUMBER ? DWORD(seconds) : QRVTS_UNKNOWN_NUMBER - 1;
}

// A fixed-size name of the record, as UTF-8.
template <size_t N>
void NameText(const WCHAR (&name)[N], char** out)
{
    size_t n = 0;
    while (n < N && name[n])
        ++n;
    xAllocUtf8(out, name, int(n));
}

// Fills `d` from the platform's answers; false when the level-1 record
// was refused or is not one (recorded).
bool Gather(SessionAsker<WCHAR>& ask, DWORD version, Details* d)
{
    bool answered = false, refused = false;
    SessionDetailsRecord& r = d->numbers;
    ask.Ask(WTSSessionInfoEx, [&](const Answer<WCHAR>& a) {
        const WTSINFOEXW* info = a.Holding<WTSINFOEXW>();
        refused = !a.data;
        if (!info || info->Level != 1)
            return;
        const WTSINFOEX_LEVEL1_W& s = info->Data.WTSInfoExLevel1;
        answered = true;
        r.SessionId = s.SessionId, r.LockState = LockState(s.SessionFlags, version), r.IdleSeconds = IdleSeconds(s);
        r.IncomingBytes = s.IncomingBytes, r.OutgoingBytes = s.OutgoingBytes;
        r.IncomingFrames = s.IncomingFrames, r.OutgoingFrames = s.OutgoingFrames;
        r.IncomingCompressedBytes = s.IncomingCompressedBytes, r.OutgoingCompressedBytes = s.OutgoingCompressedBytes;
        xAllocPrintf(&d->texts[0], "%s", xStateWord(s.SessionState));
        NameText(s.WinStationName, &d->texts[1]);
        NameText(s.UserName, &d->texts[2]);
        NameText(s.DomainName, &d->texts[3]);
        const LARGE_INTEGER* times[5] = {&s.CurrentTime, &s.LogonTime, &s.ConnectTime, &s.DisconnectTime,
                                         &s.LastInputTime};
        for (int i = 0; i < 5; ++i)
            xTimeText(Ticks(*times[i]), &d->texts[6 + i]);
    });
    if (!answered && !refused)  // an answer of another level, or cut short
        xRecordLastError(ERROR_INVALID_DATA, kNoDetails);
    if (!answered)
        return false;
    r.ServerVersion = version;
    ask.Ask(WTSClientName, [&](const Answer<WCHAR>& a) { TextForm<WCHAR>::Copy(&d->texts[4], a.data, a.TextLength()); });
    ask.Ask(WTSClientAddress,
            [&](const Answer<WCHAR>& a) { xAddressText(a.Holding<TsClientAddress>(), &d->texts[5]); });
    ask.Ask(WTSClientDisplay, [&](const Answer<WCHAR>& a) {
        if (const WTS_CLIENT_DISPLAY* display = a.Holding<WTS_CLIENT_DISPLAY>())
            r.HorizontalResolution = display->HorizontalResolution, r.VerticalResolution = display->VerticalResolution,
            r.ColorDepth = display->ColorDepth;
    });
    ask.Ask(WTSClientBuildNumber, [&](const Answer<WCHAR>& a) {
        if (const ULONG* build = a.Holding<ULONG>())
            r.ClientBuildNumber = *build;
    });
    return true;
}

// Copies the records' numbers and texts into `block`: `count` records at
// `records`, their texts from `texts` on.
void Pack(const Details* details, DWORD count, SessionDetailsRecord* records, char* texts)
{
    for (DWORD i = 0; i < count; ++i) {
        records[i] = details[i].numbers;
        LPSTR* fields = TextFields(&records[i]);
        for (int k = 0; k < kTexts; ++k) {
            const size_t n = strlen(details[i].texts[k]) + 1;
            memcpy(texts, details[i].texts[k], n);
            fields[k] = texts;
            texts += n;
        }
    }
}

bool Available(const BindingTable& bound)
{
    const TextEntryPoints<WCHAR>& wide = bound.Entry.Wide;
    return xServesForm<WCHAR>(bound, wide.QuerySessionInformation) && wide.EnumerateSessions &&
           bound.Entry.WTSFreeMemory;
}

}  // namespace

extern "C" LONG QRVTS_CALL QRVTS_QuerySessionDetailsUtf8(LPCSTR serverName, DWORD sessionId,
                                                         SessionDetailsRecord** details)
{
    ExportCall call;
    if (!details || *details)
        return QRVTS_INVALID_PARAMETER;
    const BindingTable& bound = call.Bound();
    if (!Available(bound))
        return QRVTS_NOT_AVAILABLE;
    const DWORD version = xServerVersion(bound, serverName);
    return xOnServer<WCHAR>(serverName, [&](HANDLE handle) {
        SessionAsker<WCHAR> ask{bound.Entry, handle, sessionId, kExport};
        DetailsArray one(1);
        if (!one.items)
            return xNoMemory(kBlockFailed);
        if (!Gather(ask, version, one.items))
            return ServerOutcome{QRVTS_SESSION_INFO_FAILED, 0, nullptr};  // recorded as it was refused
        if (!one.items->Made())
            return xNoMemory(kBlockFailed);
        SessionDetailsRecord* block =
            static_cast<SessionDetailsRecord*>(calloc(sizeof(SessionDetailsRecord) + one.items->TextBytes(), 1));
        if (!block)
            return xNoMemory(kBlockFailed);
        Pack(one.items, 1, block, reinterpret_cast<char*>(block + 1));
        *details = block;
        return xSucceeded();
    });
}

extern "C" LONG QRVTS_CALL QRVTS_EnumerateSessionDetailsUtf8(LPCSTR serverName, SessionDetailsList** sessions)
{
    ExportCall call;
    if (!sessions || *sessions)
        return QRVTS_INVALID_PARAMETER;
    const BindingTable& bound = call.Bound();
    if (!Available(bound))
        return QRVTS_NOT_AVAILABLE;
    const DWORD version = xServerVersion(bound, serverName);
    return xOnServer<WCHAR>(serverName, [&](HANDLE handle) {
        SessionBuffer<WCHAR> records{bound.Entry};
        if (!records.Enumerate(handle, FALSE))
            return xRefused(kEnumerateFailed, QRVTS_ENUM_SESSIONS_FAILED);
        DetailsArray all(records.count);
        if (!all.items)
            return xNoMemory(kBlockFailed);
        size_t bytes = sizeof(SessionDetailsList) + sizeof(SessionDetailsRecord) * records.count;
        for (DWORD i = 0; i < records.count; ++i) {
            SessionAsker<WCHAR> ask{bound.Entry, handle, records.basic[i].SessionId, kExport};
            if (!Gather(ask, version, &all.items[i]))
                return ServerOutcome{QRVTS_SESSION_INFO_FAILED, 0, nullptr};  // recorded as it was refused
            if (!all.items[i].Made())
                return xNoMemory(kBlockFailed);
            bytes += all.items[i].TextBytes();
        }
        SessionDetailsList* block = static_cast<SessionDetailsList*>(calloc(bytes, 1));
        if (!block)
            return xNoMemory(kBlockFailed);
        block->Count = records.count;
        block->Sessions = reinterpret_cast<SessionDetailsRecord*>(block + 1);
        Pack(all.items, records.count, block->Sessions, reinterpret_cast<char*>(block->Sessions + records.count));
        *sessions = block;
        return xSucceeded();
    });
}
