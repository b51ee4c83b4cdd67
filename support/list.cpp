#include "support/list.h"

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

bool xListReserve(ListText* list, size_t characters)
{
    return Reserve(list, list->length + characters + 1);
}

char* xWriteDecimal(char* at, unsigned long value)
{
    char digits[12];
    char* p = digits + sizeof digits;
    do {
        *--p = char('0' + value % 10);
        value /= 10;
    } while (value);
    const size_t n = size_t(digits + sizeof digits - p);
    memcpy(at, p, n);
    at[n] = '\0';
    return at + n;
}

bool xListAppendNumber(ListText* list, unsigned long value)
{
    if (!Reserve(list, list->length + 12))
        return false;
    char* end = xWriteDecimal(list->text + list->length, value);
    *end++ = kListDelimiter;
    *end = '\0';
    list->length = size_t(end - list->text);
    return true;
}

bool xListAppendText(ListText* list, const char* text)
{
    const size_t n = text ? strlen(text) : 0;
    if (!Reserve(list, list->length + n + 2))
        return false;
    memcpy(list->text + list->length, text ? text : "", n);
    list->length += n;
    list->text[list->length++] = kListDelimiter;
    list->text[list->length] = '\0';
    return true;
}

bool xListFinish(ListText* list)
{
    if (!list->text)
        return Reserve(list, 1);
    // A delimiter in final position is the last character: no code page has
    // a trail byte below 0x40. Anything else is found by walking the text.
    char* last = list->length && list->text[list->length - 1] == kListDelimiter ? list->text + list->length - 1
                                                                                 : xLastChar(list->text);
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
