/* velquor: the terminal services of one server or a farm of them, from the
 * command line, as a table for people or as CSV or JSON for scripts. Built
 * on the QRVTS_ C API alone (include/velquor.h and the import library),
 * through its UTF-8 exports: every text here is UTF-8, from the command
 * line (read as wide text) to the output (written to a console as wide
 * text), so that a name in any script arrives whole.
 * `velquor --help` says what it does; docs/reference.md has it all.
 *
 * This file: the commands, the selections, the arguments and the exit
 * status. servers.c takes the servers to ask, farm.c asks many at once,
 * output.c writes the answers, text.c holds the helpers all of them use. */
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "cli.h"

#ifndef VELQUOR_VERSION_TEXT
#error "the build passes the version as VELQUOR_VERSION_TEXT"
#endif

/* ---- Commands ---- */

static const Column kSessionColumns[] = {{"server", 0}, {"session", 1}, {"name", 0}, {"state", 0}, {NULL, 0}};
static const Column kProcessColumns[] = {{"server", 0}, {"pid", 1}, {"name", 0}, {"session", 1}, {"sid", 0},
                                         {NULL, 0}};
static const Column kInfoColumns[] = {
    {"server", 0},           {"session", 1},          {"name", 0},          {"state", 0},
    {"user", 0},             {"domain", 0},           {"client", 0},        {"address", 0},
    {"protocol", 0},         {"client_build", 1},     {"client_directory", 0}, {"client_hardware_id", 1},
    {"client_product_id", 1}, {"width", 1},           {"height", 1},        {"color_depth", 1},
    {"oem_id", 0},           {"application", 0},      {"initial_program", 0}, {"working_directory", 0},
    {"current_time", 0},     {"logon_time", 0},       {"last_input_time", 0}, {"connect_time", 0},
    {"disconnect_time", 0},  {"idle_seconds", 1},     {NULL, 0}};
static const Column kUserColumns[] = {
    {"server", 0}, {"user", 0},         {"domain", 0},     {"session_name", 0}, {"session", 1},
    {"state", 0},  {"idle_seconds", 1}, {"logon_time", 0}, {"client", 0},       {"address", 0}, {NULL, 0}};
static const Column kSessionIdColumns[] = {{"server", 0}, {"session", 1}, {NULL, 0}};
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

