/* velquor.exe: the commands. What each asks of a server (through the C
 * API's UTF-8 exports) and the rows it makes of the answer; the actions on
 * one id; the table of commands, with their usage and columns. */
#include <stdlib.h>
#include <string.h>

#include "cli.h"

/* ---- Commands ---- */

#define COLUMN_COUNT(columns) ((int)(sizeof columns / sizeof columns[0]) - 1)

static const Column kSessionColumns[] = {{"server", 0}, {"session", 1}, {"name", 0}, {"state", 0}, {NULL, 0}};
static const Column kProcessColumns[] = {
    {"server", 0},      {"pid", 1},     {"name", 0},    {"session", 1},     {"sid", 0},         {"working_set", 1},
    {"peak_working_set", 1}, {"pagefile", 1}, {"threads", 1}, {"handles", 1}, {"cpu_seconds", 1}, {NULL, 0}};
#define PROCESS_BASIC_COLUMNS 5
static const Column kInfoColumns[] = {
    {"server", 0},           {"session", 1},          {"name", 0},          {"state", 0},
    {"user", 0},             {"domain", 0},           {"client", 0},        {"address", 0},
    {"protocol", 0},         {"client_build", 1},     {"client_directory", 0}, {"client_hardware_id", 1},
    {"client_product_id", 1}, {"width", 1},           {"height", 1},        {"color_depth", 1},
    {"oem_id", 0},           {"application", 0},      {"initial_program", 0}, {"working_directory", 0},
    {"current_time", 0},     {"logon_time", 0},       {"last_input_time", 0}, {"connect_time", 0},
    {"disconnect_time", 0},  {"idle_seconds", 1},     {"locked", 0},        {"bytes_in", 1},
    {"bytes_out", 1},        {"frames_in", 1},        {"frames_out", 1},    {"compressed_bytes_in", 1},
    {"compressed_bytes_out", 1}, {NULL, 0}};
#define INFO_IDLE_COLUMN 25
static const Column kUserColumns[] = {
    {"server", 0}, {"user", 0},         {"domain", 0},     {"session_name", 0}, {"session", 1},
    {"state", 0},  {"idle_seconds", 1}, {"logon_time", 0}, {"client", 0},       {"address", 0},
    {"locked", 0}, {"bytes_in", 1},     {"bytes_out", 1},  {"frames_in", 1},    {"frames_out", 1}, {NULL, 0}};
#define USER_BASIC_COLUMNS 10
static const Column kSessionIdColumns[] = {{"server", 0}, {"session", 1}, {NULL, 0}};
static const Column kDomainColumns[] = {{"domain", 0}, {"server", 0}, {NULL, 0}};
static const Column kLogonColumns[] = {{"server", 0}, {"logons", 0}, {"set", 0}, {"result", 1}, {NULL, 0}};
static const Column kActionColumns[] = {{"server", 0}, {"target", 1}, {"result", 1}, {NULL, 0}};

/* One row per item of `count` parallel TAB-delimited lists: the server,
 * then the n-th item of each list. */
static void AddListRows(Answer* a, const char* server, DWORD count, const char** lists, int listCount)
{
    DWORD i;
    int k;
    for (i = 0; i < count; ++i) {
        Row* row = AddRow(a);
        row->values[0] = Copy(server);
        for (k = 0; k < listCount; ++k)
            row->values[k + 1] = NextItem(&lists[k]);
    }
}

static LONG RunSessions(const Command* c, const Options* o, const char* server, Answer* a)
{
    (void)c;
    SessionListRecord* r = NULL;
    LONG result = QRVTS_EnumerateSessionsUtf8(server, o->extended, &r);
    if (result == QRVTS_OK) {
        const char* lists[3] = {r->SessionIds, r->SessionNames, r->SessionStates};
        AddListRows(a, server, r->Count, lists, 3);
    }
    QRVTS_FreeBuffer(r);
    return result;
}

/* Empty values for the columns from `from` to `to` of every row. */
static void EmptyColumns(Answer* a, int from, int to)
{
    int r, k;
    for (r = 0; r < a->count; ++r)
        for (k = from; k < to; ++k)
            if (!a->rows[r].values[k])
                a->rows[r].values[k] = Copy("");
}

/* What each process uses, where the server tells it; elsewhere the plain
 * list with those columns empty, unless they were asked to sort by. */
