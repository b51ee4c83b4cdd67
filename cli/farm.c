/* velquor.exe: many servers at once. A bounded number of threads asks the
 * servers of a farm; `wait` and `watch` give every server a thread of its
 * own, as their calls block until the server has something to tell. */
#include <stdlib.h>
#include <string.h>

#include "cli.h"

/* A thread for each server needs little stack: its calls only ask. */
#define SMALL_STACK (64 * 1024)
/* How long a thread that has answered is given to end, in milliseconds. */
#define THREAD_END_WAIT 5000

/* ---- Every command that answers once per server ---- */

/* A server's turn: waiting for a thread, asked, answered, or left when its
 * deadline passed. A thread left in a call to a server that does not answer
 * holds its slot and its farm until the process ends: neither is freed. */
enum { TURN_WAITING, TURN_ASKED, TURN_ANSWERED, TURN_LEFT };

typedef struct Farm Farm;
struct Slot {
    Farm* farm;
    Answer* answer; /* the caller's, written once, when the answer comes in time */
    volatile LONG turn;
    DWORD since; /* the tick count when the server was asked */
    HANDLE thread;
};
struct Farm {
    const Command* command;
    const Options* options;
    CRITICAL_SECTION lock; /* the turns, and the rows written in them */
    HANDLE answered;       /* set as each answer comes */
};

int Abandoned(const Answer* a)
{
    return a->slot && a->slot->turn == TURN_LEFT;
}

void StreamOnTime(Stream* s, const Answer* a, const Row* row)
{
    if (!a->slot) {
        StreamRow(s, a->server, row, 0);
        return;
    }
    EnterCriticalSection(&a->slot->farm->lock);
    if (a->slot->turn == TURN_ASKED)
        StreamRow(s, a->server, row, 0);
    LeaveCriticalSection(&a->slot->farm->lock);
}

/* Asks one server into an answer of its own, handed over only while the
 * answer is awaited. */
static DWORD WINAPI AskOne(void* context)
{
    struct Slot* slot = (struct Slot*)context;
    Farm* farm = slot->farm;
    Answer mine;
    memset(&mine, 0, sizeof mine);
    mine.server = slot->answer->server, mine.slot = slot;
    mine.error = farm->command->run(farm->command, farm->options, mine.server, &mine);
    mine.code = mine.error ? QRVTS_GetLastErrorCode() : 0;
    EnterCriticalSection(&farm->lock);
    if (slot->turn == TURN_ASKED) {
        mine.slot = NULL;
        *slot->answer = mine;
        slot->turn = TURN_ANSWERED;
    }
    LeaveCriticalSection(&farm->lock);
    SetEvent(farm->answered);
    return 0;
}

/* How long each server's answer is awaited, in seconds; 0: without end. */
static DWORD DeadlineOf(const Command* c, const Options* o)
{
    if (c->deadline == DEADLINE_REPORT)
        return o->timeoutGiven ? o->timeout : REPORT_DEADLINE;
    return c->deadline == DEADLINE_GIVEN && o->timeoutGiven ? o->timeout : 0;
}

/* Asks the next waiting server on a thread of its own; 0 when none could
 * start (the server waits for another try). */
