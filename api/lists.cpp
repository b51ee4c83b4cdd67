#include "api/lists.h"

#include <cstring>

void xPackLists(char* block, size_t headerBytes, ListText* const* texts, int count, LPSTR* const* pointers)
{
    char* at = block + headerBytes;
    for (int i = 0; i < count; ++i) {
        *pointers[i] = at;
        memcpy(at, texts[i]->text, texts[i]->length + 1);
        at += texts[i]->length + 1;
    }
}

size_t xListsBytes(ListText* const* texts, int count)
{
    size_t bytes = 0;
    for (int i = 0; i < count; ++i)
        bytes += texts[i]->length + 1;
    return bytes;
}

void xReleaseLists(ListText* const* texts, int count)
{
    for (int i = 0; i < count; ++i)
        xListRelease(texts[i]);
}