static LONG RunProcesses(const Command* c, const Options* o, const char* server, Answer* a)
{
    (void)c;
    ProcessListRecord* r = NULL;
    LONG result = QRVTS_EnumerateProcessesUtf8(server, o->sessionGiven ? o->session : ALL_SESSIONS, o->extended, &r);
    if (result == QRVTS_OK) {
        const char* lists[4] = {r->ProcessIds, r->ProcessNames, r->SessionIds, r->UserSids};
        AddListRows(a, server, r->Count, lists, 4);
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
    return QRVTS_OK;
}

/* ---- Who is logged on ---- */

/* One user session, as the user list gives it. */
typedef struct UserSession {
    char *id, *name, *state, *user, *domain, *client, *address, *logon, *input, *current;
    DWORD session; /* the id as a number */
} UserSession;

/* The session's ten texts, in the order of the user list's lists. */
static void UserFields(UserSession* u, char** fields[10])
{
    char** const all[10] = {&u->id,     &u->name,    &u->state, &u->user,  &u->domain,
                            &u->client, &u->address, &u->logon, &u->input, &u->current};
    memcpy(fields, all, sizeof all);
}

/* Reads the next user session of the lists `cursor` walks. */
static void NextUser(const char** cursor, UserSession* u)
{
    char** fields[10];
    int k;
    UserFields(u, fields);
    for (k = 0; k < 10; ++k)
        *fields[k] = NextItem(&cursor[k]);
    u->session = 0;
    ParseDecimal(u->id, 0xFFFFFFFFul, &u->session);
}

static void FreeUser(UserSession* u)
{
    char** fields[10];
    int k;
    UserFields(u, fields);
    for (k = 0; k < 10; ++k)
        free(*fields[k]);
}

/* Calls `use` with every user session of the server; returns its error. */
static LONG ForEachUser(const char* server, void (*use)(const UserSession* u, void* context), void* context)
{
    UserListRecord* r = NULL;
    LONG result = QRVTS_EnumerateUsersUtf8(server, &r);
    if (result == QRVTS_OK) {
        const char* cursor[10] = {r->SessionIds,  r->SessionNames,    r->SessionStates, r->UserNames,
                                  r->DomainNames, r->ClientNames,     r->ClientAddresses, r->LogonTimes,
                                  r->LastInputTimes, r->CurrentTimes};
        DWORD i;
        for (i = 0; i < r->Count; ++i) {
            UserSession u;
            NextUser(cursor, &u);
            use(&u, context);
            FreeUser(&u);
        }
    }
    QRVTS_FreeBuffer(r);
    return result;
}

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
    (void)c;
    UserRows to;
    (void)o;
    to.answer = a, to.server = server;
    return ForEachUser(server, AddUserRow, &to);
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

static int OwnSessionOn(const char* server, DWORD* session);

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

/* The platform's shutdown flags. */
static const DWORD kShutdownFlags = WTS_WSD_LOGOFF | WTS_WSD_SHUTDOWN | WTS_WSD_REBOOT | WTS_WSD_POWEROFF |
                                    WTS_WSD_FASTREBOOT;

static LONG ActShutdown(const Options* o, const char* server, DWORD flags, DWORD* result)
{
    (void)o;
    *result = 1;
    return QRVTS_ShutdownSystemUtf8(server, flags);
}

/* Letters A to Z match without regard to case; the rest exactly. */
static int SameText(const char* a, const char* b)
{
    return _stricmp(a, b) == 0;
}

static int Selected(const Selection* s, const UserSession* u)
{
    char* idle;
    DWORD seconds = 0;
    int known;
    if (s->user && (!SameText(s->user, u->user) || (s->domain && !SameText(s->domain, u->domain))))
        return 0;
    if ((s->state && !SameText(s->state, u->state)) || (s->sessionName && !SameText(s->sessionName, u->name)))
        return 0;
    if (!s->idleGiven)
        return 1;
    idle = IdleSeconds(u->current, u->input);
    known = ParseDecimal(idle, 0xFFFFFFFFul, &seconds);
    free(idle);
    return known && seconds > s->idleOver;
}

/* The session this program runs in, where `server` is this computer (the
 * empty name, or this computer's own); 0 elsewhere, where it has none. */
static int OwnSessionOn(const char* server, DWORD* session)
{
    char name[MAX_COMPUTERNAME_LENGTH + 1]; /* a NetBIOS name: ASCII */
    DWORD size = sizeof name;
    int local = !*server || _stricmp("localhost", server) == 0;
    if (!local && GetComputerNameA(name, &size))
        local = _stricmp(name, server) == 0;
    return local && QRVTS_ProcessIdToSessionId(GetCurrentProcessId(), session) == QRVTS_OK;
}

/* Whether a selection leaves the session out: the caller's own on this
 * computer, which an action takes only when named; said on standard error. */
static int LeftOut(const char* server, int local, DWORD own, const UserSession* u, const Options* o)
{
    if (!local || u->session != own)
        return 0;
    ErrorLine("velquor: %s: left out your own session %s (name it to %s it)\n",
            server[0] ? server : "this computer", u->id, o->dryRun ? "include" : "act on");
    return 1;
}

/* Whether `kill` on a selection may end a process of a selected session:
 * never one without an owner, nor the system's own accounts (LocalSystem,
 * LocalService, NetworkService), a service's (S-1-5-80-...), the window
 * manager's (S-1-5-90-...) or the font driver's (S-1-5-96-...), nor a
 * process of session 0, nor this program itself. */
static int UsersOwnProcess(int local, const char* session, const char* pid, const char* sid)
{
    static const char* const kSystemAccounts[] = {"S-1-5-18", "S-1-5-19", "S-1-5-20", NULL};
    static const char* const kSystemPrefixes[] = {"S-1-5-80-", "S-1-5-90-", "S-1-5-96-", NULL};
    DWORD id = 0;
    int i;
    if (!*sid || strcmp(session, "0") == 0)
        return 0;
    for (i = 0; kSystemAccounts[i]; ++i)
        if (strcmp(sid, kSystemAccounts[i]) == 0)
            return 0;
    for (i = 0; kSystemPrefixes[i]; ++i)
        if (strncmp(sid, kSystemPrefixes[i], strlen(kSystemPrefixes[i])) == 0)
            return 0;
    return !(local && ParseDecimal(pid, 0xFFFFFFFFul, &id) && id == GetCurrentProcessId());
}

static const Column kSelectedColumns[] = {{"server", 0}, {"session", 1}, {"user", 0}, {"domain", 0},
                                          {"session_name", 0}, {"state", 0}, {"idle_seconds", 1},
                                          {"result", 1}, {NULL, 0}};
static const Column kSelectedProcessColumns[] = {{"server", 0}, {"session", 1}, {"user", 0}, {"domain", 0},
                                                 {"pid", 1}, {"name", 0}, {"owner", 0}, {"result", 1}, {NULL, 0}};

static const Column* ColumnsOf(const Command* c, const Options* o)
{
    if (c->kind != KIND_ACTION || !o->select.given)
        return c->columns;
    return c->target == TARGET_PROCESS ? kSelectedProcessColumns : kSelectedColumns;
}

/* The rows of an action, written as each is done (null: at the end). */
static Stream* ActionRows = NULL;

/* Whether the selected session is still the one selected, read again
 * right before an action on it: the same user, logged on at the same time
 * (a session that logged off and was taken by another logon is not). */
static int Unchanged(const char* server, const UserSession* u)
{
    SessionInfoRecord* r = NULL;
    int same = QRVTS_QuerySessionInfoUtf8(server, u->session, &r) == QRVTS_OK && _stricmp(r->UserName, u->user) == 0 &&
               strcmp(r->LogonTime, u->logon) == 0;
    QRVTS_FreeBuffer(r);
    return same;
}

/* A row whose action was not done, with the error that says why (the
 * target changed since it was selected, or could not be read); written. */
static void NotDone(const char* server, Row* row, int column, LONG error, DWORD code)
{
    row->error = error, row->code = code;
    row->values[column] = Copy("");
    if (ActionRows)
        StreamRow(ActionRows, server, row, 0);
}

/* The outcome of one action in the row's last column (empty on a dry run or
 * a failure, whose error the row carries); the row is then written. */
static void Outcome(const Command* c, const Options* o, const char* server, DWORD id, Row* row, int column)
{
    DWORD result = 0;
    if (o->dryRun) {
        row->values[column] = Copy("");
    } else {
        row->error = c->act(o, server, id, &result);
        row->code = row->error ? QRVTS_GetLastErrorCode() : 0;
        row->values[column] = row->error ? Copy("") : Number(result);
    }
    if (ActionRows)
        StreamRow(ActionRows, server, row, 0);
}

typedef struct Acting {
    const Command* command;
    const Options* options;
    const char* server;
    Answer* answer;
    int local;  /* the server is this computer, and `own` its session this program runs in */
    DWORD own;
} Acting;

static void ActOnSession(const UserSession* u, void* context)
{
    Acting* x = (Acting*)context;
    const char* values[7] = {x->server, u->id, u->user, u->domain, u->name, u->state, NULL};
    Row* row;
    int k;
    if (Interrupted || !Selected(&x->options->select, u) || LeftOut(x->server, x->local, x->own, u, x->options))
        return;
    row = AddRow(x->answer);
    for (k = 0; k < 6; ++k)
        row->values[k] = Copy(values[k]);
    row->values[6] = IdleSeconds(u->current, u->input);
    if (!x->options->dryRun && !Unchanged(x->server, u))
        NotDone(x->server, row, 7, TARGET_CHANGED, 0);
    else
        Outcome(x->command, x->options, x->server, u->session, row, 7);
}

/* kill: a row for a selected session none of whose processes was ended. */
static void SessionNotDone(Acting* x, const UserSession* u, LONG error, DWORD code)
{
    Row* row = AddRow(x->answer);
    const char* values[4] = {x->server, u->id, u->user, u->domain};
    int k;
    for (k = 0; k < 7; ++k)
        row->values[k] = Copy(k < 4 ? values[k] : "");
    NotDone(x->server, row, 7, error, code);
}

/* kill: the users' own processes of each selected session, read when the
 * session's turn comes. */
static void ActOnProcesses(const UserSession* u, void* context)
{
    Acting* x = (Acting*)context;
    ProcessListRecord* r = NULL;
    const char *pids, *names, *sessions, *sids;
    DWORD i, pid = 0;
    if (!Selected(&x->options->select, u) || LeftOut(x->server, x->local, x->own, u, x->options))
        return;
    if (!x->options->dryRun && !Unchanged(x->server, u)) {
        SessionNotDone(x, u, TARGET_CHANGED, 0);
        return;
    }
    if (QRVTS_EnumerateProcessesUtf8(x->server, u->session, FALSE, &r) != QRVTS_OK) {
        SessionNotDone(x, u, QRVTS_ENUM_PROCESSES_FAILED, QRVTS_GetLastErrorCode());
        return;
    }
    pids = r->ProcessIds, names = r->ProcessNames, sessions = r->SessionIds, sids = r->UserSids;
    for (i = 0; i < r->Count; ++i) {
        char *p = NextItem(&pids), *n = NextItem(&names), *s = NextItem(&sessions), *sid = NextItem(&sids);
        if (!Interrupted && strcmp(s, u->id) == 0 && UsersOwnProcess(x->local, s, p, sid)) {
            Row* row = AddRow(x->answer);
            const char* values[7] = {x->server, u->id, u->user, u->domain, p, n, sid};
            int k;
            for (k = 0; k < 7; ++k)
                row->values[k] = Copy(values[k]);
            ParseDecimal(p, 0xFFFFFFFFul, &pid);
            Outcome(x->command, x->options, x->server, pid, row, 7);
        }
        free(p), free(n), free(s), free(sid);
    }
    QRVTS_FreeBuffer(r);
}

static LONG RunSelected(const Command* c, const Options* o, const char* server, Answer* a)
{
    Acting x;
    x.command = c, x.options = o, x.server = server, x.answer = a, x.own = 0;
    x.local = OwnSessionOn(server, &x.own);
    return ForEachUser(server, c->target == TARGET_PROCESS ? ActOnProcesses : ActOnSession, &x);
}

/* An action on the one id given, or on the selection. */
static LONG RunAction(const Command* c, const Options* o, const char* server, Answer* a)
{
    DWORD result = 0;
    LONG error;
    Row* row;
    if (o->select.given)
        return RunSelected(c, o, server, a);
    error = o->dryRun ? QRVTS_OK : c->act(o, server, o->target, &result);
    if (error != QRVTS_OK)
        return error;
    row = AddRow(a);
    row->values[0] = Copy(server);
    row->values[1] = Target(o);
    row->values[2] = o->dryRun ? Copy("") : Number(result);
    if (ActionRows)
        StreamRow(ActionRows, server, row, 0);
    return QRVTS_OK;
}

static const char kSelectionUsage[] = "ID|--all|--user NAME|--state STATE|--idle-over TIME|--session-name NAME";

static const Command kCommands[] = {
    {"sessions", "sessions [--extended]", "the sessions: id, name, state", 0, 0, KIND_SERVER, TARGET_NONE,
     kSessionColumns, RunSessions, NULL},
    {"users", "users", "who is logged on: user, session, state, idle time, logon time, client", 0, 0, KIND_SERVER,
     TARGET_NONE, kUserColumns, RunUsers, NULL},
    {"processes", "processes [--session ID] [--extended]", "the processes: id, name, session, owner's SID", 0, 0,
     KIND_SERVER, TARGET_NONE, kProcessColumns, RunProcesses, NULL},
    {"session", "session [ID|current]", "everything about one session (none: your own)", 0, 1, KIND_SERVER,
     TARGET_SESSION, kInfoColumns, RunSession, NULL},
    {"console", "console", "the session at this computer's physical console", 0, 0, KIND_LOCAL, TARGET_NONE,
     kSessionIdColumns, RunConsole, NULL},
    {"whoami", "whoami", "the session this program runs in", 0, 0, KIND_LOCAL, TARGET_NONE, kSessionIdColumns,
     RunWhoami, NULL},
    {"disconnect", "disconnect ID|current|SELECTION [--wait] [--dry-run]",
     "disconnects sessions (their programs keep running)", 1, 1, KIND_ACTION, TARGET_SESSION, kActionColumns,
     RunAction, ActDisconnect},
    {"logoff", "logoff ID|current|SELECTION [--wait] [--dry-run]", "logs sessions off", 1, 1, KIND_ACTION,
     TARGET_SESSION, kActionColumns, RunAction, ActLogoff},
    {"kill", "kill PID|SELECTION [--exit-code N] [--dry-run]",
     "ends a process, or every process of the selected sessions", 1, 1, KIND_ACTION, TARGET_PROCESS,
     kActionColumns, RunAction, ActKill},
    {"msg", "msg ID|current|SELECTION TITLE TEXT [--style N] [--timeout SECONDS] [--wait] [--dry-run]",
     "shows a message box in sessions; result: the answer", 3, 3, KIND_ACTION, TARGET_SESSION, kActionColumns,
     RunAction, ActMessage},
    {"wait", "wait MASK [--timeout SECONDS]", "waits for an event on every server; result: the events", 1, 1,
     KIND_WAIT, TARGET_MASK, kActionColumns, NULL, NULL},
    {"shutdown", "shutdown FLAGS [--dry-run]", "logs off every session or shuts the server down", 1, 1, KIND_SERVER,
     TARGET_MASK, kActionColumns, RunAction, ActShutdown},
    {"watch", "watch [--count N] [--timeout SECONDS]",
     "session events as they happen: logon, logoff, connect, disconnect, state", 0, 0, KIND_WATCH, TARGET_NONE,
     NULL, NULL, NULL},
};
#define COMMAND_COUNT (int)(sizeof kCommands / sizeof kCommands[0])

/* ---- Arguments ---- */

static void Help(const Command* only)
{
    int i;
    if (only) {
        printf("usage: velquor %s [--server NAME|@FILE]... [--format table|csv|json]\r\n  %s\r\n", only->usage,
               only->summary);
        if (only->kind == KIND_ACTION)
            printf("  SELECTION: %s\r\n", kSelectionUsage + 3);
        return;
    }
    printf("velquor %s: terminal services of one server or a farm, as a table, CSV or JSON\r\n\r\n",
           VELQUOR_VERSION_TEXT);
    printf("usage: velquor COMMAND [ARGS] [--server NAME|@FILE]... [--format table|csv|json] [--parallel N]\r\n\r\n");
    for (i = 0; i < COMMAND_COUNT; ++i)
        printf("  %s\r\n      %s\r\n", kCommands[i].usage, kCommands[i].summary);
    printf("\r\n  --server NAME    a server to ask; repeat it or give a comma-separated list (none: this one)\r\n"
           "  --server @FILE   the servers named in FILE, one a line (# starts a comment)\r\n"
           "  --format F       table (the default), csv or json\r\n"
           "  --parallel N     servers asked at once (default 8)\r\n"
           "  --extended       the level-1 enumerations, where the server has them\r\n"
           "  SELECTION        instead of an ID, the user sessions to act on, every condition holding:\r\n"
           "                   --user NAME or DOMAIN\\NAME, --state STATE, --idle-over TIME (90m, 2h),\r\n"
           "                   --session-name NAME, or --all; --dry-run lists them and touches nothing\r\n"
           "  --help, --version\r\n\r\n"
           "IDs are decimal, 0 to 4294967294; \"current\" is the session you run in (this computer only,\r\n"
           "as is session without an ID).\r\n"
           "wait and watch block in the server until it has an event: a quiet server costs one waiting\r\n"
           "call, and watch reads a server again only when it signals one (a wake-up that changes no\r\n"
           "user session is the event \"other\", with the platform's flags). A failing server is\r\n"
           "tried again after 1 second, the pause doubling up to 60 seconds.\r\n"
           "A selection never takes your own session on this computer (name it), and kill on a\r\n"
           "selection ends only the users' own processes: never the system's, a service's, the\r\n"
           "window manager's, the font driver's, an ownerless one, session 0's or its own.\r\n"
           "Exit status: 0 every server answered; 1 every server failed (one server included);\r\n"
           "2 a usage error; 3 some servers failed; 4 interrupted (what was done is printed).\r\n"
           "An error's number and text are in the output (for the table, on standard error).\r\n");
}

static int Usage(const char* problem, const char* argument, const Command* c)
{
    ErrorLine("velquor: %s%s%s%s\n", c ? c->name : "", c ? ": " : "", problem, argument ? argument : "");
    ErrorLine("usage: velquor %s [--server NAME|@FILE]... [--format table|csv|json]\n",
            c ? c->usage : "COMMAND [ARGS] (velquor --help lists them)");
    return EXIT_USAGE;
}

static const Command* FindCommand(const char* name)
{
    int i;
    for (i = 0; i < COMMAND_COUNT; ++i)
        if (strcmp(kCommands[i].name, name) == 0)
            return &kCommands[i];
    return NULL;
}

/* The state words a session can have, as the library names them. */
static const char* const kStateWords[] = {"ACTIVE", "CONNECTED", "CONNECTQUERY", "SHADOW", "DISCONNECTED",
                                          "IDLE", "LISTEN", "RESET", "DOWN", "INIT", NULL};

/* A selection option's value; NULL when taken, else what is wrong. */
static const char* SelectionOption(Options* o, const char* option, const char* value)
{
    Selection* s = &o->select;
    int i, known = 0;
    const char* given = strcmp(option, "--user") == 0    ? s->user
                        : strcmp(option, "--state") == 0 ? s->state
                        : strcmp(option, "--session-name") == 0 ? s->sessionName
                                                                : (s->idleGiven ? "" : NULL);
    if (given)
        return "a selection takes each condition once: ";
    if (strcmp(option, "--state") == 0) {
        for (i = 0; kStateWords[i]; ++i)
            known |= _stricmp(kStateWords[i], value) == 0;
        if (!known)
            return "not a state (active, connected, connectquery, shadow, disconnected, idle, listen, reset, down, "
                   "init): ";
    }
    if (strcmp(option, "--user") == 0) {
        const char* slash = strchr(value, '\\');
        s->user = slash ? slash + 1 : value;
        if (slash) {
            char* domain = (char*)Allocate((size_t)(slash - value) + 1);
            memcpy(domain, value, (size_t)(slash - value));
            s->domain = domain;
        }
    } else if (strcmp(option, "--state") == 0) {
        s->state = value;
    } else if (strcmp(option, "--session-name") == 0) {
        s->sessionName = value;
    } else if (strcmp(option, "--idle-over") == 0) {
        if (!ParseDuration(value, &s->idleOver))
            return "not a duration (a number and s, m, h or d): ";
        s->idleGiven = 1;
    }
    s->given = 1;
    return NULL;
}

/* A number option's value, parsed; 0 when it is not one. */
static int NumberOption(Options* o, const char* option, const char* value)
{
    if (strcmp(option, "--session") == 0)
        return o->sessionGiven = ParseDecimal(value, 0xFFFFFFFEul, &o->session);
    if (strcmp(option, "--exit-code") == 0)
        return ParseDecimal(value, 0xFFFFFFFFul, &o->exitCode);
    if (strcmp(option, "--style") == 0)
        return ParseMask(value, &o->style);
    if (strcmp(option, "--timeout") == 0)
        return o->timeoutGiven = ParseDecimal(value, 0xFFFFFFFFul / 1000, &o->timeout);
    if (strcmp(option, "--count") == 0)
        return o->countGiven = ParseDecimal(value, 0xFFFFFFFFul, &o->count) && o->count > 0;
    if (strcmp(option, "--parallel") == 0) {
        DWORD n = 0;
        int ok = ParseDecimal(value, 4096, &n) && n > 0;
        o->parallel = (int)n;
        return ok;
    }
    return 0;
}

/* What a number option takes, for the usage error that refuses a value. */
static const char* NumberRange(const char* option)
{
    static const char* const kRanges[][2] = {
        {"--session", "--session takes a session id (decimal digits, 0 to 4294967294): "},
        {"--exit-code", "--exit-code takes decimal digits, 0 to 4294967295: "},
        {"--style", "--style takes a decimal number or 0x and hexadecimal digits: "},
        {"--timeout", "--timeout takes seconds, decimal digits, 0 to 4294967: "},
        {"--count", "--count takes decimal digits, 1 to 4294967295: "},
        {"--parallel", "--parallel takes decimal digits, 1 to 4096: "}};
    size_t i;
    for (i = 0; i < sizeof kRanges / sizeof kRanges[0]; ++i)
        if (strcmp(kRanges[i][0], option) == 0)
            return kRanges[i][1];
    return "not a number this option takes: ";
}

static int IsOneOf(const char* text, const char* const* list)
{
    for (; *list; ++list)
        if (strcmp(text, *list) == 0)
            return 1;
    return 0;
}

/* The first argument, as the command takes it; 0 when it is not one. */
static int ParseTarget(const Command* c, Options* o)
{
    const char* text = o->args[0];
    if (c->target == TARGET_MASK)
        return ParseMask(text, &o->target);
    if (c->target == TARGET_SESSION && strcmp(text, "current") == 0) {
        o->target = OWN_SESSION, o->targetCurrent = 1;
        return 1;
    }
    return ParseDecimal(text, 0xFFFFFFFEul, &o->target);
}

static const char* TargetKind(const Command* c)
{
    return c->target == TARGET_MASK      ? "not a mask (decimal, or 0x and hexadecimal digits): "
           : c->target == TARGET_PROCESS ? "not a process id (decimal digits, 0 to 4294967294): "
                                         : "not a session id (decimal digits, 0 to 4294967294, or current): ";
}

/* Whether a server other than this computer is asked. */
static int RemoteServer(const Options* o)
{
    int i;
    for (i = 0; i < o->serverCount; ++i)
        if (o->servers[i][0])
            return 1;
    return 0;
}

/* What the options and arguments say together; -1 when they agree, else the exit status. */
static int CheckArguments(const Command* c, Options* o)
{
    static const char* const kFormats[] = {"table", "csv", "json", NULL};
    int selecting = o->select.given || o->select.all;
    int wanted = c->args - (selecting ? 1 : 0), most = c->maxArgs - (selecting ? 1 : 0);
    if (!IsOneOf(o->format, kFormats))
        return Usage("the format is table, csv or json: ", o->format, c);
    if (c->kind == KIND_LOCAL && o->serverGiven)
        return Usage("asks this computer only; --server is not taken", NULL, c);
    if (selecting && c->kind != KIND_ACTION)
        return Usage("takes no selection", NULL, c);
    if (o->dryRun && !c->act)
        return Usage("--dry-run is for the actions (disconnect, logoff, kill, msg, shutdown)", NULL, c);
    if (o->select.all && o->select.given)
        return Usage("--all takes no other condition", NULL, c);
    o->select.given = selecting;
    if (o->argCount < wanted)
        return Usage(c->kind == KIND_ACTION ? "needs an id or a selection" : "too few arguments", NULL, c);
    if (o->argCount > most)
        return Usage(selecting ? "takes a selection or an id, not both" : "too many arguments", NULL, c);
    if (!selecting && c->target != TARGET_NONE && o->argCount > 0 && !ParseTarget(c, o))
        return Usage(TargetKind(c), o->args[0], c);
    if (c->act == ActShutdown && (o->target == 0 || (o->target & ~kShutdownFlags)))
        return Usage("the flags are the sum of 1 log off, 2 shut down, 4 restart, 8 power off, 16 fast restart: ",
                     o->args[0], c);
    if (c->target == TARGET_SESSION && !selecting && (o->targetCurrent || o->argCount == 0) && RemoteServer(o))
        return Usage("your own session is one of this computer's; on another server the platform's answer "
                     "for it is not to be used: give a session id",
                     NULL, c);
    return -1;
}

/* Returns -1 when the arguments are good, else the exit status. */
static int ParseOptions(int argc, char** argv, const Command* c, Options* o)
{
    static const char* const kValued[] = {"--server", "--format", "--parallel", "--session", "--exit-code",
                                          "--style", "--timeout", "--count", "--user", "--state",
                                          "--idle-over", "--session-name", NULL};
    static const char* const kSelecting[] = {"--user", "--state", "--idle-over", "--session-name", NULL};
    int i;
    for (i = 2; i < argc; ++i) {
        const char* a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : NULL;
        if (IsOneOf(a, kValued) && !value)
            return Usage("this option needs a value: ", a, c);
        if (strcmp(a, "--help") == 0) {
            Help(c);
            return 0;
        } else if (strcmp(a, "--server") == 0) {
            const char* problem = AddServers(o, argv[++i]);
            if (problem) {
                static char text[1200];
                _snprintf(text, sizeof text - 1, "the list of servers %s: %s", value, problem);
                return Usage(text, NULL, c);
            }
        } else if (strcmp(a, "--format") == 0) {
            o->format = argv[++i];
        } else if (IsOneOf(a, kSelecting)) {
            const char* problem = SelectionOption(o, a, argv[++i]);
            if (problem)
                return Usage(problem, value, c);
        } else if (IsOneOf(a, kValued)) {
            if (!NumberOption(o, a, argv[++i]))
                return Usage(NumberRange(a), value, c);
        } else if (strcmp(a, "--all") == 0) {
            o->select.all = 1;
        } else if (strcmp(a, "--dry-run") == 0) {
            o->dryRun = 1;
        } else if (strcmp(a, "--wait") == 0) {
            o->wait = 1;
        } else if (strcmp(a, "--extended") == 0) {
            o->extended = 1;
        } else if (a[0] == '-' && a[1] == '-') {
            return Usage("unknown option ", a, c);
        } else if (o->argCount < 3) {
            o->args[o->argCount++] = a;
        } else {
            return Usage("too many arguments", NULL, c);
        }
    }
    if (o->parallel < 1)
        return Usage("--parallel needs at least 1", NULL, c);
    return CheckArguments(c, o);
}

/* Takes the current folder out of the program's own library search where
 * the system can (from XP SP1 and 2003 on): a library planted where the
 * tool is run from is never loaded. Looked up by name, as older systems
 * lack it. */
static void LeaveCurrentFolderOutOfLibrarySearch(void)
{
    typedef BOOL(WINAPI * SetDllDirectoryAFn)(LPCSTR);
    SetDllDirectoryAFn setDllDirectory;
    LookUpKernel("SetDllDirectoryA", &setDllDirectory);
    if (setDllDirectory)
        setDllDirectory("");
}

static char* WideToUtf8(const WCHAR* wide)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, NULL, 0, NULL, NULL);
    char* utf8 = (char*)Allocate((size_t)(bytes > 0 ? bytes : 1));
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, bytes, NULL, NULL);
    return utf8;
}