static int StartNext(struct Slot* slots, int* next)
{
    struct Slot* slot = &slots[*next];
    slot->turn = TURN_ASKED, slot->since = GetTickCount();
    slot->thread = CreateThread(NULL, SMALL_STACK, AskOne, slot, STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
    if (!slot->thread) {
        slot->turn = TURN_WAITING;
        return 0;
    }
    ++*next;
    return 1;
}

/* Looks at the servers being asked: those answered free their thread's
 * place, those past the deadline are left. Returns how many are still
 * being asked, and in `wait` the milliseconds until the next deadline. */
static int Review(Farm* farm, struct Slot* slots, int next, DWORD deadline, DWORD* wait)
{
    int i, asked = 0;
    *wait = INFINITE;
    EnterCriticalSection(&farm->lock);
    for (i = 0; i < next; ++i) {
        struct Slot* slot = &slots[i];
        DWORD spent = GetTickCount() - slot->since;
        if (slot->turn != TURN_ASKED)
            continue;
        if (deadline && spent >= deadline * 1000) {
            slot->turn = TURN_LEFT;
            slot->answer->error = NO_ANSWER, slot->answer->code = ERROR_TIMEOUT;
            continue;
        }
        ++asked;
        if (deadline && deadline * 1000 - spent < *wait)
            *wait = deadline * 1000 - spent;
    }
    LeaveCriticalSection(&farm->lock);
    return asked;
}

void AskFarm(const Command* c, const Options* o, Answer* answers, int threads)
{
    Farm* farm = (Farm*)Allocate(sizeof(Farm)); /* kept: a left thread may still use it */
    struct Slot* slots = (struct Slot*)Allocate(sizeof(struct Slot) * (size_t)o->serverCount);
    DWORD deadline = DeadlineOf(c, o), wait;
    int i, next = 0, asked = 0;
    farm->command = c, farm->options = o;
    InitializeCriticalSection(&farm->lock);
    farm->answered = CreateEventA(NULL, FALSE, FALSE, NULL);
    NoAnswerAfter(deadline);
    for (i = 0; i < o->serverCount; ++i)
        slots[i].farm = farm, slots[i].answer = &answers[i];
    for (;;) {
        while (next < o->serverCount && asked < threads && !Interrupted && StartNext(slots, &next))
            ++asked;
        if (asked == 0 && next < o->serverCount && !Interrupted) {
            /* No thread could start: this one asks, without a deadline. */
            slots[next].turn = TURN_ASKED;
            AskOne(&slots[next++]);
        }
        asked = Review(farm, slots, next, deadline, &wait);
        if (asked == 0 && (next == o->serverCount || Interrupted))
            break;
        if (!farm->answered || WaitForSingleObject(farm->answered, wait == INFINITE ? 1000 : wait) == WAIT_FAILED)
            Sleep(100);
    }
    /* A thread that answered has only its end left: it ends before the
     * answers are written and the process exits, so that no thread is still
     * on its way out of the libraries while they are taken down. */
    for (i = 0; i < next; ++i)
        if (slots[i].thread) {
            if (slots[i].turn == TURN_ANSWERED)
                WaitForSingleObject(slots[i].thread, THREAD_END_WAIT);
            CloseHandle(slots[i].thread);
        }
}

/* ---- Streams: every server at once, until each is done or the time is up ---- */

/* A thread a server, and the end: every server done, or `stop` set (by
 * --timeout, --count or an interruption). */
typedef struct Streaming {
    const Options* options;
    Stream out;
    volatile LONG next, done, stopping, failed;
    HANDLE stop;
} Streaming;

static Streaming* Streamed = NULL;
volatile LONG Interrupted = 0;
static HANDLE Finished = NULL;

/* Ctrl+C, Ctrl+Break or the console closing: no new action or server is
 * started, the calls in progress finish, and what was done is printed. The
 * system ends a process a few seconds after its console closed: until
 * then the handler holds it, so that the end can be written. */
static BOOL WINAPI OnInterrupt(DWORD event)
{
    InterlockedExchange(&Interrupted, 1);
    if (Streamed)
        SetEvent(Streamed->stop);
    if (Finished && event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        WaitForSingleObject(Finished, 4000);
    return TRUE;
}

void CatchInterrupts(void)
{
    typedef BOOL(WINAPI * SetHandlerFn)(PHANDLER_ROUTINE, BOOL);
    SetHandlerFn setHandler;
    Finished = CreateEventA(NULL, TRUE, FALSE, NULL);
    LookUpKernel("SetConsoleCtrlHandler", &setHandler);
    if (setHandler)
        setHandler(OnInterrupt, TRUE);
}

void InterruptsDone(void)
{
    if (Finished)
        SetEvent(Finished);
}

/* The next server for a thread; NULL when every server has its thread. */
static const char* NextServer(Streaming* s)
{
    LONG i = InterlockedIncrement(&s->next) - 1;
    return i < s->options->serverCount ? s->options->servers[i] : NULL;
}

/* One server is done; the last one ends the stream. */
static void ServerDone(Streaming* s)
{
    if (InterlockedIncrement(&s->done) >= s->options->serverCount)
        SetEvent(s->stop);
}

/* A server whose thread could not start: an error row, and it is done. */
static void NoThread(Streaming* s)
{
    const char* server = NextServer(s);
    Row row;
    int k;
    if (!server)
        return;
    memset(&row, 0, sizeof row);
    row.error = QRVTS_OUT_OF_MEMORY;
    row.code = GetLastError();
    for (k = 0; s->out.columns[k].name; ++k)
        row.values[k] = Copy(strcmp(s->out.columns[k].name, "server") == 0 ? server : "");
    StreamRow(&s->out, server, &row, 0);
    for (k = 0; s->out.columns[k].name; ++k)
        free(row.values[k]);
    InterlockedIncrement(&s->failed);
    ServerDone(s);
}

/* The platform's flush, on every server: it ends the waits in progress. */
static void FlushAll(const Options* o)
{
    int i;
    for (i = 0; i < o->serverCount; ++i) {
        DWORD ignored;
        QRVTS_WaitSystemEventUtf8(o->servers[i], WTS_EVENT_FLUSH, &ignored);
    }
}

/* Runs `work` a thread a server until every server is done or the stop
 * comes; then the platform's flush ends the waits still blocked. */
static void RunStream(Streaming* s, LPTHREAD_START_ROUTINE work)
{
    DWORD deadline = s->options->timeoutGiven ? s->options->timeout * 1000 : INFINITE;
    HANDLE* threads = (HANDLE*)Allocate(sizeof(HANDLE) * (size_t)s->options->serverCount);
    int t, started = 0, round;
    s->stop = CreateEventA(NULL, TRUE, FALSE, NULL);
    Streamed = s;
    if (Interrupted)
        SetEvent(s->stop);
    for (t = 0; t < s->options->serverCount; ++t) {
        HANDLE h = CreateThread(NULL, SMALL_STACK, work, s, STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
        if (h)
            threads[started++] = h;
        else
            NoThread(s); /* its calls would block this thread: the server is reported instead */
    }
    if (!s->stop || (s->done < s->options->serverCount && WaitForSingleObject(s->stop, deadline) == WAIT_FAILED))
        ErrorLine("velquor: cannot wait for the servers; stopping\n");
    InterlockedExchange(&s->stopping, 1);
    /* The flush releases the waits in progress; one that a thread was only
     * about to begin is released by the next round's flush, a second
     * later. A thread still in a call to a server that does not answer
     * after ten rounds is left to the end of the process. */
    for (round = 0; started > 0 && round < 10; ++round) {
        DWORD until = GetTickCount() + 1000;
        FlushAll(s->options);
        for (t = 0; t < started; ++t) {
            DWORD now = GetTickCount(), left = (LONG)(until - now) > 0 ? until - now : 0;
            if (WaitForSingleObject(threads[t], left) != WAIT_OBJECT_0)
                continue;
            CloseHandle(threads[t]);
            threads[t--] = threads[--started];
        }
    }
    if (started > 0)
        ErrorLine("velquor: a server's thread did not end; its answer is left out\n");
    free(threads);
}

/* ---- wait: every server's events as they come ---- */

static const Column kWaitColumns[] = {{"server", 0}, {"target", 1}, {"result", 1}, {NULL, 0}};

static DWORD WINAPI WaitWorker(void* context)
{
    Streaming* s = (Streaming*)context;
    const char* server = NextServer(s);
    DWORD events = 0;
    Row row;
    LONG error;
    if (!server)
        return 0;
    error = QRVTS_WaitSystemEventUtf8(server, s->options->target, &events);
    memset(&row, 0, sizeof row);
    row.code = error ? QRVTS_GetLastErrorCode() : 0;
    if (!error && s->stopping && events == 0)
        error = QRVTS_WAIT_FAILED, row.code = ERROR_TIMEOUT; /* released by the flush: no answer in time */
    row.error = error;
    row.values[0] = Copy(server);
    row.values[1] = Number(s->options->target);
    row.values[2] = error ? Copy("") : Number(events);
    if (error)
        InterlockedIncrement(&s->failed);
    StreamRow(&s->out, server, &row, 0);
    ServerDone(s);
    return 0;
}

/* The exit status of a stream: as for a farm's answers. */
static int StreamStatus(const Streaming* s)
{
    return s->failed == 0 ? EXIT_ANSWERED : s->failed >= s->options->serverCount ? EXIT_ALL_FAILED : EXIT_SOME_FAILED;
}

int WaitFarm(const Options* o)
{
    static Streaming s;
    s.options = o;
    StreamStart(&s.out, kWaitColumns, o->format, 0, o);
    RunStream(&s, WaitWorker);
    /* A server whose wait has not come back by now gave no answer in time. */
    InterlockedExchange(&s.failed, s.failed + (o->serverCount - s.done));
    StreamEnd(&s.out);
    return StreamStatus(&s);
}

/* ---- watch: the differences of the user sessions after each event ---- */

static const Column kWatchColumns[] = {{"time", 0}, {"server", 0}, {"event", 0}, {"session", 1}, {"state", 0},
                                       {"user", 0}, {"flags", 1}, {NULL, 0}};
#define WATCH_FIELDS 7

/* The user sessions as last read: "id TAB state TAB user" a line. */
typedef struct Known {
    char* lines;
} Known;

static char* ReadUsers(const char* server, LONG* error)
{
    UserListRecord* r = NULL;
    char* lines = NULL;
    *error = QRVTS_EnumerateUsersUtf8(server, &r);
    if (*error == QRVTS_OK) {
        const char *ids = r->SessionIds, *states = r->SessionStates, *users = r->UserNames;
        size_t size = strlen(ids) + strlen(states) + strlen(users) + 3 * (size_t)r->Count + 1, at = 0;
        DWORD i;
        lines = (char*)Allocate(size);
        for (i = 0; i < r->Count; ++i) {
            char *id = NextItem(&ids), *state = NextItem(&states), *user = NextItem(&users);
            at += (size_t)sprintf(lines + at, "%s\t%s\t%s\n", id, state, user);
            free(id), free(state), free(user);
        }
    }
    QRVTS_FreeBuffer(r);
    return lines;
}

/* Copies the line at `p` (every line ends in a newline) into `line`, cut
 * to fit; returns the start of the next line. */
static const char* CopyLine(const char* p, char* line, size_t size)
{
    const char* end = strchr(p, '\n');
    size_t length = (size_t)(end - p) < size - 1 ? (size_t)(end - p) : size - 1;
    memcpy(line, p, length);
    line[length] = '\0';
    return end + 1;
}

/* The line of session `id` in `lines`, copied into `line`; 0 when none. */
static int FindSession(const char* lines, const char* id, char* line, size_t size)
{
    size_t n = strlen(id);
    const char* p;
    for (p = lines; *p; p = strchr(p, '\n') + 1)
        if (strncmp(p, id, n) == 0 && p[n] == '\t') {
            CopyLine(p, line, size);
            return 1;
        }
    return 0;
}

/* One event line; `flags` are the platform's events of the wake-up that
 * showed it (0 for a difference seen on a reading after a failure). */
static void Event(Streaming* s, const char* server, const char* event, const char* id, const char* state,
                  const char* user, DWORD flags)
{
    const DWORD limit = s->options->countGiven ? s->options->count : 0;
    const char* values[WATCH_FIELDS - 1] = {NULL, server, event, id, state, user};
    Row row;
    int k, counted;
    memset(&row, 0, sizeof row);
    for (k = 0; k < WATCH_FIELDS - 1; ++k)
        row.values[k] = k ? Copy(values[k]) : NowIso();
    row.values[WATCH_FIELDS - 1] = Number(flags);
    counted = StreamRow(&s->out, server, &row, limit);
    if (limit && (counted == 0 || (DWORD)counted >= limit))
        SetEvent(s->stop);
    for (k = 0; k < WATCH_FIELDS; ++k)
        free(row.values[k]);
}

/* The event of a change of state. */
static const char* StateEvent(const char* before, const char* after)
{
    if (strcmp(after, "DISCONNECTED") == 0)
        return "disconnect";
    if (strcmp(before, "DISCONNECTED") == 0 || strcmp(before, "CONNECTQUERY") == 0)
        return "connect";
    return "state";
}

/* Splits a line "id TAB state TAB user" in place. */
static void Fields(char* line, char** id, char** state, char** user)
{
    *id = line;
    *state = strchr(line, '\t');
    *(*state)++ = '\0';
    *user = strchr(*state, '\t');
    *(*user)++ = '\0';
}

/* The state a session was left in by its user's logoff: the server's
 * sessions, read once for every logoff of a reading (`*sessions`), say it;
 * empty when the session is gone. */
static char* LeftState(const char* server, const char* id, char** sessions)
{
    char line[1024], *state = NULL, *ignored;
    if (!*sessions) {
        SessionListRecord* r = NULL;
        if (QRVTS_EnumerateSessionsUtf8(server, FALSE, &r) == QRVTS_OK) {
            const char *ids = r->SessionIds, *states = r->SessionStates;
            size_t at = 0;
            DWORD i;
            *sessions = (char*)Allocate(strlen(ids) + strlen(states) + 3 * (size_t)r->Count + 1);
            for (i = 0; i < r->Count; ++i) {
                char *n = NextItem(&ids), *st = NextItem(&states);
                at += (size_t)sprintf(*sessions + at, "%s\t%s\t\n", n, st);
                free(n), free(st);
            }
        } else {
            *sessions = Copy("");
        }
        QRVTS_FreeBuffer(r);
    }
    if (!FindSession(*sessions, id, line, sizeof line))
        return Copy("");
    Fields(line, &ignored, &state, &ignored);
    return Copy(state);
}

static void Logoff(Streaming* s, const char* server, const char* id, const char* user, DWORD flags, char** sessions)
{
    char* state = LeftState(server, id, sessions);
    Event(s, server, "logoff", id, state, user, flags);
    free(state);
}

/* Every difference between two readings, as events; how many. */
static int Differences(Streaming* s, const char* server, const char* before, const char* after, DWORD flags)
{
    const char* p;
    char line[1024], old[1024], *sessions = NULL;
    int n = 0;
    for (p = after; *p;) {
        char *id, *state, *user, *oldId, *oldState, *oldUser;
        p = CopyLine(p, line, sizeof line);
        Fields(line, &id, &state, &user);
        if (!FindSession(before, id, old, sizeof old)) {
            Event(s, server, "logon", id, state, user, flags), ++n;
            continue;
        }
        Fields(old, &oldId, &oldState, &oldUser);
        if (strcmp(oldUser, user) != 0) {
            Logoff(s, server, id, oldUser, flags, &sessions);
            Event(s, server, "logon", id, state, user, flags), n += 2;
        } else if (strcmp(oldState, state) != 0) {
            Event(s, server, StateEvent(oldState, state), id, state, user, flags), ++n;
        }
    }
    for (p = before; *p;) {
        char *id, *state, *user;
        p = CopyLine(p, line, sizeof line);
        Fields(line, &id, &state, &user);
        if (!FindSession(after, id, old, sizeof old))
            Logoff(s, server, id, user, flags, &sessions), ++n;
    }
    free(sessions);
    return n;
}

/* A failure of the server, as an event; then a wait before the next try
 * that doubles from one second up to WATCH_BACKOFF_CAP, cut short by the
 * stop. */
#define WATCH_BACKOFF_CAP 60000
static void Failed(Streaming* s, const char* server, LONG error, DWORD* backOff)
{
    Row row;
    int k;
    memset(&row, 0, sizeof row);
    row.error = error;
    row.code = QRVTS_GetLastErrorCode();
    row.values[0] = NowIso();
    row.values[1] = Copy(server);
    row.values[2] = Copy("error");
    for (k = 3; k < WATCH_FIELDS; ++k)
        row.values[k] = Copy("");
    StreamRow(&s->out, server, &row, 0);
    for (k = 0; k < WATCH_FIELDS; ++k)
        free(row.values[k]);
    WaitForSingleObject(s->stop, *backOff);
    *backOff = *backOff * 2 > WATCH_BACKOFF_CAP ? WATCH_BACKOFF_CAP : *backOff * 2;
}

/* One server watched: a reading, then a wait for any event (which blocks
 * until the server has one, or the stop flushes it), then a reading again
 * and the differences. A wake-up whose reading shows none is still told,
 * as the event "other" with the platform's flags. The server counts as
 * failed when its last try failed. */
static DWORD WINAPI WatchWorker(void* context)
{
    Streaming* s = (Streaming*)context;
    const char* server = NextServer(s);
    char* known = NULL;
    DWORD backOff = 1000, events = 0;
    LONG error;
    int failing = 0;
    if (!server)
        return 0;
    while (!s->stopping) {
        char* now = ReadUsers(server, &error);
        if (!now) {
            failing = 1;
            Failed(s, server, error, &backOff);
            continue;
        }
        failing = 0, backOff = 1000;
        if (known && Differences(s, server, known, now, events) == 0 && events && !s->stopping)
            Event(s, server, "other", "", "", "", events);
        free(known);
        known = now;
        if (s->stopping)
            break;
        events = 0;
        error = QRVTS_WaitSystemEventUtf8(server, WTS_EVENT_ALL, &events);
        if (error && !s->stopping) {
            failing = 1;
            Failed(s, server, error, &backOff);
        }
    }
    free(known);
    if (failing)
        InterlockedIncrement(&s->failed);
    return 0;
}

int WatchFarm(const Options* o)
{
    static Streaming s;
    s.options = o;
    StreamStart(&s.out, kWatchColumns, o->format, 1, o);
    RunStream(&s, WatchWorker);
    StreamEnd(&s.out);
    return StreamStatus(&s);
}
