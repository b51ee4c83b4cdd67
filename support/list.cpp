#include "support/list.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/format.h"

namespace {

const size_t kFirstCapacity = 64;

bool Reserve(ListText* list, size_t needed)
{
    if (list->text && needed <= list->capacity)
        return true;
    size_t capacity = list->capacity ? list->capacity : kFirstCapacity;
    while (capacity < needed)
        capacity *= 2;
    char* grown = static_cast<char*>(calloc(capacity, 1));
    if (!grown) {
        xListRelease(list);
        return false;
    }
    if (list->text)
        memcpy(grown, list->text, list->length + 1);
    free(list->text);
    list->text = grown;
    list->capacity = capacity;
    return true;
}

}  // namespace

bool xListAppendF(ListText* list, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const size_t n = size_t(xFormatLength(format, args));
    bool ok = Reserve(list, list->length + n + 1);
    if (ok) {
        _vsnprintf(list->text + list->length, n + 1, format, args);
        list->length += n;
        list->text[list->length] = '\0';
    }
    va_end(args);
    return ok;
}

bool xListFinish(ListText* list)
{
    if (!list->text)
        return Reserve(list, 1);
    char* last = xLastChar(list->text);
    if (*last == kListDelimiter) {
        *last = '\0';
        list->length = size_t(last - list->text);
    }
    return true;
}

void xListRelease(ListText* list)
{
    free(list->text);
    list->text = nullptr;
    list->length = 0;
    list->capacity = 0;
}
