/* velquor.exe: what an action touches. The user sessions of a server, the
 * ones a selection takes (never the caller's own unless named), the
 * processes kill may end in them (the session user's alone), each target
 * read again right before it is acted on, and the action rows, written as
 * each action is done. */
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "cli.h"

/* ---- The user sessions ---- */

/* The session's texts and the user list's lists they come from, in the
 * lists' order. */
static const struct {
    size_t field, list;
} kUserFields[USER_FIELDS] = {
    {offsetof(UserSession, id), offsetof(UserListRecord, SessionIds)},
    {offsetof(UserSession, name), offsetof(UserListRecord, SessionNames)},
    {offsetof(UserSession, state), offsetof(UserListRecord, SessionStates)},
    {offsetof(UserSession, user), offsetof(UserListRecord, UserNames)},
    {offsetof(UserSession, domain), offsetof(UserListRecord, DomainNames)},
    {offsetof(UserSession, client), offsetof(UserListRecord, ClientNames)},
    {offsetof(UserSession, address), offsetof(UserListRecord, ClientAddresses)},
    {offsetof(UserSession, logon), offsetof(UserListRecord, LogonTimes)},
    {offsetof(UserSession, input), offsetof(UserListRecord, LastInputTimes)},
    {offsetof(UserSession, current), offsetof(UserListRecord, CurrentTimes)},
};

static char** UserField(UserSession* u, int k)
{
    return (char**)((char*)u + kUserFields[k].field);
}

LONG ForEachUser(const char* server, void (*use)(const UserSession* u, void* context), void* context)
{
    UserListRecord* r = NULL;
    LONG result = QRVTS_EnumerateUsersUtf8(server, &r);
    if (result == QRVTS_OK) {
        const char* cursor[USER_FIELDS];
        DWORD i;
        int k;
        for (k = 0; k < USER_FIELDS; ++k)
            memcpy(&cursor[k], (const char*)r + kUserFields[k].list, sizeof cursor[k]);
        for (i = 0; i < r->Count; ++i) {
            UserSession u;
            for (k = 0; k < USER_FIELDS; ++k)
                *UserField(&u, k) = NextItem(&cursor[k]);
            u.session = 0;
            ParseDecimal(u.id, 0xFFFFFFFFul, &u.session);
            use(&u, context);
            for (k = 0; k < USER_FIELDS; ++k)
                free(*UserField(&u, k));
        }
    }
    QRVTS_FreeBuffer(r);
    return result;
}

/* ---- What a selection takes ---- */

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

int OwnSessionOn(const char* server, DWORD* session)
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
 * only one the session's user owns (`user`, that user's SID on the server),
 * and so never one without an owner, nor the system's own accounts
 * (LocalSystem, LocalService, NetworkService), a service's (S-1-5-80-...),
 * the window manager's (S-1-5-90-...) or the font driver's (S-1-5-96-...),
 * nor a process of session 0, nor this program itself. */
