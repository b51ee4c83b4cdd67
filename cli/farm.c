/* velquor.exe: many servers at once. A bounded number of threads asks the
 * servers of a farm; `wait` and `watch` give every server a thread of its
 * own, as their calls block until the server has something to tell. */
#include <stdlib.h>
#include <string.h>

#include "cli.h"

/* A thread for each server needs little stack: its calls only ask. */
#define SMALL_STACK (64 * 1024)
#define STACK_IS_RESERVATION 0x00010000 /* STACK_SIZE_PARAM_IS_A_RESERVATION */

/* Starts `threads` threads running `work` on `context`, the calling thread
 * being one of them, and waits for them all. A thread that cannot start
 * leaves its share to the others, the calling thread among them: no work
 * is lost. Returns 0 when a wait failed. */
static int RunThreads(LPTHREAD_START_ROUTINE work, void* context, int threads)
{
    HANDLE* handles = (HANDLE*)Allocate(sizeof(HANDLE) * (size_t)(threads > 1 ? threads : 1));
    int t, started = 0, ok = 1;
    for (t = 1; t < threads; ++t) {
        HANDLE h = CreateThread(NULL, SMALL_STACK, work, context, STACK_IS_RESERVATION, NULL);
        if (h)
            handles[started++] = h;
    }
    work(context);
    for (t = 0; t < started; ++t) {
        ok &= WaitForSingleObject(handles[t], INFINITE) != WAIT_FAILED;
        CloseHandle(handles[t]);
    }
    free(handles);
    return ok;
}

/* ---- Every command that answers once per server ---- */

typedef struct Farm {
    const Command* command;
    const Options* options;
    Answer* answers;
    int count;
    volatile LONG next;
} Farm;

static DWORD WINAPI AskWorker(void* context)
{
    Farm* farm = (Farm*)context;
    for (;;) {
        LONG i = InterlockedIncrement(&farm->next) - 1;
        Answer* a;
        if (i >= farm->count || Interrupted)
            return 0;
        a = &farm->answers[i];
        a->error = farm->command->run(farm->command, farm->options, a->server, a);
        a->code = a->error ? QRVTS_GetLastErrorCode() : 0;
    }
}

void AskFarm(const Command* c, const Options* o, Answer* answers, int threads)
{
    Farm farm;
    farm.command = c, farm.options = o, farm.answers = answers, farm.count = o->serverCount, farm.next = 0;
    if (!RunThreads(AskWorker, &farm, threads < o->serverCount ? threads : o->serverCount)) {
        ErrorLine("velquor: could not wait for the threads asking the servers\n");
        ExitProcess(EXIT_ALL_FAILED);
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
        HANDLE h = CreateThread(NULL, SMALL_STACK, work, s, STACK_IS_RESERVATION, NULL);
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

/* Every difference between two readings, as events; how many. */
static int Differences(Streaming* s, const char* server, const char* before, const char* after, DWORD flags)
{
    const char* p;
    char line[1024], old[1024];
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
            Event(s, server, "logoff", id, oldState, oldUser, flags);
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
            Event(s, server, "logoff", id, state, user, flags), ++n;
    }
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
