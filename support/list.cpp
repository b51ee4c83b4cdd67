#include "support/list.h"

#include <cstdlib>
#include <cstring>

#include "support/format.h"

namespace {

const size_t kFirstCapacity = 64;

const size_t kLargest = size_t(-1);

// Makes room for `more` characters after the text and its terminator. The
// capacity doubles while doubling fits; a size past what an allocation can
// hold fails like a failed allocation: the list is released.
bool Grow(ListText* list, size_t more)
{
    if (more > kLargest - 1 - list->length) {
        xListRelease(list);
        return false;
    }
    const size_t needed = list->length + more + 1;
    if (list->text && needed <= list->capacity)
        return true;
    size_t capacity = list->capacity ? list->capacity : kFirstCapacity;
    while (capacity < needed)
        capacity = capacity > kLargest / 2 ? needed : capacity * 2;
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
    return Grow(list, characters);
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
    if (!Grow(list, 11))  // ten digits and the delimiter
        return false;
    char* end = xWriteDecimal(list->text + list->length, value);
    *end++ = kListDelimiter;
    *end = '\0';
    list->length = size_t(end - list->text);
    return true;
}

void xListBlankSeparators(char* from, char* to)
{
    for (; from < to; ++from)
        if (*from == kListDelimiter || *from == '\r' || *from == '\n')
            *from = ' ';
}

bool xListAppendText(ListText* list, const char* text)
{
    const size_t n = text ? strlen(text) : 0;
    if (!Grow(list, n + 1))
        return false;
    memcpy(list->text + list->length, text ? text : "", n);
    xListBlankSeparators(list->text + list->length, list->text + list->length + n);
    list->length += n;
    list->text[list->length++] = kListDelimiter;
    list->text[list->length] = '\0';
    return true;
}

bool xListFinish(ListText* list)
{
    if (!list->text)
        return Grow(list, 0);
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
