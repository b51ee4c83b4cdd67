/* velquor.exe: the answers written out, as a table, CSV (RFC 4180) or JSON
 * (RFC 8259); all at the end, or row by row as they come. */
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "cli.h"

/* ---- Writers ---- */

static int ColumnCount(const Column* c)
{
    int n = 0;
    while (c[n].name)
        ++n;
    return n;
}

/* The length of the well-formed UTF-8 character at `p` (RFC 3629: no
 * surrogate, overlong form or value beyond U+10FFFF); 0 when it is not one. */
static size_t Utf8Length(const unsigned char* p)
{
    size_t n = *p < 0x80 ? 1 : *p >= 0xC2 && *p <= 0xDF ? 2 : *p >= 0xE0 && *p <= 0xEF ? 3
             : *p >= 0xF0 && *p <= 0xF4 ? 4 : 0, i;
    for (i = 1; i < n; ++i)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    if ((n == 3 && ((*p == 0xE0 && p[1] < 0xA0) || (*p == 0xED && p[1] >= 0xA0))) ||
        (n == 4 && ((*p == 0xF0 && p[1] < 0x90) || (*p == 0xF4 && p[1] >= 0x90))))
        return 0;
    return n;
}

/* `text` as well-formed UTF-8: each byte that begins no character (an
 * unpaired surrogate as an older system converts it, a cut character) as
 * U+FFFD. Returns `text` itself when it is, else a new text in `*made`. */
static const char* WellFormed(const char* text, char** made)
{
    const unsigned char* p = (const unsigned char*)text;
    char* out;
    size_t n = 0, bad = 0, k;
    *made = NULL;
    while (p[n])
        if ((k = Utf8Length(p + n)) != 0)
            n += k;
        else
            ++n, ++bad;
    if (!bad)
        return text;
    out = *made = (char*)Allocate(n + 2 * bad + 1);
    for (; *p; p += k ? k : 1) {
        k = Utf8Length(p);
        memcpy(out, k ? (const char*)p : "\xEF\xBF\xBD", k ? k : 3);
        out += k ? k : 3;
    }
    return *made;
}

static void JsonText(const char* raw)
{
    const unsigned char* p;
    char* made;
    const char* text = WellFormed(raw, &made);
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
        else if (*p < 0x20 || *p == 0x7F)
            printf("\\u%04x", *p);
        else if (*p == 0xC2 && p[1] >= 0x80 && p[1] <= 0x9F) /* a C1 control character */
            printf("\\u%04x", *++p);
        else
            putchar(*p);
    }
    putchar('"');
    free(made);
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

/* The deadline the farm gives each server, for the text of NO_ANSWER. */
static DWORD DeadlineSeconds = 0;

void NoAnswerAfter(DWORD seconds)
{
    DeadlineSeconds = seconds;
}

void ErrorText(LONG error, char* text, DWORD size)
{
    if (error == TARGET_CHANGED)
        _snprintf(text, size, "%ld: velquor: changed since it was selected; not acted on", error);
    else if (error == ACCOUNT_UNKNOWN)
        _snprintf(text, size, "%ld: velquor: the session user's account could not be looked up on the server; "
                  "none of its processes was ended", error);
    else if (error == NEEDS_WINDOWS_7 || error == NEEDS_VISTA_SP1)
        _snprintf(text, size, "%ld: velquor: the server's Windows is too old for this: it needs %s", error,
                  error == NEEDS_WINDOWS_7 ? "Windows 7 or Server 2008 R2" : "Windows Vista SP1 or Server 2008");
    else if (error == NO_ANSWER)
        _snprintf(text, size, "%ld: velquor: no answer in %lu s", error, DeadlineSeconds);
    else if (QRVTS_GetErrorTextUtf8(error, text, size) == 0)
        sprintf(text, "error %ld", error);
}

/* The error, its text and the Windows code, as the last members of an object. */
static void JsonError(LONG error, DWORD code)
{
    char text[600];
    ErrorText(error, text, sizeof text);
    printf("\"error\": %ld, \"message\": ", error);
    JsonText(text);
    printf(", \"code\": %lu", code);
}

static void JsonRow(const Column* columns, int n, const char* const* values, LONG error, DWORD code)
{
    int k;
    putchar('{');
    for (k = 0; k < n; ++k) {
        printf("%s\"%s\": ", k ? ", " : "", columns[k].name);
        JsonValue(values[k], columns[k].numeric);
    }
    if (error) {
        fputs(", ", stdout);
        JsonError(error, code);
    }
    putchar('}');
}

