/* velquor.exe: what newer servers tell and do. The lock state, exact idle
 * time and traffic of sessions (Windows 7 and Server 2008 R2 on), what each
 * process uses, and the details columns the reports add; a server that
 * cannot tell leaves them empty, and says which Windows it needs. */
#include <stdlib.h>
#include <string.h>

#include "cli.h"

#define ERROR_INVALID_FUNCTION_CODE 1

/* Whether a failure of an export on newer servers means the server's
 * Windows is older than the export needs: the entry point is missing, or
 * the server does not know what it was asked (an older server answers a
 * call it lacks with RPC_S_PROCNUM_OUT_OF_RANGE). */
int NeedsNewerWindows(LONG error, DWORD code)
{
    return error == QRVTS_NOT_AVAILABLE || code == ERROR_INVALID_FUNCTION_CODE || code == ERROR_NOT_SUPPORTED ||
           code == ERROR_INVALID_PARAMETER || code == ERROR_CALL_NOT_IMPLEMENTED || code == ERROR_PROC_NOT_FOUND ||
           code == RPC_S_PROCNUM_OUT_OF_RANGE;
}

/* A server that cannot give what a report adds, said once on standard error. */
static void CannotTell(const char* server, const char* what, LONG error, DWORD code)
{
    char text[600];
    ErrorText(error, text, sizeof text);
    ErrorLine("velquor: %s: no %s: %s (%s; Windows error %lu)\n", server[0] ? server : "this computer", what,
              NeedsNewerWindows(error, code) ? "needs Windows 7 or Server 2008 R2" : "the server refused", text,
              code);
}

static char* LockWord(DWORD state)
{
    return Copy(state == QRVTS_LOCK_LOCKED ? "yes" : state == QRVTS_LOCK_UNLOCKED ? "no" : "");
}

static char* Known(DWORD value)
{
    return value == QRVTS_UNKNOWN_NUMBER ? Copy("") : Number(value);
}

/* The details columns from `r` (null: empty) at `at`: locked, then the
 * traffic counters, `counters` of them (4: bytes and frames; 6: and the
 * compressed bytes). */
void DetailValues(Row* row, int at, const SessionDetailsRecord* r, int counters)
{
    int k;
    const DWORD values[6] = {r ? r->IncomingBytes : 0,  r ? r->OutgoingBytes : 0, r ? r->IncomingFrames : 0,
                             r ? r->OutgoingFrames : 0, r ? r->IncomingCompressedBytes : 0,
                             r ? r->OutgoingCompressedBytes : 0};
    free(row->values[at]);
    row->values[at] = r ? LockWord(r->LockState) : Copy("");
    for (k = 0; k < counters; ++k) {
        free(row->values[at + 1 + k]);
        row->values[at + 1 + k] = r ? Number(values[k]) : Copy("");
    }
}

/* The idle time by the server's own clock, where it has told it. */
static void ExactIdle(Row* row, int column, const SessionDetailsRecord* r)
{
    if (!r || r->IdleSeconds == QRVTS_UNKNOWN_NUMBER)
        return;
    free(row->values[column]);
    row->values[column] = Known(r->IdleSeconds);
}

void AddUserDetails(const char* server, Answer* a, int sessionColumn, int idleColumn, int firstColumn)
{
    SessionDetailsList* list = NULL;
    LONG error = QRVTS_EnumerateSessionDetailsUtf8(server, &list);
    int r;
    if (error != QRVTS_OK)
        CannotTell(server, "lock state or traffic", error, QRVTS_GetLastErrorCode());
    for (r = 0; r < a->count; ++r) {
        const SessionDetailsRecord* found = NULL;
        DWORD i, id = 0;
        ParseDecimal(a->rows[r].values[sessionColumn], 0xFFFFFFFFul, &id);
        for (i = 0; list && i < list->Count && !found; ++i)
            if (list->Sessions[i].SessionId == id)
                found = &list->Sessions[i];
        DetailValues(&a->rows[r], firstColumn, found, 4);
        ExactIdle(&a->rows[r], idleColumn, found);
    }
    QRVTS_FreeBuffer(list);
}

void AddSessionDetails(const char* server, DWORD session, Row* row, int idleColumn, int firstColumn)
{
    SessionDetailsRecord* r = NULL;
    LONG error = QRVTS_QuerySessionDetailsUtf8(server, session, &r);
    if (error != QRVTS_OK)
        CannotTell(server, "lock state or traffic", error, QRVTS_GetLastErrorCode());
    DetailValues(row, firstColumn, r, 6);
    ExactIdle(row, idleColumn, r);
    QRVTS_FreeBuffer(r);
}

/* ---- What the processes use ---- */

static ULONGLONG MemoryOf(const ProcessResourceRecord* p) { return p->WorkingSetSize; }
static ULONGLONG CpuOf(const ProcessResourceRecord* p) { return p->UserTime + p->KernelTime; }

/* Heaviest first by `key`; equal ones by process id. */
static int HeavierBy(const void* a, const void* b, ULONGLONG (*key)(const ProcessResourceRecord*))
{
    const ProcessResourceRecord *p = *(const ProcessResourceRecord* const*)a, *q = *(const ProcessResourceRecord* const*)b;
    ULONGLONG x = key(p), y = key(q);
    return x != y ? (x < y ? 1 : -1) : (p->ProcessId > q->ProcessId) - (p->ProcessId < q->ProcessId);
}

static int HeavierInMemory(const void* a, const void* b) { return HeavierBy(a, b, MemoryOf); }
static int HeavierInCpu(const void* a, const void* b) { return HeavierBy(a, b, CpuOf); }

