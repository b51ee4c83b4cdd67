/* velquor: the terminal services of one server or a farm of them, from the
 * command line, as a table for people or as CSV or JSON for scripts. Built
 * on the QRVTS_ C API alone (include/velquor.h and the import library),
 * through its UTF-8 exports: every text here is UTF-8, from the command
 * line (read as wide text) to the output (written to a console as wide
 * text), so that a name in any script arrives whole.
 * `velquor --help` says what it does; docs/reference.md has it all.
 *
 * This file: the arguments, the help and the exit status. commands.c has
 * the commands, targets.c what an action touches (accounts.c whose a
 * process is), servers.c the servers to ask, farm.c asks many at once and
 * keeps their deadlines, output.c writes the answers, text.c holds the
 * helpers all of them use. */
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "cli.h"

#ifndef VELQUOR_VERSION_TEXT
#error "the build passes the version as VELQUOR_VERSION_TEXT"
#endif

/* ---- Arguments ---- */

static const char kSelectionUsage[] = "ID|--all|--user NAME|--state STATE|--idle-over TIME|--session-name NAME";

static void Help(const Command* only)
{
    const Command* c;
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
    for (c = Commands(); c->name; ++c)
        printf("  %s\r\n      %s\r\n", c->usage, c->summary);
    printf("\r\n  --server NAME    a server to ask; repeat it or give a comma-separated list (none: this one)\r\n"
           "  --server @FILE   the servers named in FILE, one a line (# starts a comment)\r\n"
           "  --server @domain:NAME  the terminal servers of domain NAME, as the network lists them\r\n"
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
           "selection ends only the processes the session's user owns (the user's SID looked up on\r\n"
           "that server): never another user's, the system's, a service's, the window manager's,\r\n"
           "the font driver's, an ownerless one, session 0's or its own. Each target is read again\r\n"
           "right before the action; one changed since it was selected is left alone.\r\n"
           "--timeout SECONDS bounds each server's answer: 30 s for the reports unless it says\r\n"
           "(0: without end); disconnect, logoff, kill and shutdown only when it is given.\r\n"
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
    if (strcmp(option, "--top") == 0)
        return o->topGiven = ParseDecimal(value, 0xFFFFFFFFul, &o->top) && o->top > 0;
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
        {"--top", "--top takes decimal digits, 1 to 4294967295: "},
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

/* connect's second session: an id or current. */
static int ParseSecond(Options* o)
{
    if (strcmp(o->args[1], "current") == 0) {
        o->second = OWN_SESSION;
        return 1;
    }
    return ParseDecimal(o->args[1], 0xFFFFFFFEul, &o->second);
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

/* Whether the command acts (its rows written as each is done, a dry run
 * taken): the actions, and logons. */
static int Acts(const Command* c)
{
    return c->act != NULL || c->run == RunLogons;
}

/* The options that only some commands take; NULL when they agree, else
 * what is wrong. */
static const char* OnlyFor(const Command* c, const Options* o)
{
    if ((o->sort != SORT_NONE || o->topGiven) && strcmp(c->name, "processes") != 0)
        return "--sort and --top are for processes";
    if (o->stop && c->act != ActShadow)
        return "--stop is for shadow";
    if (o->stop && RemoteServer(o))
        return "shadow --stop ends the remote control from this computer: it takes no --server";
    if (o->untilRestart && !(c->words == kLogonCommands && o->argCount && strcmp(o->args[0], "drain") == 0))
        return "--until-restart is for logons drain";
    if (o->password && c->act != ActConnect)
        return "--password-stdin is for connect";
    if (c->words && o->argCount && !IsOneOf(o->args[0], c->words))
        return "the first argument is status, enable, disable or drain: ";
    return NULL;
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
    if (o->dryRun && !Acts(c))
        return Usage("--dry-run is for the actions (disconnect, logoff, kill, msg, shutdown, connect, shadow, logons)",
                     NULL, c);
    if (OnlyFor(c, o))
        return Usage(OnlyFor(c, o), c->words && o->argCount ? o->args[0] : NULL, c);
    if (o->select.all && o->select.given)
        return Usage("--all takes no other condition", NULL, c);
    o->select.given = selecting;
    if (o->argCount < wanted)
        return Usage(c->kind == KIND_ACTION ? "needs an id or a selection" : "too few arguments", NULL, c);
    if (o->argCount > most)
        return Usage(selecting ? "takes a selection or an id, not both" : "too many arguments", NULL, c);
    if (!selecting && c->target != TARGET_NONE && o->argCount > 0 && !ParseTarget(c, o))
        return Usage(TargetKind(c), o->args[0], c);
    if (c->act == ActConnect && !ParseSecond(o))
        return Usage(TargetKind(c), o->args[1], c);
    if (c->flags && (o->target == 0 || (o->target & ~c->flags)))
        return Usage("the flags are the sum of 1 log off, 2 shut down, 4 restart, 8 power off, 16 fast restart: ",
                     o->args[0], c);
    if (c->target == TARGET_SESSION && !selecting && (o->targetCurrent || o->argCount == 0) && RemoteServer(o))
        return Usage("your own session is one of this computer's; on another server the platform's answer "
                     "for it is not to be used: give a session id",
                     NULL, c);
    return -1;
}

/* One line from standard input (a password: it never goes to the command
 * line, where others may read it), without its line end. */
static const char* ReadPassword(void)
{
    static char line[1024];
    size_t n;
    if (!fgets(line, sizeof line, stdin))
        line[0] = '\0';
    n = strlen(line);
    while (n && (line[n - 1] == '\n' || line[n - 1] == '\r'))
        line[--n] = '\0';
    return line;
}

/* Returns -1 when the arguments are good, else the exit status. */
static int ParseOptions(int argc, char** argv, const Command* c, Options* o)
{
    static const char* const kValued[] = {"--server", "--format", "--parallel", "--session", "--exit-code",
                                          "--style", "--timeout", "--count", "--user", "--state",
                                          "--idle-over", "--session-name", "--sort", "--top", NULL};
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
            if (problem == kDomainFailed)
                return EXIT_ALL_FAILED;
            if (problem) {
                static char text[1200];
                _snprintf(text, sizeof text - 1, "the list of servers %s: %s", value, problem);
                return Usage(text, NULL, c);
            }
        } else if (strcmp(a, "--format") == 0) {
            o->format = argv[++i];
        } else if (strcmp(a, "--sort") == 0) {
            const char* by = argv[++i];
            o->sort = strcmp(by, "memory") == 0 ? SORT_MEMORY : strcmp(by, "cpu") == 0 ? SORT_CPU : -1;
            if (o->sort < 0)
                return Usage("--sort takes memory or cpu: ", by, c);
        } else if (strcmp(a, "--stop") == 0) {
            o->stop = 1;
        } else if (strcmp(a, "--until-restart") == 0) {
            o->untilRestart = 1;
        } else if (strcmp(a, "--password-stdin") == 0) {
            o->password = ReadPassword();
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
    if (Acts(c))
        WriteActions(c, &o, answers);
    else {
        AskFarm(c, &o, answers, o.parallel);
        WriteAnswers(ColumnsOf(c, &o), o.format, answers, o.serverCount);
    }
    status = Interrupted ? EXIT_INTERRUPTED : ExitStatus(answers, o.serverCount);
    fflush(stdout); /* written before anything the process's end runs */
    InterruptsDone();
    return status;
}
