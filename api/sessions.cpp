// The sessions of a terminal server as three TAB-delimited lists.
#include <cstdlib>
#include <cstring>

#include "api/lists.h"
#include "api/server.h"
#include "api/bound.h"
#include "include/velquor.h"
#include "support/errors.h"

namespace {

const char kEnumerateFailed[] = "WTSEnumerateSessionsAX() : QRVTS_EnumerateSessions()";
const char kListFailed[] = "xAllocPrintf() {returned NULL pointer} : QRVTS_EnumerateSessions()";
const char kBlockFailed[] = "calloc() {returned NULL pointer} : QRVTS_EnumerateSessions()";

const char* const kStateWords[] = {"ACTIVE", "CONNECTED", "CONNECTQUERY", "SHADOW", "DISCONNECTED",
                                   "IDLE",   "LISTEN",    "RESET",        "DOWN",   "INIT"};

// The platform's buffer: basic or level-1 records.
struct SessionBuffer {
    const BoundEntryPoints& bound;
    TsSessionInfo* basic = nullptr;
    TsSessionInfo1* level1 = nullptr;
    DWORD count = 0;

    void Release()
    {
        if (level1)
            bound.WTSFreeMemoryExA(kTypeSessionInfoLevel1, level1, count);
        else if (basic)
            bound.WTSFreeMemory(basic);
        basic = nullptr;
        level1 = nullptr;
    }
    ~SessionBuffer() { Release(); }
};

BOOL Enumerate(HANDLE handle, BOOL extended, SessionBuffer* buffer)
{
    const BoundEntryPoints& bound = buffer->bound;
    if (extended && bound.WTSEnumerateSessionsExA) {
        DWORD level = 1;
        return bound.WTSEnumerateSessionsExA(handle, &level, 0, &buffer->level1, &buffer->count);
    }
    return bound.WTSEnumerateSessionsA(handle, 0, 1, &buffer->basic, &buffer->count);
}

struct SessionLists {
    ListText ids{}, names{}, states{};
    ListText* all[3] = {&ids, &names, &states};
    ~SessionLists() { xReleaseLists(all, 3); }

    bool Append(DWORD id, const char* name, DWORD state)
    {
        return xListAppendNumber(&ids, id) && xListAppendText(&names, name) &&
               xListAppendText(&states, xStateWord(state));
    }
};

bool BuildLists(const SessionBuffer& buffer, SessionLists* lists)
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

}  // namespace

const char* xStateWord(DWORD state)
{
    return state < sizeof kStateWords / sizeof kStateWords[0] ? kStateWords[state] : "*UNKNOWN*";
}

extern "C" LONG QRVTS_CALL QRVTS_EnumerateSessions(LPCSTR serverName, BOOL extended, SessionListRecord** sessions)
{
    ExportCall call;
    if (!sessions || *sessions)
        return QRVTS_INVALID_PARAMETER;
    const BindingTable& bound = call.Bound();
    if (!xServes(bound, bound.Entry.WTSEnumerateSessionsA) || !bound.Entry.WTSFreeMemory)
        return QRVTS_NOT_AVAILABLE;
    return xOnServer(serverName, [&](HANDLE handle) {
        SessionBuffer buffer{bound.Entry};
        if (!Enumerate(handle, extended, &buffer))
            return xRefused(kEnumerateFailed, QRVTS_ENUM_SESSIONS_FAILED);
        SessionLists lists;
        if (!BuildLists(buffer, &lists))
            return xNoMemory(kListFailed);
        SessionListRecord* block =
            static_cast<SessionListRecord*>(calloc(sizeof(SessionListRecord) + xListsBytes(lists.all, 3), 1));
        if (!block)
            return xNoMemory(kBlockFailed);
        block->Count = buffer.count;
        LPSTR* const pointers[3] = {&block->SessionIds, &block->SessionNames, &block->SessionStates};
        xPackLists(reinterpret_cast<char*>(block), sizeof(SessionListRecord), lists.all, 3, pointers);
        *sessions = block;
        return xSucceeded();
    });
}
