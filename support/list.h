// TAB-delimited list texts built in time proportional to their length: each
// item is measured and formatted straight into a buffer that grows
// geometrically.
#pragma once
#include <cstddef>

const char kListDelimiter = '\t';

struct ListText {
    char* text;       // null until the first item, and after a failed growth
    size_t length;    // characters, terminator excluded
    size_t capacity;  // characters the allocation holds, terminator included
};

// Appends the formatted item. On a failed allocation the list's text is
// released and left null; returns false then.
bool xListAppendF(ListText* list, const char* format, ...);

// Removes the one final delimiter, or makes the empty text for a list with
// no items. False when the empty text could not be allocated.
bool xListFinish(ListText* list);

void xListRelease(ListText* list);
