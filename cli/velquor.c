/* velquor: the terminal services of one server or a farm of them, from the
 * command line, as a table for people or as CSV or JSON for scripts. Built
 * on the QRVTS_ C API alone (include/velquor.h and the import library),
 * through its UTF-8 exports: every text here is UTF-8, from the command
 * line (read as wide text) to the output (written to a console as wide
 * text), so that a name in any script arrives whole.
 * `velquor --help` says what it does; docs/reference.md has it all. */
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "velquor.h"

#ifndef VELQUOR_VERSION_TEXT
#error "the build passes the version as VELQUOR_VERSION_TEXT"
#endif

#define EXIT_USAGE 2
#define EXIT_SOME_SERVERS_FAILED 3
#define MAX_SERVERS 1024
#define MAX_FIELDS 32

/* ---- Output records: a row is the values of the command's columns. ---- */

typedef struct Column {
    const char* name;
    int numeric; /* a number in JSON */
} Column;

typedef struct Row {
    char* values[MAX_FIELDS];
} Row;

/* What one server answered: rows, or an error. */
typedef struct Answer {
    const char* server;
    LONG error;
    DWORD code;
    Row* rows;
    int count, capacity;
} Answer;

static void* Allocate(size_t bytes)
{
    void* p = calloc(1, bytes);
    if (!p) {
        fputs("velquor: out of memory\n", stderr);
        exit(QRVTS_OUT_OF_MEMORY);
    }
    return p;
}

static char* Copy(const char* text)
{
    char* copy = (char*)Allocate(strlen(text) + 1);
    strcpy(copy, text);
    return copy;
}

static char* Number(unsigned long value)
{
    char text[16];
    sprintf(text, "%lu", value);
    return Copy(text);
}

static Row* AddRow(Answer* a)
{
    if (a->count == a->capacity) {
        Row* grown = (Row*)Allocate(sizeof(Row) * (size_t)(a->capacity ? a->capacity * 2 : 16));
        if (a->rows)
            memcpy(grown, a->rows, sizeof(Row) * (size_t)a->count);
        free(a->rows);
        a->rows = grown;
        a->capacity = a->capacity ? a->capacity * 2 : 16;
    }
    return &a->rows[a->count++];
}

/* The next TAB-delimited item of `*list`, as a new text. */
static char* NextItem(const char** list)
{
    const char* end = strchr(*list, '\t');
    size_t n = end ? (size_t)(end - *list) : strlen(*list);
    char* item = (char*)Allocate(n + 1);
    memcpy(item, *list, n);
    *list += n + (end ? 1 : 0);
    return item;
}

/* ---- Times: the API's "YYYY:MM:DD:hh:mm:ss" UTC, as ISO 8601. ---- */

static int ParseTime(const char* text, int t[6])
{
    return sscanf(text, "%d:%d:%d:%d:%d:%d", &t[0], &t[1], &t[2], &t[3], &t[4], &t[5]) == 6;
}

static char* IsoTime(const char* text)
{
    int t[6];
    char iso[32];
    if (!ParseTime(text, t))
        return Copy("");
    sprintf(iso, "%04d-%02d-%02dT%02d:%02d:%02dZ", t[0], t[1], t[2], t[3], t[4], t[5]);
    return Copy(iso);
}

/* Seconds since 1970 of a civil UTC time. */
static double EpochSeconds(const int t[6])
{
    int y = t[0] - (t[1] <= 2), m = t[1], era = (y >= 0 ? y : y - 399) / 400;
    int yoe = y - era * 400, doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + t[2] - 1;
    int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    double days = (double)era * 146097 + doe - 719468;
    return days * 86400 + t[3] * 3600 + t[4] * 60 + t[5];
}

/* Current time less last input, in seconds; empty when either is unknown. */
static char* IdleSeconds(const char* current, const char* lastInput)
{
    int now[6], then[6];
    double idle;
    char text[24];
    if (!ParseTime(current, now) || !ParseTime(lastInput, then))
        return Copy("");
    idle = EpochSeconds(now) - EpochSeconds(then);
    sprintf(text, "%.0f", idle < 0 ? 0 : idle);
    return Copy(text);
}

/* ---- Commands ---- */

typedef struct Options {
    const char* servers[MAX_SERVERS];
    int serverCount;
    const char* format;
    int extended, wait, parallel;
    DWORD session, exitCode, style, timeout;
    int sessionGiven;
    const char* args[3];
    int argCount;
} Options;

