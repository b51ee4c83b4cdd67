/* velquor.exe: what its parts share. Every text is UTF-8. */
#ifndef VELQUOR_CLI_H
#define VELQUOR_CLI_H

#include <stdio.h>
#include <windows.h>

#include "velquor.h"
#include "support/wtsplatform.h"

#define EXIT_ANSWERED 0
#define EXIT_ALL_FAILED 1
#define EXIT_USAGE 2
#define EXIT_SOME_FAILED 3
#define EXIT_INTERRUPTED 4 /* what was done before the interrupt is printed */
/* A row's errors of the tool's own. */
#define TARGET_CHANGED 2000  /* its target changed since it was selected */
#define ACCOUNT_UNKNOWN 2001 /* the session user's account could not be looked up on its server */
#define NO_ANSWER 2002       /* the server did not answer within the deadline */
#define NEEDS_WINDOWS_7 2003 /* what was asked needs Windows 7 or Server 2008 R2 on the server */
#define NEEDS_VISTA_SP1 2004 /* what was asked needs Windows Vista SP1 or Server 2008 */
#define REPORT_DEADLINE 30   /* seconds a report waits for each server unless --timeout says */
#define MAX_FIELDS 40
#define OWN_SESSION WTS_CURRENT_SESSION /* the caller's own session, where one session is meant */
#define ALL_SESSIONS 0xFFFFFFFFul       /* every session, for the processes (the library's filter) */

/* ---- Output records: a row is the values of the command's columns. ---- */

typedef struct Column {
    const char* name;
    int numeric; /* a number in JSON */
} Column;

/* A row, and the failure of the action it reports (error 0: none). */
typedef struct Row {
    char* values[MAX_FIELDS];
    LONG error;
    DWORD code;
} Row;

/* What one server answered: rows, or an error. */
typedef struct Answer {
    const char* server;
    LONG error;
    DWORD code;
    Row* rows;
    int count, capacity;
    struct Slot* slot; /* the farm's record of the server's turn (null: none) */
} Answer;

/* ---- What was asked ---- */

/* Which user sessions an action takes instead of one id (all given
 * conditions hold; `given` when there is any). */
typedef struct Selection {
    const char* user;
    const char* domain; /* null: any */
    const char* state;
    const char* sessionName;
    DWORD idleOver;
    int idleGiven, all, given;
} Selection;

typedef struct Options {
    const char** servers;
    int serverCount, serverCapacity, serverGiven;
    const char* format;
    int extended, wait, parallel, dryRun;
    int sort, topGiven; /* SORT_...; --top given */
    DWORD top;
    DWORD second;         /* connect: the target session */
    int stop;             /* shadow --stop */
    int untilRestart;     /* logons drain --until-restart */
    const char* password; /* connect: from --password-stdin */
    DWORD session, exitCode, style, timeout, count;
    int sessionGiven, timeoutGiven, countGiven;
    const char* args[3];
    int argCount;
    DWORD target; /* the first argument, parsed */
    int targetCurrent;
    Selection select;
} Options;

typedef struct Command Command;
typedef LONG (*RunFn)(const Command* c, const Options* o, const char* server, Answer* a);
struct Command {
    const char* name;
    const char* usage;
    const char* summary;
    int args, maxArgs;   /* arguments without a selection */
    int kind;            /* KIND_... */
    int target;          /* TARGET_...: what the first argument is */
    const Column* columns;
    RunFn run;
    /* An action on one session or process, for a selection. */
    LONG (*act)(const Options* o, const char* server, DWORD id, DWORD* result);
    DWORD flags;  /* TARGET_MASK: the bits the platform takes (0: any) */
    int deadline; /* DEADLINE_...: how long each server's answer is awaited */
    const char* const* words; /* the first argument is one of these (null: any) */
};

enum { KIND_LOCAL, KIND_SERVER, KIND_ACTION, KIND_WAIT, KIND_WATCH };
enum { SORT_NONE, SORT_MEMORY, SORT_CPU };
/* No deadline (--timeout is the command's own, or there is no server);
 * REPORT_DEADLINE unless --timeout says; only as --timeout says. */
enum { DEADLINE_NONE, DEADLINE_REPORT, DEADLINE_GIVEN };
enum { TARGET_NONE, TARGET_SESSION, TARGET_PROCESS, TARGET_MASK };

/* One user session, as the user list gives it. */
#define USER_FIELDS 10
typedef struct UserSession {
    char *id, *name, *state, *user, *domain, *client, *address, *logon, *input, *current;
    DWORD session; /* the id as a number */
} UserSession;

/* ---- The commands (commands.c) ---- */
const Command* Commands(void); /* the table, ending with a null name */
const Command* FindCommand(const char* name);

/* ---- What an action touches (targets.c) ---- */
/* Calls `use` with every user session of the server; returns its error. */
LONG ForEachUser(const char* server, void (*use)(const UserSession* u, void* context), void* context);
/* The session this program runs in, where `server` is this computer (the
 * empty name, or this computer's own); 0 elsewhere, where it has none. */
int OwnSessionOn(const char* server, DWORD* session);
const Column* ColumnsOf(const Command* c, const Options* o);
/* The action on every session (or its processes) the selection takes. */
LONG RunSelected(const Command* c, const Options* o, Answer* a);
/* Whether another action may start on the server (no interrupt, the
 * answer still awaited). */