static char* AnsiToUtf8(const char* ansi)
{
    int units = MultiByteToWideChar(CP_ACP, 0, ansi, -1, NULL, 0);
    WCHAR* wide = (WCHAR*)Allocate(sizeof(WCHAR) * (size_t)(units > 0 ? units : 1));
    char* utf8;
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide, units);
    utf8 = WideToUtf8(wide);
    free(wide);
    return utf8;
}

/* The arguments as UTF-8: read from the wide command line where the system
 * has it, so that a server named in any script can be asked; else the ANSI
 * arguments converted. The splitter is the shell library's, loaded from the
 * system folder. */
static char** Utf8Arguments(int* argc, char** ansi)
{
    typedef LPWSTR(WINAPI * GetCommandLineWFn)(void);
    typedef LPWSTR*(WINAPI * CommandLineToArgvWFn)(LPCWSTR, int*);
    GetCommandLineWFn commandLine;
    CommandLineToArgvWFn split = NULL;
    char path[MAX_PATH + 16];
    HMODULE shell = NULL;
    LPWSTR* wide = NULL;
    char** args;
    int i, n = 0;
    UINT folder = GetSystemDirectoryA(path, MAX_PATH);
    LookUpKernel("GetCommandLineW", &commandLine);
    if (folder > 0 && folder < MAX_PATH) {
        strcat(path, "\\SHELL32.DLL");
        shell = LoadLibraryA(path);
    }
    if (shell) {
        FARPROC found = GetProcAddress(shell, "CommandLineToArgvW");
        memcpy(&split, &found, sizeof found);
    }
    if (commandLine && split && commandLine())
        wide = split(commandLine(), &n);
    if (!wide)
        n = *argc;
    args = (char**)Allocate(sizeof(char*) * (size_t)(n + 1));
    for (i = 0; i < n; ++i)
        args[i] = wide ? WideToUtf8(wide[i]) : AnsiToUtf8(ansi[i]);
    if (wide)
        LocalFree(wide);
    if (shell)
        FreeLibrary(shell);
    *argc = n;
    return args;
}


