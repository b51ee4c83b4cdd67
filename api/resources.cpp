// What the processes of a server use (Windows 7 and Server 2008 R2 on):
// the level-1 process list, every field kept, in one block of pinned
// records followed by their names and SID texts.
#include <cstdlib>
#include <cstring>

#include "api/bound.h"
#include "api/lists.h"
#include "api/newer.h"
#include "api/server.h"
#include "include/velquor.h"
#include "support/errors.h"
#include "support/format.h"
#include "support/utf8.h"

namespace {

const char kExport[] = "QRVTS_EnumerateProcessResourcesUtf8";
const char kEnumerateFailed[] = "WTSEnumerateProcessesExWX() : QRVTS_EnumerateProcessResourcesUtf8()";
const char kBlockFailed[] = "calloc() {returned NULL pointer} : QRVTS_EnumerateProcessResourcesUtf8()";
const DWORD kAllSessions = 0xFFFFFFFF;
const int kSidText = 256;

// The platform's level-1 list, given back with the holder.
struct Level1 {
    const TextEntryPoints<WCHAR>& entries;
    WTS_PROCESS_INFO_EXW* records = nullptr;
    DWORD count = 0;
    ~Level1()
    {
        if (records)
            entries.FreeMemoryEx(WTSTypeProcessInfoLevel1, records, count);
    }
};

// The texts of every listed process: name and SID, one after another.
struct Texts {
    char** items = nullptr;
    DWORD count = 0;
    size_t bytes = 0;
    ~Texts()
    {
        for (DWORD i = 0; items && i < count; ++i)
            free(items[i]);
        free(items);
    }
};

bool Listed(const WTS_PROCESS_INFO_EXW& p, DWORD filter)
{
    return p.ProcessId != 0 && (filter == kAllSessions || p.SessionId == filter);
}

bool MakeTexts(const Level1& list, DWORD filter, DWORD listed, Texts* texts)
{
    texts->items = static_cast<char**>(calloc(2 * size_t(listed) + 1, sizeof(char*)));
    if (!texts->items)
        return false;
    for (DWORD i = 0; i < list.count; ++i) {
        const WTS_PROCESS_INFO_EXW& p = list.records[i];
        if (!Listed(p, filter))
            continue;
        char sid[kSidText];
        DWORD error = 0;
        bool rejected = false;
        if (!p.pUserSid || !xSidToText(p.pUserSid, sid, sizeof sid, &error, &rejected))
            sid[0] = '\0';
        char** name = &texts->items[texts->count++];
        char** owner = &texts->items[texts->count++];
        xAllocPrintf(owner, "%s", sid);
        if (!xAllocUtf8(name, p.pProcessName, -1) || !*owner)
            return false;
        texts->bytes += strlen(*name) + strlen(*owner) + 2;
    }
    return true;
}

void Pack(const Level1& list, DWORD filter, const Texts& texts, ProcessResourceList* block)
{
    ProcessResourceRecord* r = block->Processes;
    char* at = reinterpret_cast<char*>(r + block->Count);
    DWORD k = 0;
    for (DWORD i = 0; i < list.count; ++i) {
        const WTS_PROCESS_INFO_EXW& p = list.records[i];
        if (!Listed(p, filter))
            continue;
        r->ProcessId = p.ProcessId, r->SessionId = p.SessionId;
        r->ThreadCount = p.NumberOfThreads, r->HandleCount = p.HandleCount;
        r->PagefileUsage = p.PagefileUsage, r->PeakPagefileUsage = p.PeakPagefileUsage;
        r->WorkingSetSize = p.WorkingSetSize, r->PeakWorkingSetSize = p.PeakWorkingSetSize;
        r->UserTime = ULONGLONG(p.UserTime.QuadPart), r->KernelTime = ULONGLONG(p.KernelTime.QuadPart);
        LPSTR* fields[2] = {&r->ProcessName, &r->UserSid};
        for (LPSTR* field : fields) {
            const size_t n = strlen(texts.items[k]) + 1;
            memcpy(at, texts.items[k++], n);
            *field = at;
            at += n;
        }
        ++r;
    }
}

}  // namespace

extern "C" LONG QRVTS_CALL QRVTS_EnumerateProcessResourcesUtf8(LPCSTR serverName, DWORD sessionFilter,
                                                               ProcessResourceList** processes)
{
    ExportCall call;
    if (!processes || *processes)
        return QRVTS_INVALID_PARAMETER;
    const BindingTable& bound = call.Bound();
    const TextEntryPoints<WCHAR>& wide = bound.Entry.Wide;
    if (!xServesForm<WCHAR>(bound, wide.OpenServer))
        return QRVTS_NOT_AVAILABLE;
    if (!wide.EnumerateProcessesEx || !wide.FreeMemoryEx)
        return xEntryMissing("WTSEnumerateProcessesExW", "WTSAPI32.DLL", kExport);
    return xOnServer<WCHAR>(serverName, [&](HANDLE handle) {
        Level1 list{wide};
        DWORD level = 1;
        if (!wide.EnumerateProcessesEx(handle, &level, sessionFilter == kAllSessions ? WTS_ANY_SESSION : sessionFilter,
                                       reinterpret_cast<LPWSTR*>(&list.records), &list.count))
            return xRefused(kEnumerateFailed, QRVTS_ENUM_PROCESSES_FAILED);
        DWORD listed = 0;
        for (DWORD i = 0; i < list.count; ++i)
            listed += Listed(list.records[i], sessionFilter);
        Texts texts;
        if (!MakeTexts(list, sessionFilter, listed, &texts))
            return xNoMemory(kBlockFailed);
        ProcessResourceList* block = static_cast<ProcessResourceList*>(
            calloc(sizeof(ProcessResourceList) + sizeof(ProcessResourceRecord) * listed + texts.bytes, 1));
        if (!block)
            return xNoMemory(kBlockFailed);
        block->Count = listed;
        block->Processes = reinterpret_cast<ProcessResourceRecord*>(block + 1);
        Pack(list, sessionFilter, texts, block);
        *processes = block;
        return xSucceeded();
    });
}