int MayStart(const Answer* a);
/* An action's row, written as soon as it is done (unless the server's
 * answer is no longer awaited). */
void ActionRow(const Answer* a, const Row* row);
/* An action on every server, each row written as soon as it is done; a
 * server that failed as a whole is a row of its own at the end. */
void WriteActions(const Command* c, const Options* o, Answer* answers);

/* ---- What newer servers tell and do (newer.c) ---- */
/* Whether a failure means the server's Windows is older than asked for. */
int NeedsNewerWindows(LONG error, DWORD code);
/* The users rows' lock state and traffic (from `firstColumn` on) and exact
 * idle time, matched by the session id in `sessionColumn`. */
void AddUserDetails(const char* server, Answer* a, int sessionColumn, int idleColumn, int firstColumn);
/* The same for one session's row, with the compressed traffic too. */
void AddSessionDetails(const char* server, DWORD session, Row* row, int idleColumn, int firstColumn);
/* The processes with what each uses, sorted and cut as asked. */
LONG AddProcessResources(const Options* o, const char* server, Answer* a);
LONG ActConnect(const Options* o, const char* server, DWORD id, DWORD* result);
LONG ActShadow(const Options* o, const char* server, DWORD id, DWORD* result);
LONG RunServers(const Command* c, const Options* o, const char* server, Answer* a);
LONG RunLogons(const Command* c, const Options* o, const char* server, Answer* a);
extern const char* const kLogonCommands[];

/* ---- Whose a process is (accounts.c) ---- */
/* The SID, as text, of the account DOMAIN\USER (USER alone where the domain
 * is empty) on `server`; 0 with the platform's code when it is not found. */
int AccountSid(const char* server, const char* domain, const char* user, char* sid, size_t size, DWORD* code);

/* ---- Helpers every part may use (text.c) ---- */
void* Allocate(size_t bytes);
char* Copy(const char* text);
char* Number(unsigned long value);
/* Conversions between UTF-8 and wide text, in new allocations. */
WCHAR* WideText(const char* utf8);
char* Utf8Text(const WCHAR* wide);
Row* AddRow(Answer* a);
char* NextItem(const char** list);
char* IsoTime(const char* text);
char* IdleSeconds(const char* current, const char* lastInput);
char* NowIso(void);
/* Numbers of the command line, exactly what they say; 0 when refused:
 * decimal digits up to `max`; a mask in decimal or 0x and at most eight
 * hexadecimal digits; a duration, a number and s, m, h or d. */
int ParseDecimal(const char* text, DWORD max, DWORD* value);
int ParseMask(const char* text, DWORD* value);
int ParseDuration(const char* text, DWORD* seconds);

/* ---- The servers to ask (servers.c) ---- */
/* A server, once whatever the case of its letters. */
void AddServer(Options* o, const char* name);
/* A comma-separated list of names, or @FILE; NULL when taken, else what is
 * wrong with the file. */
const char* AddServers(Options* o, char* list);
extern const char kDomainFailed[];

/* ---- Writers (output.c) ---- */
void ErrorText(LONG error, char* text, DWORD size);
/* The deadline (seconds) the text of NO_ANSWER names. */
void NoAnswerAfter(DWORD seconds);
void WriteAnswers(const Column* columns, const char* format, const Answer* answers, int count);
void LookUpKernel(const char* name, void* entry);
/* A line to standard error, printf-style (UTF-8): to a console as wide text. */
void ErrorLine(const char* format, ...);

/* Rows written as they come, from several threads: a table with columns of
 * fixed width, CSV, JSON (an array, or one object a line). */
typedef struct Stream {
    const Column* columns;
    const char* format;
    int jsonLines, written, counted; /* rows written; those of them written under a limit */
    int ended;                       /* the stream's end is written: no row comes after it */
    size_t width[MAX_FIELDS];
    CRITICAL_SECTION lock;
} Stream;
void StreamStart(Stream* s, const Column* columns, const char* format, int jsonLines, const Options* o);
/* Writes the row unless `limit` rows under a limit were written (0: no
 * limit, and the row is not counted); returns how many rows under a limit
 * were written, this one included (1 for an unlimited row), or 0 when the
 * row was refused. */
int StreamRow(Stream* s, const char* server, const Row* row, DWORD limit);
void StreamEnd(Stream* s);

/* ---- Many servers at once (farm.c) ---- */
/* Asks every server, `threads` at a time; a server that has not answered
 * within the command's deadline is left (its thread writes nothing more)
 * and its answer is NO_ANSWER. */
void AskFarm(const Command* c, const Options* o, Answer* answers, int threads);
/* Whether the server's answer is no longer awaited: its deadline passed. */
int Abandoned(const Answer* a);
/* Writes an action's row unless the server's answer is no longer awaited;
 * once it is not, no row of that server is written. */
void StreamOnTime(Stream* s, const Answer* a, const Row* row);
/* Set by an interrupt (Ctrl+C, the console closing) once CatchInterrupts
 * has installed its handler; InterruptsDone lets the process end. */
extern volatile LONG Interrupted;
void CatchInterrupts(void);
void InterruptsDone(void);
int WaitFarm(const Options* o);
int WatchFarm(const Options* o);

#endif