/* An action on every server, each row written as soon as it is done; a
 * server that failed as a whole is a row of its own at the end. */
static void WriteActions(const Command* c, const Options* o, Answer* answers)
{
    static Stream rows;
    const Column* columns = ColumnsOf(c, o);
    int s, k;
    StreamStart(&rows, columns, o->format, 0, o);
    ActionRows = &rows;
    AskFarm(c, o, answers, o->parallel);
    for (s = 0; s < o->serverCount; ++s)
        if (answers[s].error) {
            Row row;
            memset(&row, 0, sizeof row);
            row.error = answers[s].error, row.code = answers[s].code;
            for (k = 0; columns[k].name; ++k)
                row.values[k] = Copy(k == 0 ? answers[s].server : "");
            StreamRow(&rows, answers[s].server, &row, 0);
            for (k = 0; columns[k].name; ++k)
                free(row.values[k]);
        }
    StreamEnd(&rows);
}

/* 0 when every server answered, 1 when every one failed, 3 when some did;
 * a server failed when it gave an error or one of its actions did. */
static int ExitStatus(const Answer* answers, int count)
{
    int s, r, failed = 0;
    for (s = 0; s < count; ++s) {
        int bad = answers[s].error != 0;
        for (r = 0; r < answers[s].count && !bad; ++r)
            bad = answers[s].rows[r].error != 0;
        failed += bad;
    }
    return failed == 0 ? EXIT_ANSWERED : failed == count ? EXIT_ALL_FAILED : EXIT_SOME_FAILED;
}