typedef struct Command Command;
struct Command {
    const char* name;
    const char* usage;
    const char* summary;
    int args;      /* required arguments */
    int maxArgs;   /* arguments at the most */
    int perServer; /* 0: the local system only */
    const Column* columns;
    LONG (*run)(const Options* o, const char* server, Answer* a);
};

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

static LONG RunSessions(const Options* o, const char* server, Answer* a)
{
    SessionListRecord* r = NULL;
    LONG result = QRVTS_EnumerateSessionsUtf8(server, o->extended, &r);
    if (result == QRVTS_OK) {
        const char* lists[3] = {r->SessionIds, r->SessionNames, r->SessionStates};
        AddListRows(a, server, r->Count, lists, 3);
    }
    QRVTS_FreeBuffer(r);
    return result;
}

static LONG RunProcesses(const Options* o, const char* server, Answer* a)
{
    ProcessListRecord* r = NULL;
    LONG result = QRVTS_EnumerateProcessesUtf8(server, o->sessionGiven ? o->session : 0xFFFFFFFF, o->extended, &r);
    if (result == QRVTS_OK) {
        const char* lists[4] = {r->ProcessIds, r->ProcessNames, r->SessionIds, r->UserSids};
        AddListRows(a, server, r->Count, lists, 4);
    }
    QRVTS_FreeBuffer(r);
    return result;
}

