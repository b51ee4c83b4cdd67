/* velquor.exe: the servers to ask, from --server lists and @FILE. */
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "cli.h"

/* A server named twice (letters A to Z in either case) is asked once. */
void AddServer(Options* o, const char* name)
{
    int i;
    for (i = 0; i < o->serverCount; ++i)
        if (_stricmp(o->servers[i], name) == 0)
            return;
    if (o->serverCount == o->serverCapacity) {
        int capacity = o->serverCapacity ? o->serverCapacity * 2 : 16;
        const char** grown = (const char**)Allocate(sizeof(char*) * (size_t)capacity);
        if (o->servers)
            memcpy(grown, o->servers, sizeof(char*) * (size_t)o->serverCount);
        free(o->servers);
        o->servers = grown;
        o->serverCapacity = capacity;
    }
    o->servers[o->serverCount++] = name;
}

/* The whole file at `path` (UTF-8) into `*data`; its length, or -1. */
static long ReadWholeFile(const char* path, char** data)
{
    WCHAR wide[MAX_PATH];
    FILE* f;
    long size = 0, n;
    char chunk[4096];
    *data = NULL;
    if (!MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, MAX_PATH) || !(f = _wfopen(wide, L"rb")))
        return -1;
    while ((n = (long)fread(chunk, 1, sizeof chunk, f)) > 0) {
        char* grown = (char*)Allocate((size_t)(size + n) + 1);
        if (*data)
            memcpy(grown, *data, (size_t)size);
        memcpy(grown + size, chunk, (size_t)n);
        free(*data);
        *data = grown, size += n;
    }
    fclose(f);
    if (!*data)
        *data = (char*)Allocate(1);
    return size;
}

/* A file in UTF-16 with its byte-order mark (little- or big-endian) as
 * UTF-8, in place of `*data`; 0 when it holds no such mark. */
static int FromUtf16(char** data, long* size)
{
    const unsigned char* d = (const unsigned char*)*data;
    int big = *size >= 2 && d[0] == 0xFE && d[1] == 0xFF;
    long units, i, bytes;
    WCHAR* wide;
    char* utf8;
    if (!big && !(*size >= 2 && d[0] == 0xFF && d[1] == 0xFE))
        return 0;
    units = (*size - 2) / 2;
    wide = (WCHAR*)Allocate(sizeof(WCHAR) * (size_t)(units + 1));
    for (i = 0; i < units; ++i)
        wide[i] = big ? (WCHAR)(d[2 + 2 * i] << 8 | d[3 + 2 * i]) : (WCHAR)(d[2 + 2 * i] | d[3 + 2 * i] << 8);
    bytes = units ? WideCharToMultiByte(CP_UTF8, 0, wide, (int)units, NULL, 0, NULL, NULL) : 0;
    utf8 = (char*)Allocate((size_t)bytes + 1);
    if (bytes)
        WideCharToMultiByte(CP_UTF8, 0, wide, (int)units, utf8, (int)bytes, NULL, NULL);
    free(wide);
    free(*data);
    *data = utf8, *size = bytes;
    return 1;
}

static int IsUtf8(const char* text, long length)
{
    return length == 0 || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, (int)length, NULL, 0) > 0;
}

/* The servers named in a file, one a line, whatever its length: UTF-8 with
 * or without its byte-order mark, or UTF-16 with one; CR LF or LF; blank
 * lines and "#" comments skipped. NULL when all were taken, else what is
 * wrong (a NUL byte, a line that is not UTF-8, a file that cannot be read). */
static const char* AddServersFromFile(Options* o, const char* path)
{
    static char problem[600];
    char *data, *line, *next;
    long size = ReadWholeFile(path, &data), number = 1;
    if (size < 0)
        return "cannot be read";
    if (!FromUtf16(&data, &size) && size >= 3 && memcmp(data, "\xEF\xBB\xBF", 3) == 0)
        memmove(data, data + 3, (size_t)(size -= 3) + 1);
    for (line = data; line < data + size; line = next + 1, ++number) {
        char *start = line, *end;
        next = memchr(line, '\n', (size_t)(data + size - line));
        if (!next)
            next = data + size;
        if (memchr(line, '\0', (size_t)(next - line)) || !IsUtf8(line, (long)(next - line))) {
            sprintf(problem, "line %ld %s", number,
                    memchr(line, '\0', (size_t)(next - line))
                        ? "holds a NUL byte (a file in UTF-16 needs its byte-order mark)"
                        : "is not UTF-8 (nor UTF-16 with a byte-order mark)");
            free(data);
            return problem;
        }
        *next = '\0';
        if ((end = strchr(start, '#')) != NULL)
            *end = '\0';
        while (*start == ' ' || *start == '\t')
            ++start;
        end = start + strlen(start);
        while (end > start && strchr(" \t\r", end[-1]))
            *--end = '\0';
        if (*start)
            AddServer(o, Copy(start));
    }
    free(data);
    return NULL;
}

const char kDomainFailed[] = "the domain's servers could not be listed";

/* The terminal servers of a domain, as the network lists them; the failure
 * is said here. */
static const char* AddDomainServers(Options* o, const char* domain)
{
    ServerListRecord* r = NULL;
    LONG error = QRVTS_EnumerateServersUtf8(domain, &r);
    if (error == QRVTS_OK) {
        const char* names = r->ServerNames;
        DWORD i;
        for (i = 0; i < r->Count; ++i)
            AddServer(o, NextItem(&names));
    } else {
        char text[600];
        ErrorText(error, text, sizeof text);
        ErrorLine("velquor: the servers of domain %s: %s (Windows error %lu)\n", domain[0] ? domain : "(yours)", text,
                  QRVTS_GetLastErrorCode());
    }
    QRVTS_FreeBuffer(r);
    return error == QRVTS_OK ? NULL : kDomainFailed;
}

/* A comma-separated list of names, @FILE or @domain:NAME; NULL when taken,
 * else what is wrong with the file (kDomainFailed: said already). */
const char* AddServers(Options* o, char* list)
{
    char* name;
    o->serverGiven = 1;
    if (strncmp(list, "@domain:", 8) == 0)
        return AddDomainServers(o, list + 8);
    if (list[0] == '@')
        return AddServersFromFile(o, list + 1);
    for (name = strtok(list, ","); name; name = strtok(NULL, ","))
        AddServer(o, name);
    return NULL;
}