static LONG RunProcesses(const Command* c, const Options* o, const char* server, Answer* a)
{
    ProcessListRecord* r = NULL;
    LONG result = AddProcessResources(o, server, a);
    DWORD code = result ? QRVTS_GetLastErrorCode() : 0;
    (void)c;
    if (result == QRVTS_OK || !NeedsNewerWindows(result, code))
        return result;
    if (o->sort != SORT_NONE || o->topGiven)
        return NEEDS_WINDOWS_7;
    result = QRVTS_EnumerateProcessesUtf8(server, o->sessionGiven ? o->session : ALL_SESSIONS, o->extended, &r);
    if (result == QRVTS_OK) {
        const char* lists[4] = {r->ProcessIds, r->ProcessNames, r->SessionIds, r->UserSids};
        AddListRows(a, server, r->Count, lists, 4);
        EmptyColumns(a, PROCESS_BASIC_COLUMNS, COLUMN_COUNT(kProcessColumns));
    }
    QRVTS_FreeBuffer(r);
    return result;
}

/* The number asked for, or the empty text for the caller's own session. */
static char* Target(const Options* o)
{
    return o->argCount && !o->targetCurrent ? Number(o->target) : Copy("");
}

static LONG RunSession(const Command* c, const Options* o, const char* server, Answer* a)
{
    (void)c;
    SessionInfoRecord* r = NULL;
    Row* row;
    int k = 0;
    LONG result = QRVTS_QuerySessionInfoUtf8(server, o->argCount ? o->target : OWN_SESSION, &r);
    if (result != QRVTS_OK)
        return result;
    /* Every property refused because the server has no such session: an
     * error, not a row of empty fields (the code stays the platform's). */
    if (!r->ConnectState[0] && QRVTS_GetLastErrorCode() == ERROR_CTX_WINSTATION_NOT_FOUND) {
        QRVTS_FreeBuffer(r);
        return QRVTS_SESSION_INFO_FAILED;
    }
    row = AddRow(a);
    row->values[k++] = Copy(server);
    row->values[k++] = Target(o);
    row->values[k++] = Copy(r->WinStationName);
    row->values[k++] = Copy(r->ConnectState);
    row->values[k++] = Copy(r->UserName);
    row->values[k++] = Copy(r->DomainName);
    row->values[k++] = Copy(r->ClientName);
    row->values[k++] = Copy(r->ClientAddress);
    row->values[k++] = Copy(r->ClientProtocolType);
    row->values[k++] = Number(r->ClientBuildNumber);
    row->values[k++] = Copy(r->ClientDirectory);
    row->values[k++] = Number(r->ClientHardwareId);
    row->values[k++] = Number(r->ClientProductId);
    row->values[k++] = Number(r->HorizontalResolution);
    row->values[k++] = Number(r->VerticalResolution);
    row->values[k++] = Number(r->ColorDepth);
    row->values[k++] = Copy(r->OEMId);
    row->values[k++] = Copy(r->ApplicationName);
    row->values[k++] = Copy(r->InitialProgram);
    row->values[k++] = Copy(r->WorkingDirectory);
    row->values[k++] = IsoTime(r->CurrentTime);
    row->values[k++] = IsoTime(r->LogonTime);
    row->values[k++] = IsoTime(r->LastInputTime);
    row->values[k++] = IsoTime(r->ConnectTime);
    row->values[k++] = IsoTime(r->DisconnectTime);
    row->values[k++] = IdleSeconds(r->CurrentTime, r->LastInputTime);
    QRVTS_FreeBuffer(r);
    EmptyColumns(a, k, COLUMN_COUNT(kInfoColumns));
    AddSessionDetails(server, o->argCount ? o->target : OWN_SESSION, row, INFO_IDLE_COLUMN, k);
    return QRVTS_OK;
}

/* ---- Who is logged on ---- */

typedef struct UserRows {
    Answer* answer;
    const char* server;
} UserRows;

static void AddUserRow(const UserSession* u, void* context)
{
    UserRows* to = (UserRows*)context;
    Row* row = AddRow(to->answer);
    const char* values[10] = {to->server, u->user, u->domain, u->name, u->id, u->state, NULL, NULL, u->client,
                              u->address};
    int k;
    for (k = 0; k < 10; ++k)
        row->values[k] = k == 6 ? IdleSeconds(u->current, u->input) : k == 7 ? IsoTime(u->logon) : Copy(values[k]);
}

static LONG RunUsers(const Command* c, const Options* o, const char* server, Answer* a)
{
    UserRows to;
    LONG result;
    (void)c, (void)o;
    to.answer = a, to.server = server;
    result = ForEachUser(server, AddUserRow, &to);
    if (result == QRVTS_OK && a->count) {
        EmptyColumns(a, USER_BASIC_COLUMNS, COLUMN_COUNT(kUserColumns));
        AddUserDetails(server, a, 4, 6, USER_BASIC_COLUMNS);
    }
    return result;
}