static LONG RunSession(const Options* o, const char* server, Answer* a)
{
    SessionInfoRecord* r = NULL;
    Row* row;
    int k = 0;
    DWORD session = o->argCount ? (DWORD)strtoul(o->args[0], NULL, 10) : 0xFFFFFFFF;
    LONG result = QRVTS_QuerySessionInfoUtf8(server, session, &r);
    if (result != QRVTS_OK)
        return result;
    row = AddRow(a);
    row->values[k++] = Copy(server);
    row->values[k++] = o->argCount ? Copy(o->args[0]) : Copy("");
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

static LONG RunConsole(const Options* o, const char* server, Answer* a)
{
    DWORD session = 0;
    (void)o, (void)server;
    return SessionRow(a, QRVTS_GetActiveConsoleSessionId(&session), session);
}

static LONG RunWhoami(const Options* o, const char* server, Answer* a)
{
    DWORD session = 0;
    (void)o, (void)server;
    return SessionRow(a, QRVTS_ProcessIdToSessionId(GetCurrentProcessId(), &session), session);
}

static LONG ActionRow(Answer* a, const char* server, LONG result, const char* target, DWORD value)
{
    Row* row;
    if (result != QRVTS_OK)
        return result;
    row = AddRow(a);
    row->values[0] = Copy(server);
    row->values[1] = Copy(target);
    row->values[2] = Number(value);
    return QRVTS_OK;
}

static DWORD Arg(const Options* o, int i) { return (DWORD)strtoul(o->args[i], NULL, 0); }

static LONG RunDisconnect(const Options* o, const char* server, Answer* a)
{
    return ActionRow(a, server, QRVTS_DisconnectSessionUtf8(server, Arg(o, 0), o->wait), o->args[0], 1);
}

static LONG RunLogoff(const Options* o, const char* server, Answer* a)
{
    return ActionRow(a, server, QRVTS_LogoffSessionUtf8(server, Arg(o, 0), o->wait), o->args[0], 1);
}

static LONG RunKill(const Options* o, const char* server, Answer* a)
{
    return ActionRow(a, server, QRVTS_TerminateProcessUtf8(server, Arg(o, 0), o->exitCode), o->args[0], 1);
}

static LONG RunMessage(const Options* o, const char* server, Answer* a)
{
    DWORD response = 0;
    LONG result = QRVTS_SendMessageUtf8(server, Arg(o, 0), o->args[1], o->args[2], o->style, o->timeout, o->wait,
                                    &response);
    return ActionRow(a, server, result, o->args[0], response);
}

static LONG RunWait(const Options* o, const char* server, Answer* a)
{
    DWORD events = 0;
    return ActionRow(a, server, QRVTS_WaitSystemEventUtf8(server, Arg(o, 0), &events), o->args[0], events);
}

static LONG RunShutdown(const Options* o, const char* server, Answer* a)
{
    return ActionRow(a, server, QRVTS_ShutdownSystemUtf8(server, Arg(o, 0)), o->args[0], 1);
}

static const Command kCommands[] = {
    {"sessions", "sessions [--extended]", "the sessions: id, name, state", 0, 0, 1, kSessionColumns, RunSessions},
    {"processes", "processes [--session ID] [--extended]", "the processes: id, name, session, owner's SID", 0, 0, 1,
     kProcessColumns, RunProcesses},
    {"session", "session [ID]", "everything about one session (no ID: your own)", 0, 1, 1, kInfoColumns,
     RunSession},
    {"console", "console", "the session at the physical console", 0, 0, 0, kSessionIdColumns, RunConsole},
    {"whoami", "whoami", "the session this program runs in", 0, 0, 0, kSessionIdColumns, RunWhoami},
    {"disconnect", "disconnect ID [--wait]", "disconnects a session (its programs keep running)", 1, 1, 1,
     kActionColumns, RunDisconnect},
    {"logoff", "logoff ID [--wait]", "logs a session off", 1, 1, 1, kActionColumns, RunLogoff},
    {"kill", "kill PID [--exit-code N]", "ends a process", 1, 1, 1, kActionColumns, RunKill},
    {"msg", "msg ID TITLE TEXT [--style N] [--timeout SECONDS] [--wait]",
     "shows a message box in a session; result: the answer", 3, 3, 1, kActionColumns, RunMessage},
    {"wait", "wait MASK", "waits for a server event; result: the events", 1, 1, 1, kActionColumns, RunWait},
    {"shutdown", "shutdown FLAGS", "logs off every session or shuts the server down", 1, 1, 1, kActionColumns,
     RunShutdown},
};
#define COMMAND_COUNT (int)(sizeof kCommands / sizeof kCommands[0])

/* ---- Writers ---- */

static int ColumnCount(const Column* c)
{
    int n = 0;
    while (c[n].name)
        ++n;
    return n;
}

static void JsonText(const char* text)
{
    const unsigned char* p;
    putchar('"');
    for (p = (const unsigned char*)text; *p; ++p) {
        if (*p == '"' || *p == '\\')
            printf("\\%c", *p);
        else if (*p == '\n')
            fputs("\\n", stdout);
        else if (*p == '\t')
            fputs("\\t", stdout);
        else if (*p == '\r')
            fputs("\\r", stdout);
        else if (*p < 0x20)
            printf("\\u%04x", *p);
        else
            putchar(*p);
    }
    putchar('"');
}

static void JsonValue(const char* value, int numeric)
{
    if (numeric && *value)
        fputs(value, stdout);
    else if (numeric)
        fputs("null", stdout);
    else
        JsonText(value);
}

static void ErrorText(LONG error, char* text, DWORD size)
{
    if (QRVTS_GetErrorTextUtf8(error, text, size) == 0)
        sprintf(text, "error %ld", error);
}

static void WriteJson(const Command* c, const Answer* answers, int count)
{
    int s, r, k, n = ColumnCount(c->columns), first = 1;
    char text[300], code[16];
    printf("[");
    for (s = 0; s < count; ++s) {
        const Answer* a = &answers[s];
        if (a->error) {
            ErrorText(a->error, text, sizeof text);
            sprintf(code, "%lu", a->code);
            printf("%s\n  {\"server\": ", first ? "" : ",");
            JsonText(a->server);
            printf(", \"error\": %ld, \"message\": ", a->error);
            JsonText(text);
            printf(", \"code\": %s}", code);
            first = 0;
            continue;
        }
        for (r = 0; r < a->count; ++r, first = 0) {
            printf("%s\n  {", first ? "" : ",");
            for (k = 0; k < n; ++k) {
                printf("%s\"%s\": ", k ? ", " : "", c->columns[k].name);
                JsonValue(a->rows[r].values[k], c->columns[k].numeric);
            }
            putchar('}');
        }
    }
    printf("%s]\n", first ? "" : "\n");
}

static void CsvField(const char* text)
{
    const char* p;
    if (!strpbrk(text, ",\"\r\n")) {
        fputs(text, stdout);
    } else {
        putchar('"');
        for (p = text; *p; ++p) {
            if (*p == '"')
                putchar('"');
            putchar(*p);
        }
        putchar('"');
    }
}

/* Every row carries the command's columns and the error columns, which are
 * empty but for a server's error entry. */
static void WriteCsv(const Command* c, const Answer* answers, int count)
{
    int s, r, k, n = ColumnCount(c->columns);
    char text[300], number[16];
    for (k = 0; k < n; ++k)
        printf("%s,", c->columns[k].name);
    printf("error,message,code\r\n");
    for (s = 0; s < count; ++s) {
        const Answer* a = &answers[s];
        if (a->error) {
            ErrorText(a->error, text, sizeof text);
            CsvField(a->server);
            for (k = 1; k < n; ++k)
                putchar(',');
            printf(",%ld,", a->error);
            CsvField(text);
            sprintf(number, "%lu", a->code);
            printf(",%s\r\n", number);
            continue;
        }
        for (r = 0; r < a->count; ++r) {
            for (k = 0; k < n; ++k) {
                CsvField(a->rows[r].values[k]);
                putchar(',');
            }
            printf(",,\r\n");
        }
    }
}

/* ---- The table: columns as wide as their widest text on the screen ---- */

/* Text that grows as it is written. */
typedef struct Output {
    char* text;
    size_t length, capacity;
} Output;

static void Put(Output* out, const char* text, size_t n)
{
    if (out->length + n + 1 > out->capacity) {
        size_t capacity = (out->capacity ? out->capacity * 2 : 4096) + n;
        char* grown = (char*)Allocate(capacity);
        if (out->text)
            memcpy(grown, out->text, out->length);
        free(out->text);
        out->text = grown;
        out->capacity = capacity;
    }
    memcpy(out->text + out->length, text, n);
    out->length += n;
    out->text[out->length] = '\0';
}

static void PutText(Output* out, const char* text) { Put(out, text, strlen(text)); }

/* Whether a character takes two columns on the screen: the wide and
 * full-width blocks of East Asian scripts. */
static int IsWide(unsigned long c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
           (c >= 0x20000 && c <= 0x3FFFD);
}

/* Columns a UTF-8 text takes on the screen. */
static size_t ScreenWidth(const char* text)
{
    const unsigned char* p = (const unsigned char*)text;
    size_t width = 0;
    while (*p) {
        unsigned long c = *p;
        int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (more)
            c &= 0x3F >> more;
        for (++p; more > 0 && (*p & 0xC0) == 0x80; --more, ++p)
            c = (c << 6) | (*p & 0x3F);
        width += IsWide(c) ? 2 : 1;
    }
    return width;
}

/* One cell: padded to its column's width, or ending the line. */
static void Cell(Output* out, const char* text, size_t width, int last)
{
    size_t used = ScreenWidth(text);
    PutText(out, text);
    if (last) {
        PutText(out, "\r\n");
        return;
    }
    for (; used < width + 2; ++used)
        PutText(out, " ");
}

/* An entry point of the kernel looked up by name into `*entry` (null where
 * the system lacks it). */
static void LookUpKernel(const char* name, void* entry)
{
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    FARPROC found = kernel ? GetProcAddress(kernel, name) : NULL;
    memcpy(entry, &found, sizeof found);
}

/* The table to standard output: to a console as wide text, which shows
 * every script its fonts have; anywhere else as UTF-8. The wide console
 * output is looked up by name: the oldest systems lack it, and then the
 * bytes go out as they are. */
static void Emit(const Output* out)
{
    typedef BOOL(WINAPI * GetConsoleModeFn)(HANDLE, DWORD*);
    typedef BOOL(WINAPI * WriteConsoleWFn)(HANDLE, const void*, DWORD, DWORD*, void*);
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    GetConsoleModeFn getMode;
    WriteConsoleWFn write;
    DWORD mode, written;
    int units = out->length ? MultiByteToWideChar(CP_UTF8, 0, out->text, (int)out->length, NULL, 0) : 0;
    LookUpKernel("GetConsoleMode", &getMode);
    LookUpKernel("WriteConsoleW", &write);
    if (units > 0 && getMode && write && getMode(console, &mode)) {
        WCHAR* wide = (WCHAR*)Allocate(sizeof(WCHAR) * (size_t)units);
        int ok;
        MultiByteToWideChar(CP_UTF8, 0, out->text, (int)out->length, wide, units);
        fflush(stdout);
        ok = write(console, wide, (DWORD)units, &written, NULL);
        free(wide);
        if (ok)
            return;
    }
    if (out->length)
        fwrite(out->text, 1, out->length, stdout);
}

static void WriteTable(const Command* c, const Answer* answers, int count)
{
    int s, r, k, n = ColumnCount(c->columns);
    size_t width[MAX_FIELDS];
    char text[600], line[800];
    Output out = {NULL, 0, 0};
    for (k = 0; k < n; ++k)
        width[k] = strlen(c->columns[k].name);
    for (s = 0; s < count; ++s)
        for (r = 0; r < answers[s].count; ++r)
            for (k = 0; k < n; ++k)
                if (ScreenWidth(answers[s].rows[r].values[k]) > width[k])
                    width[k] = ScreenWidth(answers[s].rows[r].values[k]);
    for (k = 0; k < n; ++k)
        Cell(&out, c->columns[k].name, width[k], k + 1 == n);
    for (s = 0; s < count; ++s)
        for (r = 0; r < answers[s].count; ++r)
            for (k = 0; k < n; ++k)
                Cell(&out, answers[s].rows[r].values[k], width[k], k + 1 == n);
    for (s = 0; s < count; ++s) {
        if (!answers[s].error)
            continue;
        ErrorText(answers[s].error, text, sizeof text);
        PutText(&out, *answers[s].server ? answers[s].server : "(local)");
        sprintf(line, ": %s (Windows error %lu, 0x%lX)\r\n", text, answers[s].code, answers[s].code);
        PutText(&out, line);
    }
    Emit(&out);
    free(out.text);
}

/* ---- The farm: servers asked by a bounded number of threads ---- */

typedef struct Farm {
    const Command* command;
    const Options* options;
    Answer* answers;
    int count;
    volatile LONG next;
} Farm;

static void Ask(const Command* c, const Options* o, Answer* a)
{
    a->error = c->run(o, a->server, a);
    a->code = a->error ? QRVTS_GetLastErrorCode() : 0;
}

static DWORD WINAPI Worker(void* context)
{
    Farm* farm = (Farm*)context;
    for (;;) {
        LONG i = InterlockedIncrement(&farm->next) - 1;
        if (i >= farm->count)
            return 0;
        Ask(farm->command, farm->options, &farm->answers[i]);
    }
}

static void AskAll(Farm* farm, int threads)
{
    HANDLE handles[64];
    int t, n = threads < farm->count ? threads : farm->count;
    if (n > 64)
        n = 64;
    if (n <= 1) {
        Worker(farm);
        return;
    }
    for (t = 0; t < n; ++t)
        handles[t] = CreateThread(NULL, 0, Worker, farm, 0, NULL);
    WaitForMultipleObjects((DWORD)n, handles, TRUE, INFINITE);
    for (t = 0; t < n; ++t)
        CloseHandle(handles[t]);
}

/* ---- Arguments ---- */

static void Help(const Command* only)
{
    int i;
    if (only) {
        printf("usage: velquor %s [--server NAME]... [--format table|csv|json]\r\n  %s\r\n", only->usage,
               only->summary);
        return;
    }
    printf("velquor %s: terminal services of one server or a farm, as a table, CSV or JSON\r\n\r\n",
           VELQUOR_VERSION_TEXT);
    printf("usage: velquor COMMAND [ARGS] [--server NAME]... [--format table|csv|json] [--parallel N]\r\n\r\n");
    for (i = 0; i < COMMAND_COUNT; ++i)
        printf("  %-58s %s\r\n", kCommands[i].usage, kCommands[i].summary);
    printf("\r\n  --server NAME    a server to ask; repeat it or give a comma-separated list (none: this one)\r\n"
           "  --format F       table (the default), csv or json\r\n"
           "  --parallel N     servers asked at once (default 8)\r\n"
           "  --extended       the level-1 enumerations, where the server has them\r\n"
           "  --help, --version\r\n\r\n"
           "Exit status: 0 when everything succeeded; the error number when the command failed on\r\n"
           "the one server asked; 3 when some servers of a farm failed; 2 for a usage error.\r\n");
}

static int Usage(const char* problem, const Command* c)
{
    fprintf(stderr, "velquor: %s\n", problem); /* stderr is in text mode: the runtime ends lines */
    fprintf(stderr, "usage: velquor %s [--server NAME]... [--format table|csv|json]\n",
            c ? c->usage : "COMMAND [ARGS] (velquor --help lists them)");
    return EXIT_USAGE;
}

static int IsNumber(const char* text)
{
    char* end;
    if (!*text)
        return 0;
    strtoul(text, &end, 0);
    return *end == '\0';
}

static void AddServers(Options* o, char* list)
{
    char* name;
    for (name = strtok(list, ","); name && o->serverCount < MAX_SERVERS; name = strtok(NULL, ","))
        o->servers[o->serverCount++] = name;
}

static const Command* FindCommand(const char* name)
{
    int i;
    for (i = 0; i < COMMAND_COUNT; ++i)
        if (strcmp(kCommands[i].name, name) == 0)
            return &kCommands[i];
    return NULL;
}

/* Returns -1 when the arguments are good, else the exit status. */
static int ParseOptions(int argc, char** argv, const Command* c, Options* o)
{
    int i;
    for (i = 2; i < argc; ++i) {
        const char* a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : NULL;
        int needsValue = strcmp(a, "--server") == 0 || strcmp(a, "--format") == 0 ||
                         strcmp(a, "--parallel") == 0 || strcmp(a, "--session") == 0 ||
                         strcmp(a, "--exit-code") == 0 || strcmp(a, "--style") == 0 || strcmp(a, "--timeout") == 0;
        if (needsValue && !value)
            return Usage("an option needs a value", c);
        if (needsValue && strcmp(a, "--server") && strcmp(a, "--format") && !IsNumber(value))
            return Usage("a number is needed after the option", c);
        if (strcmp(a, "--help") == 0) {
            Help(c);
            return 0;
        } else if (strcmp(a, "--server") == 0) {
            AddServers(o, argv[++i]);
        } else if (strcmp(a, "--format") == 0) {
            o->format = argv[++i];
        } else if (strcmp(a, "--parallel") == 0) {
            o->parallel = atoi(argv[++i]);
        } else if (strcmp(a, "--session") == 0) {
            o->session = (DWORD)strtoul(argv[++i], NULL, 0), o->sessionGiven = 1;
        } else if (strcmp(a, "--exit-code") == 0) {
            o->exitCode = (DWORD)strtoul(argv[++i], NULL, 0);
        } else if (strcmp(a, "--style") == 0) {
            o->style = (DWORD)strtoul(argv[++i], NULL, 0);
        } else if (strcmp(a, "--timeout") == 0) {
            o->timeout = (DWORD)strtoul(argv[++i], NULL, 0);
        } else if (strcmp(a, "--wait") == 0) {
            o->wait = 1;
        } else if (strcmp(a, "--extended") == 0) {
            o->extended = 1;
        } else if (a[0] == '-' && a[1] == '-') {
            return Usage("unknown option", c);
        } else if (o->argCount < 3) {
            o->args[o->argCount++] = a;
        } else {
            return Usage("too many arguments", c);
        }
    }
    if (strcmp(o->format, "table") && strcmp(o->format, "csv") && strcmp(o->format, "json"))
        return Usage("the format is table, csv or json", c);
    if (o->parallel < 1)
        return Usage("--parallel needs at least 1", c);
    if (o->argCount < c->args)
        return Usage("too few arguments", c);
    if (o->argCount > c->maxArgs)
        return Usage("too many arguments", c);
    if (o->argCount > 0 && !IsNumber(o->args[0]))
        return Usage("the first argument is a number", c);
    return -1;
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

int main(int argc, char** argv)
{
    static Options o;
    static Answer answers[MAX_SERVERS];
    static char local[] = "";
    const Command* c;
    Farm farm;
    int i, status, failed = 0;
    LeaveCurrentFolderOutOfLibrarySearch();
    argv = Utf8Arguments(&argc, argv);
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2)
        return Usage("no command", NULL);
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
        return Usage("unknown command", NULL);
    o.format = "table";
    o.parallel = 8;
    status = ParseOptions(argc, argv, c, &o);
    if (status >= 0)
        return status;
    if (o.serverCount == 0 || !c->perServer) {
        o.servers[0] = local;
        o.serverCount = 1;
    }
    for (i = 0; i < o.serverCount; ++i)
        answers[i].server = o.servers[i];
    farm.command = c, farm.options = &o, farm.answers = answers, farm.count = o.serverCount, farm.next = 0;
    AskAll(&farm, o.parallel);
    if (strcmp(o.format, "json") == 0)
        WriteJson(c, answers, o.serverCount);
    else if (strcmp(o.format, "csv") == 0)
        WriteCsv(c, answers, o.serverCount);
    else
        WriteTable(c, answers, o.serverCount);
    for (i = 0; i < o.serverCount; ++i)
        failed += answers[i].error != 0;
    if (!failed)
        return 0;
    return o.serverCount == 1 ? (int)answers[0].error : EXIT_SOME_SERVERS_FAILED;
}