static int UsersOwnProcess(int local, const char* user, const char* session, const char* pid, const char* sid)
{
    static const char* const kSystemAccounts[] = {"S-1-5-18", "S-1-5-19", "S-1-5-20", NULL};
    static const char* const kSystemPrefixes[] = {"S-1-5-80-", "S-1-5-90-", "S-1-5-96-", NULL};
    DWORD id = 0;
    int i;
    if (!*sid || strcmp(session, "0") == 0 || _stricmp(sid, user) != 0)
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
#define RESULT_COLUMN 7 /* of both */

const Column* ColumnsOf(const Command* c, const Options* o)
{
    if (c->kind != KIND_ACTION || !o->select.given)
        return c->columns;
    return c->target == TARGET_PROCESS ? kSelectedProcessColumns : kSelectedColumns;
}

/* ---- Read again right before acting ---- */

/* Whether the selected session is still the one selected: the same user,
 * logged on at the same time (a session that logged off and was taken by
 * another logon is not). */
static int SessionUnchanged(const char* server, const UserSession* u)
{
    SessionInfoRecord* r = NULL;
    int same = QRVTS_QuerySessionInfoUtf8(server, u->session, &r) == QRVTS_OK && _stricmp(r->UserName, u->user) == 0 &&
               strcmp(r->LogonTime, u->logon) == 0;
    QRVTS_FreeBuffer(r);
    return same;
}

/* Whether process `pid` still runs in the session with the same owner
 * (an id the system gave again to another program is not the same). */
static int ProcessUnchanged(const char* server, const UserSession* u, const char* pid, const char* sid)
{
    ProcessListRecord* r = NULL;
    int same = 0;
    if (QRVTS_EnumerateProcessesUtf8(server, u->session, FALSE, &r) == QRVTS_OK) {
        const char *pids = r->ProcessIds, *sessions = r->SessionIds, *sids = r->UserSids;
        DWORD i;
        for (i = 0; i < r->Count && !same; ++i) {
            char *p = NextItem(&pids), *s = NextItem(&sessions), *owner = NextItem(&sids);
            same = strcmp(p, pid) == 0 && strcmp(s, u->id) == 0 && _stricmp(owner, sid) == 0;
            free(p), free(s), free(owner);
        }
    }
    QRVTS_FreeBuffer(r);
    return same;
}

/* ---- The rows of an action ---- */

/* Where the rows of an action go as each is done (null: at the end). */
static Stream* ActionRows = NULL;

void ActionRow(const Answer* a, const Row* row)
{
    if (ActionRows)
        StreamOnTime(ActionRows, a, row);
}

/* A row whose action was not done, with the error that says why; written. */
static void NotDone(const Answer* a, Row* row, LONG error, DWORD code)
{
    row->error = error, row->code = code;
    row->values[RESULT_COLUMN] = Copy("");
    ActionRow(a, row);
}

int MayStart(const Answer* a)
{
    return !Interrupted && !Abandoned(a);
}

/* The outcome of one action in the row's last column (empty on a dry run or
 * a failure, whose error the row carries); the row is then written. */
static void Outcome(const Command* c, const Options* o, const Answer* a, DWORD id, Row* row)
{
    DWORD result = 0;
    if (o->dryRun) {
        row->values[RESULT_COLUMN] = Copy("");
    } else {
        row->error = c->act(o, a->server, id, &result);
        row->code = row->error ? QRVTS_GetLastErrorCode() : 0;
        row->values[RESULT_COLUMN] = row->error ? Copy("") : Number(result);
    }
    ActionRow(a, row);
}

typedef struct Acting {
    const Command* command;
    const Options* options;
    Answer* answer;
    int local;  /* the server is this computer, and `own` its session this program runs in */
    DWORD own;
} Acting;

static void ActOnSession(const UserSession* u, void* context)
{
    Acting* x = (Acting*)context;
    const char* values[6] = {x->answer->server, u->id, u->user, u->domain, u->name, u->state};
    Row* row;
    int k;
    if (!MayStart(x->answer) || !Selected(&x->options->select, u) ||
        LeftOut(x->answer->server, x->local, x->own, u, x->options))
        return;
    row = AddRow(x->answer);
    for (k = 0; k < 6; ++k)
        row->values[k] = Copy(values[k]);
    row->values[6] = IdleSeconds(u->current, u->input);
    if (!x->options->dryRun && !SessionUnchanged(x->answer->server, u))
        NotDone(x->answer, row, TARGET_CHANGED, 0);
    else
        Outcome(x->command, x->options, x->answer, u->session, row);
}

/* kill: a row of a process, or of a session none of whose processes was
 * ended (no process values). */
static Row* ProcessRow(Acting* x, const UserSession* u, const char* pid, const char* name, const char* owner)
{
    Row* row = AddRow(x->answer);
    const char* values[RESULT_COLUMN] = {x->answer->server, u->id, u->user, u->domain, pid, name, owner};
    int k;
    for (k = 0; k < RESULT_COLUMN; ++k)
        row->values[k] = Copy(values[k]);
    return row;
}

/* kill: ends the users' own processes of the session in the list `r`. */
static void KillOwnProcesses(Acting* x, const UserSession* u, const ProcessListRecord* r, const char* userSid)
{
    const char *pids = r->ProcessIds, *names = r->ProcessNames, *sessions = r->SessionIds, *sids = r->UserSids;
    DWORD i, pid = 0;
    for (i = 0; i < r->Count; ++i) {
        char *p = NextItem(&pids), *n = NextItem(&names), *s = NextItem(&sessions), *sid = NextItem(&sids);
        if (MayStart(x->answer) && strcmp(s, u->id) == 0 && UsersOwnProcess(x->local, userSid, s, p, sid)) {
            Row* row = ProcessRow(x, u, p, n, sid);
            ParseDecimal(p, 0xFFFFFFFFul, &pid);
            if (!x->options->dryRun && !ProcessUnchanged(x->answer->server, u, p, sid))
                NotDone(x->answer, row, TARGET_CHANGED, 0);
            else
                Outcome(x->command, x->options, x->answer, pid, row);
        }
        free(p), free(n), free(s), free(sid);
    }
}

/* kill: the users' own processes of each selected session, read when the
 * session's turn comes; where its user's account cannot be looked up on
 * the server, nothing of the session is ended. */
static void ActOnProcesses(const UserSession* u, void* context)
{
    Acting* x = (Acting*)context;
    const char* server = x->answer->server;
    ProcessListRecord* r = NULL;
    char userSid[192];
    DWORD code = 0;
    if (!MayStart(x->answer) || !Selected(&x->options->select, u) || LeftOut(server, x->local, x->own, u, x->options))
        return;
    if (!AccountSid(server, u->domain, u->user, userSid, sizeof userSid, &code))
        NotDone(x->answer, ProcessRow(x, u, "", "", ""), ACCOUNT_UNKNOWN, code);
    else if (!x->options->dryRun && !SessionUnchanged(server, u))
        NotDone(x->answer, ProcessRow(x, u, "", "", ""), TARGET_CHANGED, 0);
    else if (QRVTS_EnumerateProcessesUtf8(server, u->session, FALSE, &r) != QRVTS_OK)
        NotDone(x->answer, ProcessRow(x, u, "", "", ""), QRVTS_ENUM_PROCESSES_FAILED, QRVTS_GetLastErrorCode());
    else
        KillOwnProcesses(x, u, r, userSid);
    QRVTS_FreeBuffer(r);
}

LONG RunSelected(const Command* c, const Options* o, Answer* a)
{
    Acting x;
    x.command = c, x.options = o, x.answer = a, x.own = 0;
    x.local = OwnSessionOn(a->server, &x.own);
    return ForEachUser(a->server, c->target == TARGET_PROCESS ? ActOnProcesses : ActOnSession, &x);
}

void WriteActions(const Command* c, const Options* o, Answer* answers)
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