/* ---- The local system ---- */

static LONG SessionRow(Answer* a, LONG result, DWORD session)
{
    Row* row;
    if (result != QRVTS_OK)
        return result;
    row = AddRow(a);
    row->values[0] = Copy("");
    row->values[1] = Number(session);
    return QRVTS_OK;
}

static LONG RunConsole(const Command* c, const Options* o, const char* server, Answer* a)
{
    DWORD session = 0;
    LONG result = QRVTS_GetActiveConsoleSessionId(&session); /* before the session is read */
    (void)c, (void)o, (void)server;
    return SessionRow(a, result, session);
}

static LONG RunWhoami(const Command* c, const Options* o, const char* server, Answer* a)
{
    DWORD session = 0;
    LONG result = QRVTS_ProcessIdToSessionId(GetCurrentProcessId(), &session); /* before the session is read */
    (void)c, (void)o, (void)server;
    return SessionRow(a, result, session);
}

/* ---- Actions: on one id, or on a selection of user sessions ---- */

static LONG ActDisconnect(const Options* o, const char* server, DWORD id, DWORD* result)
{
    *result = 1;
    return QRVTS_DisconnectSessionUtf8(server, id, o->wait);
}

static LONG ActLogoff(const Options* o, const char* server, DWORD id, DWORD* result)
{
    *result = 1;
    return QRVTS_LogoffSessionUtf8(server, id, o->wait);
}

/* This program's own process on this computer is refused, as the system's
 * own task killer refuses to end itself. */
static LONG ActKill(const Options* o, const char* server, DWORD id, DWORD* result)
{
    DWORD own = 0;
    *result = 1;
    if (id == GetCurrentProcessId() && OwnSessionOn(server, &own))
        return QRVTS_TERMINATE_FAILED;
    return QRVTS_TerminateProcessUtf8(server, id, o->exitCode);
}

/* The message's title and text are the last two arguments. */
static LONG ActMessage(const Options* o, const char* server, DWORD id, DWORD* result)
{
    return QRVTS_SendMessageUtf8(server, id, o->args[o->argCount - 2], o->args[o->argCount - 1], o->style,
                                 o->timeout, o->wait, result);
}

static LONG ActShutdown(const Options* o, const char* server, DWORD flags, DWORD* result)
{
    (void)o;
    *result = 1;
    return QRVTS_ShutdownSystemUtf8(server, flags);
}

/* An action on the one id given, or on the selection. */
static LONG RunAction(const Command* c, const Options* o, const char* server, Answer* a)
{
    DWORD result = 0;
    LONG error;
    Row* row;
    if (o->select.given)
        return RunSelected(c, o, a);
    error = o->dryRun ? QRVTS_OK : c->act(o, server, o->target, &result);
    if (error != QRVTS_OK)
        return error;
    row = AddRow(a);
    row->values[0] = Copy(server);
    row->values[1] = Target(o);
    row->values[2] = o->dryRun ? Copy("") : Number(result);
    ActionRow(a, row);
    return QRVTS_OK;
}

/* The platform's shutdown flags. */
#define SHUTDOWN_FLAGS (WTS_WSD_LOGOFF | WTS_WSD_SHUTDOWN | WTS_WSD_REBOOT | WTS_WSD_POWEROFF | WTS_WSD_FASTREBOOT)

