// The sessions of a terminal server as three TAB-delimited lists.
#include <cstdlib>
#include <cstring>

#include "api/lists.h"
#include "api/sessionbuffer.h"
#include "api/server.h"
#include "api/bound.h"
#include "api/textform.h"
#include "include/velquor.h"
#include "support/errors.h"

namespace {

const char kEnumerateFailed[] = "WTSEnumerateSessions@X() : QRVTS_EnumerateSessions$()";
const char kListFailed[] = "xAllocPrintf() {returned NULL pointer} : QRVTS_EnumerateSessions$()";
const char kBlockFailed[] = "calloc() {returned NULL pointer} : QRVTS_EnumerateSessions$()";

const char* const kStateWords[] = {"ACTIVE", "CONNECTED", "CONNECTQUERY", "SHADOW", "DISCONNECTED",
                                   "IDLE",   "LISTEN",    "RESET",        "DOWN",   "INIT"};

struct SessionLists {
    ListText ids{}, names{}, states{};
    ListText* all[3] = {&ids, &names, &states};
    ~SessionLists() { xReleaseLists(all, 3); }

    template <class Char>
    bool Append(DWORD id, const Char* name, DWORD state)
    {
        return xListAppendNumber(&ids, id) && TextForm<Char>::AppendToList(&names, name) &&
               xListAppendText(&states, xStateWord(state));
    }
};

template <class Char>
bool BuildLists(const SessionBuffer<Char>& buffer, SessionLists* lists)
{
    for (DWORD i = 0; i < buffer.count; ++i) {
        const bool ok = buffer.level1
                            ? lists->Append(buffer.level1[i].SessionId, buffer.level1[i].pSessionName,
                                            buffer.level1[i].State)
                            : lists->Append(buffer.basic[i].SessionId, buffer.basic[i].pWinStationName,
                                            buffer.basic[i].State);
        if (!ok)
            return false;
    }
    return xListFinish(&lists->ids) && xListFinish(&lists->names) && xListFinish(&lists->states);
}

template <class Char>
LONG EnumerateSessions(LPCSTR serverName, BOOL extended, SessionListRecord** sessions)
{
    ExportCall call;
    if (!sessions || *sessions)
        return QRVTS_INVALID_PARAMETER;
    const BindingTable& bound = call.Bound();
    if (!xServesForm<Char>(bound, xEntriesOf<Char>(bound.Entry).EnumerateSessions) || !bound.Entry.WTSFreeMemory)
        return QRVTS_NOT_AVAILABLE;
    // The places live beyond the body: its failure is recorded after it.
    const Place<Char> enumerateFailed(kEnumerateFailed), listFailed(kListFailed), blockFailed(kBlockFailed);
    return xOnServer<Char>(serverName, [&](HANDLE handle) {
        SessionBuffer<Char> buffer{bound.Entry};
        if (!buffer.Enumerate(handle, extended))
            return xRefused(enumerateFailed, QRVTS_ENUM_SESSIONS_FAILED);
        SessionLists lists;
        if (!BuildLists(buffer, &lists))
            return xNoMemory(listFailed);
        SessionListRecord* block =
            static_cast<SessionListRecord*>(calloc(sizeof(SessionListRecord) + xListsBytes(lists.all, 3), 1));
        if (!block)
            return xNoMemory(blockFailed);
        block->Count = buffer.count;
        LPSTR* const pointers[3] = {&block->SessionIds, &block->SessionNames, &block->SessionStates};
        xPackLists(reinterpret_cast<char*>(block), sizeof(SessionListRecord), lists.all, 3, pointers);
        *sessions = block;
        return xSucceeded();
    });
}

}  // namespace

const char* xStateWord(DWORD state)
{
    return state < sizeof kStateWords / sizeof kStateWords[0] ? kStateWords[state] : "*UNKNOWN*";
}

extern "C" LONG QRVTS_CALL QRVTS_EnumerateSessions(LPCSTR serverName, BOOL extended, SessionListRecord** sessions)
{
    return EnumerateSessions<char>(serverName, extended, sessions);
}

extern "C" LONG QRVTS_CALL QRVTS_EnumerateSessionsUtf8(LPCSTR serverName, BOOL extended,
                                                       SessionListRecord** sessions)
{
    return EnumerateSessions<WCHAR>(serverName, extended, sessions);
}