static void WriteJson(const Column* columns, const Answer* answers, int count)
{
    int s, r, n = ColumnCount(columns), first = 1;
    printf("[");
    for (s = 0; s < count; ++s) {
        const Answer* a = &answers[s];
        if (a->error) {
            printf("%s\n  {\"server\": ", first ? "" : ",");
            JsonText(a->server);
            fputs(", ", stdout);
            JsonError(a->error, a->code);
            putchar('}');
            first = 0;
            continue;
        }
        for (r = 0; r < a->count; ++r, first = 0) {
            printf("%s\n  ", first ? "" : ",");
            JsonRow(columns, n, (const char* const*)a->rows[r].values, a->rows[r].error, a->rows[r].code);
        }
    }
    printf("%s]\n", first ? "" : "\n");
}

static void CsvField(const char* raw)
{
    const char* p;
    char* made;
    const char* text = WellFormed(raw, &made);
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
    free(made);
}

/* The error columns: empty, or the error, its text and the Windows code. */
static void CsvError(LONG error, DWORD code)
{
    char text[600];
    if (!error) {
        printf(",,\r\n");
        return;
    }
    ErrorText(error, text, sizeof text);
    printf("%ld,", error);
    CsvField(text);
    printf(",%lu\r\n", code);
}

static void CsvRow(int n, const char* const* values, LONG error, DWORD code)
{
    int k;
    for (k = 0; k < n; ++k) {
        CsvField(values[k]);
        putchar(',');
    }
    CsvError(error, code);
}

static void CsvHeader(const Column* columns)
{
    int k;
    for (k = 0; columns[k].name; ++k)
        printf("%s,", columns[k].name);
    printf("error,message,code\r\n");
}

/* Every row carries the command's columns and the error columns, which are
 * empty but for a failure: a server's error entry, or an action's. */