static const Command kCommands[] = {
    {"sessions", "sessions [--extended] [--timeout SECONDS]", "the sessions: id, name, state", 0, 0, KIND_SERVER,
     TARGET_NONE, kSessionColumns, RunSessions, NULL, 0, DEADLINE_REPORT, NULL},
    {"users", "users [--timeout SECONDS]", "who is logged on: user, session, state, idle time, logon time, client", 0,
     0, KIND_SERVER, TARGET_NONE, kUserColumns, RunUsers, NULL, 0, DEADLINE_REPORT, NULL},
    {"processes", "processes [--session ID] [--extended] [--sort memory|cpu] [--top N] [--timeout SECONDS]",
     "the processes: id, name, session, owner's SID, memory, threads, handles, CPU time", 0, 0, KIND_SERVER, TARGET_NONE, kProcessColumns, RunProcesses,
     NULL, 0, DEADLINE_REPORT, NULL},
    {"session", "session [ID|current] [--timeout SECONDS]", "everything about one session (none: your own)", 0, 1,
     KIND_SERVER, TARGET_SESSION, kInfoColumns, RunSession, NULL, 0, DEADLINE_REPORT, NULL},
    {"console", "console", "the session at this computer's physical console", 0, 0, KIND_LOCAL, TARGET_NONE,
     kSessionIdColumns, RunConsole, NULL, 0, DEADLINE_NONE, NULL},
    {"whoami", "whoami", "the session this program runs in", 0, 0, KIND_LOCAL, TARGET_NONE, kSessionIdColumns,
     RunWhoami, NULL, 0, DEADLINE_NONE, NULL},
    {"disconnect", "disconnect ID|current|SELECTION [--wait] [--dry-run] [--timeout SECONDS]",
     "disconnects sessions (their programs keep running)", 1, 1, KIND_ACTION, TARGET_SESSION, kActionColumns,
     RunAction, ActDisconnect, 0, DEADLINE_GIVEN, NULL},
    {"logoff", "logoff ID|current|SELECTION [--wait] [--dry-run] [--timeout SECONDS]", "logs sessions off", 1, 1,
     KIND_ACTION, TARGET_SESSION, kActionColumns, RunAction, ActLogoff, 0, DEADLINE_GIVEN, NULL},
    {"kill", "kill PID|SELECTION [--exit-code N] [--dry-run] [--timeout SECONDS]",
     "ends a process, or the session users' own processes of the selected sessions", 1, 1, KIND_ACTION,
     TARGET_PROCESS, kActionColumns, RunAction, ActKill, 0, DEADLINE_GIVEN, NULL},
    {"msg", "msg ID|current|SELECTION TITLE TEXT [--style N] [--timeout SECONDS] [--wait] [--dry-run]",
     "shows a message box in sessions; result: the answer", 3, 3, KIND_ACTION, TARGET_SESSION, kActionColumns,
     RunAction, ActMessage, 0, DEADLINE_NONE, NULL},
    {"wait", "wait MASK [--timeout SECONDS]", "waits for an event on every server; result: the events", 1, 1,
     KIND_WAIT, TARGET_MASK, kActionColumns, NULL, NULL, 0, DEADLINE_NONE, NULL},
    {"shutdown", "shutdown FLAGS [--dry-run] [--timeout SECONDS]", "logs off every session or shuts the server down",
     1, 1, KIND_SERVER, TARGET_MASK, kActionColumns, RunAction, ActShutdown, SHUTDOWN_FLAGS, DEADLINE_GIVEN, NULL},
    {"watch", "watch [--count N] [--timeout SECONDS]",
     "session events as they happen: logon, logoff, connect, disconnect, state", 0, 0, KIND_WATCH, TARGET_NONE,
     NULL, NULL, NULL, 0, DEADLINE_NONE, NULL},
    {"connect", "connect SOURCE TARGET [--password-stdin] [--wait] [--dry-run]",
     "shows session SOURCE in session TARGET of this computer (Vista SP1 and 2008 on)", 2, 2, KIND_LOCAL,
     TARGET_SESSION, kActionColumns, RunAction, ActConnect, 0, DEADLINE_NONE, NULL},
    {"shadow", "shadow ID [--stop] [--dry-run] [--timeout SECONDS]",
     "remote control of a session, from your own remote session; Ctrl+* ends it, as does --stop (Vista SP1 "
     "and 2008 on)",
     1, 1, KIND_SERVER, TARGET_SESSION, kActionColumns, RunAction, ActShadow, 0, DEADLINE_GIVEN, NULL},
    {"servers", "servers [DOMAIN] [--timeout SECONDS]",
     "the terminal servers of a domain (none: your own), as the network answers", 0, 1, KIND_LOCAL, TARGET_NONE,
     kDomainColumns, RunServers, NULL, 0, DEADLINE_REPORT, NULL},
    {"logons", "logons status|enable|disable|drain [--until-restart] [--dry-run] [--timeout SECONDS]",
     "whether the servers take new logons, or set it: all, none, or reconnections only (drain)", 1, 1,
     KIND_SERVER, TARGET_NONE, kLogonColumns, RunLogons, NULL, 0, DEADLINE_REPORT, kLogonCommands},
    {NULL, NULL, NULL, 0, 0, 0, 0, NULL, NULL, NULL, 0, 0, NULL},
};

const Command* Commands(void)
{
    return kCommands;
}

const Command* FindCommand(const char* name)
{
    const Command* c;
    for (c = kCommands; c->name; ++c)
        if (strcmp(c->name, name) == 0)
            return c;
    return NULL;
}