static char* Seconds(ULONGLONG ticks)
{
    char text[32];
    sprintf(text, "%.1f", (double)ticks / 10000000.0);
    return Copy(text);
}

static void ResourceRow(Answer* a, const char* server, const ProcessResourceRecord* p)
{
    Row* row = AddRow(a);
    int k = 0;
    row->values[k++] = Copy(server);
    row->values[k++] = Number(p->ProcessId);
    row->values[k++] = Copy(p->ProcessName);
    row->values[k++] = Number(p->SessionId);
    row->values[k++] = Copy(p->UserSid);
    row->values[k++] = Number(p->WorkingSetSize);
    row->values[k++] = Number(p->PeakWorkingSetSize);
    row->values[k++] = Number(p->PagefileUsage);
    row->values[k++] = Number(p->ThreadCount);
    row->values[k++] = Number(p->HandleCount);
    row->values[k++] = Seconds(p->UserTime + p->KernelTime);
}

LONG AddProcessResources(const Options* o, const char* server, Answer* a)
{
    ProcessResourceList* list = NULL;
    LONG error = QRVTS_EnumerateProcessResourcesUtf8(server, o->sessionGiven ? o->session : ALL_SESSIONS, &list);
    const ProcessResourceRecord** order;
    DWORD i, shown;
    if (error != QRVTS_OK)
        return error;
    order = (const ProcessResourceRecord**)Allocate(sizeof(*order) * (list->Count + 1));
    for (i = 0; i < list->Count; ++i)
        order[i] = &list->Processes[i];
    if (o->sort != SORT_NONE)
        qsort(order, list->Count, sizeof(*order), o->sort == SORT_CPU ? HeavierInCpu : HeavierInMemory);
    shown = o->topGiven && o->top < list->Count ? o->top : list->Count;
    for (i = 0; i < shown; ++i)
        ResourceRow(a, server, order[i]);
    free(order);
    QRVTS_FreeBuffer(list);
    return QRVTS_OK;
}

/* ---- Connect and remote control ---- */

/* A failure of an export on newer systems, as the row's error: which
 * Windows it needs, where it is older. */
static LONG Newer(LONG error, LONG needs)
{
    return error != QRVTS_OK && NeedsNewerWindows(error, QRVTS_GetLastErrorCode()) ? needs : error;
}

LONG ActConnect(const Options* o, const char* server, DWORD id, DWORD* result)
{
    (void)server;
    *result = 1;
    return Newer(QRVTS_ConnectSessionUtf8(id, o->second, o->password ? o->password : "", o->wait), NEEDS_VISTA_SP1);
}

/* The key that ends a remote control: Ctrl and * on the numeric keypad. */
#define SHADOW_KEY VK_MULTIPLY
#define SHADOW_MODIFIERS REMOTECONTROL_KBDCTRL_HOTKEY

LONG ActShadow(const Options* o, const char* server, DWORD id, DWORD* result)
{
    *result = 1;
    if (o->stop)
        return Newer(QRVTS_StopRemoteControl(id), NEEDS_VISTA_SP1);
    return Newer(QRVTS_StartRemoteControlUtf8(server, id, SHADOW_KEY, SHADOW_MODIFIERS), NEEDS_VISTA_SP1);
}

/* ---- The servers of a domain ---- */

LONG RunServers(const Command* c, const Options* o, const char* server, Answer* a)
{
    ServerListRecord* r = NULL;
    const char* domain = o->argCount ? o->args[0] : "";
    LONG error = QRVTS_EnumerateServersUtf8(domain, &r);
    (void)c, (void)server;
    if (error == QRVTS_OK) {
        const char* names = r->ServerNames;
        DWORD i;
        for (i = 0; i < r->Count; ++i) {
            Row* row = AddRow(a);
            row->values[0] = Copy(domain);
            row->values[1] = NextItem(&names);
        }
    }
    QRVTS_FreeBuffer(r);
    return error;
}

/* ---- Logons: status, enable, disable, drain ---- */

static const char* const kLogonWords[] = {"enabled", "disabled", "drain", "drain-until-restart"};
const char* const kLogonCommands[] = {"status", "enable", "disable", "drain", NULL};

/* The mode a logons command sets: its word's place, drain until restart
 * with --until-restart. */
static DWORD WantedMode(const Options* o)
{
    const char* word = o->args[0];
    if (strcmp(word, "enable") == 0)
        return QRVTS_LOGONS_ENABLED;
    if (strcmp(word, "disable") == 0)
        return QRVTS_LOGONS_DISABLED;
    return o->untilRestart ? QRVTS_LOGONS_DRAIN_UNTIL_RESTART : QRVTS_LOGONS_DRAIN;
}

static char* ModeWord(DWORD mode)
{
    return Copy(mode <= QRVTS_LOGONS_DRAIN_UNTIL_RESTART ? kLogonWords[mode] : "");
}

/* The mode is read right before it is set: the row says what it was. */
LONG RunLogons(const Command* c, const Options* o, const char* server, Answer* a)
{
    DWORD before = 0, result = 1;
    const int status = strcmp(o->args[0], "status") == 0;
    LONG error = QRVTS_GetLogonModeUtf8(server, &before);
    Row* row;
    (void)c;
    if (error != QRVTS_OK)
        return error;
    if (!status && !o->dryRun && MayStart(a)) {
        error = QRVTS_SetLogonModeUtf8(server, WantedMode(o));
        if (error != QRVTS_OK)
            return error;
    }
    row = AddRow(a);
    row->values[0] = Copy(server);
    row->values[1] = ModeWord(before);
    row->values[2] = status ? Copy("") : ModeWord(WantedMode(o));
    row->values[3] = status || o->dryRun ? Copy("") : Number(result);
    ActionRow(a, row);
    return QRVTS_OK;
}
