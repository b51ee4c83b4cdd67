// The processes of a terminal server as four TAB-delimited lists, and the
// text form of a SID.
#include <cstdlib>
#include <cstring>

#include "api/lists.h"
#include "api/server.h"
#include "api/bound.h"
#include "api/textform.h"
#include "include/velquor.h"
#include "support/errors.h"

namespace {

const char kEnumerateFailed[] = "WTSEnumerateProcesses@X() : QRVTS_EnumerateProcesses$()";
const char kListFailed[] = "xAllocPrintf() {returned NULL pointer} : QRVTS_EnumerateProcesses$()";
const char kBlockFailed[] = "calloc() {returned NULL pointer} : QRVTS_EnumerateProcesses$()";
const char kSidRejected[] = "IsValidSid() : QRVTS_ConvertSIDToText()";
const DWORD kAllSessions = 0xFFFFFFFF;
const DWORD kAnySession = WTS_ANY_SESSION;  // the level-1 service's "all sessions"
const int kSidWorkArea = 256;

template <class Char>
struct ProcessBuffer {
    const BoundEntryPoints& bound;
    TsProcessInfoOf<Char>* basic = nullptr;
    TsProcessInfoExOf<Char>* level1 = nullptr;
    DWORD count = 0;

    void Release()
    {
        const auto freeEx = xEntriesOf<Char>(bound).FreeMemoryEx;
        if (level1)
            freeEx(WTSTypeProcessInfoLevel1, level1, count);
        else if (basic && freeEx)
            freeEx(WTSTypeProcessInfoLevel0, basic, count);
        else if (basic)
            bound.WTSFreeMemory(basic);
        basic = nullptr;
        level1 = nullptr;
    }
    ~ProcessBuffer() { Release(); }
    // The fields of entry `i`, whichever record type holds them.
    void Entry(DWORD i, DWORD* session, DWORD* process, Char** name, PSID* sid) const
    {
        if (level1) {
            *session = level1[i].SessionId, *process = level1[i].ProcessId;
            *name = level1[i].pProcessName, *sid = level1[i].pUserSid;
        } else {
            *session = basic[i].SessionId, *process = basic[i].ProcessId;
            *name = basic[i].pProcessName, *sid = basic[i].pUserSid;
        }
    }
};

template <class Char>
BOOL Enumerate(HANDLE handle, DWORD filter, BOOL extended, ProcessBuffer<Char>* buffer)
{
    const TextEntryPoints<Char>& entries = xEntriesOf<Char>(buffer->bound);
    if (extended && entries.EnumerateProcessesEx) {
        DWORD level = 1;
        return entries.EnumerateProcessesEx(handle, &level, filter == kAllSessions ? kAnySession : filter,
                                            reinterpret_cast<Char**>(&buffer->level1), &buffer->count);
    }
    return entries.EnumerateProcesses(handle, 0, 1, &buffer->basic, &buffer->count);
}

struct ProcessLists {
    ListText processIds{}, names{}, sessionIds{}, sids{};
    ListText* all[4] = {&processIds, &names, &sessionIds, &sids};
    DWORD listed = 0;
    ~ProcessLists() { xReleaseLists(all, 4); }
    // A SID the platform's check refused is recorded once, after the walk,
    // with the last refusal: the record as if every one had been written.
    bool sidRejected = false;
    DWORD sidError = 0;

    template <class Char>
    bool Append(DWORD process, const Char* name, DWORD session, PSID sid)
    {
        char text[kSidWorkArea];
        bool rejected = false;
        DWORD error = 0;
        if (!xSidToText(sid, text, sizeof text, &error, &rejected))
            text[0] = '\0';
        if (rejected) {
            sidRejected = true;
            sidError = error;
        }
        return xListAppendNumber(&processIds, process) && TextForm<Char>::AppendToList(&names, name) &&
               xListAppendNumber(&sessionIds, session) && xListAppendText(&sids, text);
    }
    void RecordSidRejection()
    {
        if (sidRejected)
            xRecordLastError(sidError, kSidRejected);
        sidRejected = false;
    }
};

// Room for a typical item of each list, taken once for the processes that
// will be listed.
bool ReserveLists(ProcessLists* lists, DWORD count)
{
    const size_t typical[4] = {6, 16, 3, 48};
    for (int i = 0; i < 4; ++i)
        if (count > size_t(-1) / typical[i] || !xListReserve(lists->all[i], typical[i] * count))
            return false;
    return true;
}

// Calls `use` with the fields of every entry that is listed: a real
// process in the asked session. Stops at the first false.
template <class Char, class Use>
bool ForEachListed(const ProcessBuffer<Char>& buffer, DWORD filter, Use use)
{
    for (DWORD i = 0; i < buffer.count; ++i) {
        DWORD session, process;
        Char* name;
        PSID sid;
        buffer.Entry(i, &session, &process, &name, &sid);
        if (process != 0 && (filter == kAllSessions || filter == session) && !use(process, name, session, sid))
            return false;
    }
    return true;
}

template <class Char>
bool BuildLists(const ProcessBuffer<Char>& buffer, DWORD filter, ProcessLists* lists)
{
    ForEachListed(buffer, filter, [&](DWORD, Char*, DWORD, PSID) {
        ++lists->listed;
        return true;
    });
    if (!ReserveLists(lists, lists->listed) ||
        !ForEachListed(buffer, filter, [&](DWORD process, Char* name, DWORD session, PSID sid) {
            return lists->Append(process, name, session, sid);
        }))
        return false;
    return xListFinish(&lists->processIds) && xListFinish(&lists->names) && xListFinish(&lists->sessionIds) &&
           xListFinish(&lists->sids);
}

}  // namespace