static void WriteCsv(const Column* columns, const Answer* answers, int count)
{
    int s, r, k, n = ColumnCount(columns);
    CsvHeader(columns);
    for (s = 0; s < count; ++s) {
        const Answer* a = &answers[s];
        if (a->error) {
            CsvField(a->server);
            for (k = 0; k < n; ++k)
                putchar(',');
            CsvError(a->error, a->code);
            continue;
        }
        for (r = 0; r < a->count; ++r)
            CsvRow(n, (const char* const*)a->rows[r].values, a->rows[r].error, a->rows[r].code);
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

/* A control character (below 0x20, 0x7F, or the C1 range 0x80 to 0x9F),
 * which a table never sends to a terminal as it is: a name could move the
 * cursor, clear the screen or ring the bell. */
static int IsControl(unsigned long c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

/* The next character of a UTF-8 text at `*p`, which moves past it. */
static unsigned long NextCharacter(const unsigned char** p, size_t* bytes)
{
    const unsigned char* start = *p;
    unsigned long c = **p;
    int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (more)
        c &= 0x3F >> more;
    for (++*p; more > 0 && (**p & 0xC0) == 0x80; --more, ++*p)
        c = (c << 6) | (**p & 0x3F);
    *bytes = (size_t)(*p - start);
    return c;
}

/* Columns a UTF-8 text takes on the screen, a control character shown as
 * "\xNN". */
static size_t ScreenWidth(const char* raw)
{
    char* made;
    const unsigned char* p = (const unsigned char*)WellFormed(raw, &made);
    size_t width = 0, bytes;
    while (*p) {
        unsigned long c = NextCharacter(&p, &bytes);
        width += IsControl(c) ? 4 : IsWide(c) ? 2 : 1;
    }
    free(made);
    return width;
}

/* A cell's text, every control character as "\xNN". */
static void PutShown(Output* out, const char* raw)
{
    char* made;
    const unsigned char* p = (const unsigned char*)WellFormed(raw, &made);
    size_t bytes;
    while (*p) {
        const unsigned char* at = p;
        unsigned long c = NextCharacter(&p, &bytes);
        char escaped[8];
        if (IsControl(c)) {
            sprintf(escaped, "\\x%02lx", c);
            PutText(out, escaped);
        } else {
            Put(out, (const char*)at, bytes);
        }
    }
    free(made);
}

/* One cell: padded to its column's width, or ending the line (with no
 * blanks before its end when the last cells are empty). */
static void Cell(Output* out, const char* text, size_t width, int last)
{
    size_t used = ScreenWidth(text);
    PutShown(out, text);
    if (last) {
        while (out->length && out->text[out->length - 1] == ' ')
            out->text[--out->length] = '\0';
        PutText(out, "\r\n");
        return;
    }
    /* Two blanks at least: a value longer than its column stays apart. */
    for (width = (used > width ? used : width) + 2; used < width; ++used)
        PutText(out, " ");
}

/* An entry point of the kernel looked up by name into `*entry` (null where
 * the system lacks it). */
void LookUpKernel(const char* name, void* entry)
{
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    FARPROC found = kernel ? GetProcAddress(kernel, name) : NULL;
    memcpy(entry, &found, sizeof found);
}

/* The table to standard output: to a console as wide text, which shows
 * every script its fonts have; anywhere else as UTF-8. The wide console
 * output is looked up by name: the oldest systems lack it, and then the
 * bytes go out as they are. */
/* UTF-8 text to standard output or standard error: to a console as wide
 * text, in pieces of at most 8 KB (older consoles refuse more than 64 KB
 * at once), never splitting a surrogate pair; anywhere else as UTF-8. The
 * wide console output is looked up by name: the oldest systems lack it,
 * and then the bytes go out as they are. */
#define CONSOLE_PIECE 4096 /* UTF-16 units */
static void EmitTo(DWORD which, FILE* stream, const char* text, size_t length)
{
    const char* const start = text;
    typedef BOOL(WINAPI * GetConsoleModeFn)(HANDLE, DWORD*);
    typedef BOOL(WINAPI * WriteConsoleWFn)(HANDLE, const void*, DWORD, DWORD*, void*);
    HANDLE console = GetStdHandle(which);
    GetConsoleModeFn getMode;
    WriteConsoleWFn write;
    DWORD mode, written;
    int units = length ? MultiByteToWideChar(CP_UTF8, 0, text, (int)length, NULL, 0) : 0;
    LookUpKernel("GetConsoleMode", &getMode);
    LookUpKernel("WriteConsoleW", &write);
    if (units > 0 && getMode && write && getMode(console, &mode)) {
        WCHAR* wide = (WCHAR*)Allocate(sizeof(WCHAR) * (size_t)units);
        int at = 0;
        MultiByteToWideChar(CP_UTF8, 0, text, (int)length, wide, units);
        fflush(stream);
        while (at < units) {
            int n = units - at > CONSOLE_PIECE ? CONSOLE_PIECE : units - at;
            if (n == CONSOLE_PIECE && wide[at + n - 1] >= 0xD800 && wide[at + n - 1] <= 0xDBFF)
                --n;
            if (!write(console, wide + at, (DWORD)n, &written, NULL))
                break;
            at += n;
        }
        /* Where the console refused a piece, the rest goes out as bytes, once. */
        text += at ? (size_t)WideCharToMultiByte(CP_UTF8, 0, wide, at, NULL, 0, NULL, NULL) : 0;
        length -= (size_t)(text - start);
        free(wide);
        if (at == units)
            return;
    }
    if (length)
        fwrite(text, 1, length, stream);
}

static void Emit(const Output* out) { EmitTo(STD_OUTPUT_HANDLE, stdout, out->text, out->length); }

void ErrorLine(const char* format, ...)
{
    char text[2048];
    va_list args;
    va_start(args, format);
    _vsnprintf(text, sizeof text - 1, format, args);
    va_end(args);
    text[sizeof text - 1] = '\0';
    EmitTo(STD_ERROR_HANDLE, stderr, text, strlen(text));
}

/* A failure, after the table, on standard error. */
static void TableError(const char* server, const char* what, LONG error, DWORD code)
{
    char text[600];
    ErrorText(error, text, sizeof text);
    ErrorLine("%s%s: %s (Windows error %lu, 0x%lX)\n", *server ? server : "(local)", what, text, code, code);
}

static void WriteTable(const Column* columns, const Answer* answers, int count)
{
    int s, r, k, n = ColumnCount(columns);
    size_t width[MAX_FIELDS];
    Output out = {NULL, 0, 0};
    for (k = 0; k < n; ++k)
        width[k] = strlen(columns[k].name);
    for (s = 0; s < count; ++s)
        for (r = 0; r < answers[s].count; ++r)
            for (k = 0; k < n; ++k)
                if (ScreenWidth(answers[s].rows[r].values[k]) > width[k])
                    width[k] = ScreenWidth(answers[s].rows[r].values[k]);
    for (k = 0; k < n; ++k)
        Cell(&out, columns[k].name, width[k], k + 1 == n);
    for (s = 0; s < count; ++s)
        for (r = 0; r < answers[s].count; ++r)
            for (k = 0; k < n; ++k)
                Cell(&out, answers[s].rows[r].values[k], width[k], k + 1 == n);
    Emit(&out);
    free(out.text);
    fflush(stdout);
    for (s = 0; s < count; ++s) {
        if (answers[s].error)
            TableError(answers[s].server, "", answers[s].error, answers[s].code);
        for (r = 0; r < answers[s].count; ++r)
            if (answers[s].rows[r].error) {
                char what[48];
                sprintf(what, " (row %d)", r + 1);
                TableError(answers[s].server, what, answers[s].rows[r].error, answers[s].rows[r].code);
            }
    }
}

void WriteAnswers(const Column* columns, const char* format, const Answer* answers, int count)
{
    if (strcmp(format, "json") == 0)
        WriteJson(columns, answers, count);
    else if (strcmp(format, "csv") == 0)
        WriteCsv(columns, answers, count);
    else
        WriteTable(columns, answers, count);
}

/* ---- Rows as they come ---- */

void StreamStart(Stream* s, const Column* columns, const char* format, int jsonLines, const Options* o)
{
    int k, i;
    s->columns = columns, s->format = format, s->jsonLines = jsonLines, s->written = 0, s->counted = 0, s->ended = 0;
    InitializeCriticalSection(&s->lock);
    for (k = 0; columns[k].name; ++k)
        s->width[k] = strlen(columns[k].name) < 10 ? 10 : strlen(columns[k].name);
    for (k = 0; columns[k].name; ++k)
        if (strcmp(columns[k].name, "time") == 0)
            s->width[k] = 20;
        else if (strcmp(columns[k].name, "state") == 0)
            s->width[k] = 12; /* DISCONNECTED, CONNECTQUERY */
        else if (strcmp(columns[k].name, "server") == 0)
            for (i = 0; i < o->serverCount; ++i)
                if (ScreenWidth(o->servers[i]) > s->width[k])
                    s->width[k] = ScreenWidth(o->servers[i]);
    if (strcmp(format, "csv") == 0)
        CsvHeader(columns);
    else if (strcmp(format, "json") == 0 && !jsonLines)
        putchar('[');
    else if (strcmp(format, "table") == 0)
        StreamRow(s, NULL, NULL, 0);
    fflush(stdout);
}

static void StreamTableRow(Stream* s, const char* const* values)
{
    Output out = {NULL, 0, 0};
    int k;
    for (k = 0; s->columns[k].name; ++k)
        Cell(&out, values ? values[k] : s->columns[k].name, s->width[k], !s->columns[k + 1].name);
    Emit(&out);
    free(out.text);
}

int StreamRow(Stream* s, const char* server, const Row* row, DWORD limit)
{
    int n = ColumnCount(s->columns), counted = 1;
    EnterCriticalSection(&s->lock);
    if (s->ended || (row && limit && (DWORD)s->counted >= limit)) {
        LeaveCriticalSection(&s->lock);
        return 0;
    }
    if (!row)
        StreamTableRow(s, NULL);
    else if (strcmp(s->format, "csv") == 0)
        CsvRow(n, (const char* const*)row->values, row->error, row->code);
    else if (strcmp(s->format, "json") == 0) {
        if (!s->jsonLines)
            printf("%s\n  ", s->written ? "," : "");
        JsonRow(s->columns, n, (const char* const*)row->values, row->error, row->code);
        if (s->jsonLines)
            putchar('\n');
    } else
        StreamTableRow(s, (const char* const*)row->values);
    if (row && row->error && strcmp(s->format, "table") == 0) {
        fflush(stdout);
        TableError(server ? server : "", "", row->error, row->code);
    }
    if (row)
        ++s->written;
    if (row && limit)
        counted = ++s->counted;
    fflush(stdout);
    LeaveCriticalSection(&s->lock);
    return counted;
}

void StreamEnd(Stream* s)
{
    EnterCriticalSection(&s->lock);
    if (strcmp(s->format, "json") == 0 && !s->jsonLines)
        printf("%s]\n", s->written ? "\n" : "");
    s->ended = 1;
    fflush(stdout);
    LeaveCriticalSection(&s->lock);
}