int main(int argc, char** argv)
{
    static Options o;
    static char local[] = "";
    const Command* c;
    Answer* answers;
    int i, status;
    LeaveCurrentFolderOutOfLibrarySearch();
    argv = Utf8Arguments(&argc, argv);
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2)
        return Usage("no command", NULL, NULL);
    if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "help") == 0) {
        Help(argc > 2 ? FindCommand(argv[2]) : NULL);
        return 0;
    }
    if (strcmp(argv[1], "--version") == 0) {
        printf("velquor %s\r\n", VELQUOR_VERSION_TEXT);
        return 0;
    }
    c = FindCommand(argv[1]);
    if (!c)
        return Usage("unknown command ", argv[1], NULL);
    o.format = "table";
    o.parallel = 8;
    status = ParseOptions(argc, argv, c, &o);
    if (status >= 0)
        return status;
    if (o.serverGiven && o.serverCount == 0)
        return Usage("no server in the list", NULL, c);
    if (o.serverCount == 0)
        AddServer(&o, local);
    CatchInterrupts();
    if (c->kind == KIND_WAIT || c->kind == KIND_WATCH) {
        /* An interrupt is how a stream ends: its status is the servers'. */
        status = c->kind == KIND_WAIT ? WaitFarm(&o) : WatchFarm(&o);
        InterruptsDone();
        return status;
    }
    answers = (Answer*)Allocate(sizeof(Answer) * (size_t)o.serverCount);
    for (i = 0; i < o.serverCount; ++i)
        answers[i].server = o.servers[i];
    if (c->act)
        WriteActions(c, &o, answers);
    else {
        AskFarm(c, &o, answers, o.parallel);
        WriteAnswers(ColumnsOf(c, &o), o.format, answers, o.serverCount);
    }
    status = Interrupted ? EXIT_INTERRUPTED : ExitStatus(answers, o.serverCount);
    InterruptsDone();
    return status;
}