BOOL xSidToText(PSID sid, LPSTR buffer, DWORD size, DWORD* rejectedError, bool* wasRejected)
{
    *wasRejected = false;
    if (size == 0)
        return FALSE;
    buffer[0] = '\0';
    if (!IsValidSid(sid)) {
        *rejectedError = GetLastError();
        *wasRejected = true;
        return FALSE;
    }
    const SID_IDENTIFIER_AUTHORITY* authority = GetSidIdentifierAuthority(sid);
    const DWORD n = *GetSidSubAuthorityCount(sid);
    if (28 + 12 * n >= size)
        return FALSE;
    // The longest text, 18 + 11 * 15 characters, fits the work area.
    char work[kSidWorkArea] = "S-1-";
    char* end = work + 4;
    const BYTE* v = authority->Value;
    if (v[0] == 0 && v[1] == 0)
        end = xWriteDecimal(end, (DWORD(v[2]) << 24) | (DWORD(v[3]) << 16) | (DWORD(v[4]) << 8) | DWORD(v[5]));
    else
        end += wsprintfA(end, "0x%02hx%02hx%02hx%02hx%02hx%02hx", USHORT(v[0]), USHORT(v[1]), USHORT(v[2]),
                         USHORT(v[3]), USHORT(v[4]), USHORT(v[5]));
    for (DWORD i = 0; i < n; ++i) {
        *end++ = '-';
        end = xWriteDecimal(end, *GetSidSubAuthority(sid, i));
    }
    lstrcpynA(buffer, work, int(size));
    return TRUE;
}

extern "C" BOOL QRVTS_CALL QRVTS_ConvertSIDToText(PSID sid, LPSTR buffer, DWORD size)
{
    xClearThreadLastErrorCode();
    DWORD error = 0;
    bool rejected = false;
    const BOOL made = xSidToText(sid, buffer, size, &error, &rejected);
    if (rejected)
        xRecordLastError(error, kSidRejected);
    return made;
}

namespace {

template <class Char>
LONG EnumerateProcesses(LPCSTR serverName, DWORD sessionFilter, BOOL extended, ProcessListRecord** processes)
{
    ExportCall call;
    if (!processes || *processes)
        return QRVTS_INVALID_PARAMETER;
    const BindingTable& bound = call.Bound();
    if (!xServesForm<Char>(bound, xEntriesOf<Char>(bound.Entry).EnumerateProcesses) || !bound.Entry.WTSFreeMemory)
        return QRVTS_NOT_AVAILABLE;
    // The places live beyond the body: its failure is recorded after it.
    const Place<Char> enumerateFailed(kEnumerateFailed), listFailed(kListFailed), blockFailed(kBlockFailed);
    return xOnServer<Char>(serverName, [&](HANDLE handle) {
        ProcessBuffer<Char> buffer{bound.Entry};
        if (!Enumerate(handle, sessionFilter, extended, &buffer))
            return xRefused(enumerateFailed, QRVTS_ENUM_PROCESSES_FAILED);
        ProcessLists lists;
        if (!BuildLists(buffer, sessionFilter, &lists))
            return xNoMemory(listFailed);
        lists.RecordSidRejection();
        ProcessListRecord* block =
            static_cast<ProcessListRecord*>(calloc(sizeof(ProcessListRecord) + xListsBytes(lists.all, 4), 1));
        if (!block)
            return xNoMemory(blockFailed);
        block->Count = lists.listed;
        LPSTR* const pointers[4] = {&block->ProcessIds, &block->ProcessNames, &block->SessionIds, &block->UserSids};
        xPackLists(reinterpret_cast<char*>(block), sizeof(ProcessListRecord), lists.all, 4, pointers);
        *processes = block;
        return xSucceeded();
    });
}

}  // namespace

extern "C" LONG QRVTS_CALL QRVTS_EnumerateProcesses(LPCSTR serverName, DWORD sessionFilter, BOOL extended,
                                                    ProcessListRecord** processes)
{
    return EnumerateProcesses<char>(serverName, sessionFilter, extended, processes);
}

extern "C" LONG QRVTS_CALL QRVTS_EnumerateProcessesUtf8(LPCSTR serverName, DWORD sessionFilter, BOOL extended,
                                                        ProcessListRecord** processes)
{
    return EnumerateProcesses<WCHAR>(serverName, sessionFilter, extended, processes);
}
