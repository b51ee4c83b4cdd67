/* velquor.exe: the small helpers every part may use: allocations that end
 * the program when memory runs out, the items of the C API's lists, times
 * as ISO 8601, and the numbers of the command line. */
#include <stdlib.h>
#include <string.h>

#include "cli.h"

void* Allocate(size_t bytes)
{
    void* p = calloc(1, bytes);
    if (!p) {
        fputs("velquor: out of memory\n", stderr); /* as bytes: writing as wide text would allocate */
        exit(EXIT_ALL_FAILED);
    }
    return p;
}

char* Copy(const char* text)
{
    char* copy = (char*)Allocate(strlen(text) + 1);
    strcpy(copy, text);
    return copy;
}

char* Number(unsigned long value)
{
    char text[16];
    sprintf(text, "%lu", value);
    return Copy(text);
}

Row* AddRow(Answer* a)
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

WCHAR* WideText(const char* utf8)
{
    int units = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, NULL, 0);
    WCHAR* wide = (WCHAR*)Allocate(sizeof(WCHAR) * (size_t)(units > 0 ? units : 1));
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, units);
    return wide;
}

char* Utf8Text(const WCHAR* wide)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, NULL, 0, NULL, NULL);
    char* utf8 = (char*)Allocate((size_t)(bytes > 0 ? bytes : 1));
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, bytes, NULL, NULL);
    return utf8;
}

/* The next TAB-delimited item of `*list`, as a new text. */
char* NextItem(const char** list)
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

char* IsoTime(const char* text)
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
char* IdleSeconds(const char* current, const char* lastInput)
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


/* The current time, ISO 8601 UTC. */
char* NowIso(void)
{
    SYSTEMTIME t;
    char text[48];
    GetSystemTime(&t);
    sprintf(text, "%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    return Copy(text);
}

/* ---- Numbers from the command line: exactly what they say, or refused ---- */

/* Decimal digits only, without a leading zero (but "0"), at most `max`. */
int ParseDecimal(const char* text, DWORD max, DWORD* value)
{
    unsigned long long n = 0;
    const char* p;
    if (!*text || (text[0] == '0' && text[1]))
        return 0;
    for (p = text; *p; ++p) {
        if (*p < '0' || *p > '9')
            return 0;
        n = n * 10 + (unsigned)(*p - '0');
        if (n > max)
            return 0;
    }
    *value = (DWORD)n;
    return 1;
}

/* A mask or flags: decimal, or "0x" and one to eight hexadecimal digits. */
int ParseMask(const char* text, DWORD* value)
{
    DWORD n = 0;
    const char* p;
    if (text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return ParseDecimal(text, 0xFFFFFFFFul, value);
    if (!text[2] || strlen(text + 2) > 8)
        return 0;
    for (p = text + 2; *p; ++p) {
        int digit = *p >= '0' && *p <= '9' ? *p - '0' : *p >= 'a' && *p <= 'f' ? *p - 'a' + 10
                  : *p >= 'A' && *p <= 'F' ? *p - 'A' + 10 : -1;
        if (digit < 0)
            return 0;
        n = n * 16 + (DWORD)digit;
    }
    *value = n;
    return 1;
}

/* A duration: a number and a unit, s, m, h or d (none: seconds). */
int ParseDuration(const char* text, DWORD* seconds)
{
    static const char units[] = "smhd";
    static const DWORD scale[] = {1, 60, 3600, 86400};
    char digits[16];
    size_t n = strlen(text);
    const char* unit = n ? strchr(units, text[n - 1]) : NULL;
    DWORD value;
    if (unit && text[n - 1])
        --n;
    if (n == 0 || n >= sizeof digits)
        return 0;
    memcpy(digits, text, n);
    digits[n] = '\0';
    if (!ParseDecimal(digits, 0xFFFFFFFFul / scale[unit && text[n] ? unit - units : 0], &value))
        return 0;
    *seconds = value * scale[unit && text[n] ? unit - units : 0];
    return 1;
}
