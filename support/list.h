// TAB-delimited list texts built in time proportional to their length: each
// item is written straight into a buffer that grows geometrically.
#pragma once
#include <cstddef>

const char kListDelimiter = '\t';

struct ListText {
    char* text;       // null until the first item, and after a failed growth
    size_t length;    // characters, terminator excluded
    size_t capacity;  // characters the allocation holds, terminator included
};

// The two items every list is made of, each followed by the delimiter: an
// unsigned decimal number ("%lu") and a text ("%s", null as empty), whose
// TAB, CR and LF characters become spaces, so that every list keeps one item
// per entry whatever a name holds. On a failed allocation the list's text
// is released and left null; they return false then.
bool xListAppendNumber(ListText* list, unsigned long value);
bool xListAppendText(ListText* list, const char* text);

// Turns each TAB, CR and LF from `from` up to `to` into a space. No code
// page has a trail byte below 0x40, so a byte-wise pass is safe in ANSI
// and UTF-8 texts alike.
void xListBlankSeparators(char* from, char* to);

// Makes room for `characters` more characters at once, where the caller
// knows roughly how long the list will be. False when memory ran out.
bool xListReserve(ListText* list, size_t characters);

// Removes the one final delimiter, or makes the empty text for a list with
// no items. False when the empty text could not be allocated.
bool xListFinish(ListText* list);

void xListRelease(ListText* list);

// Writes `value` in unsigned decimal at `at`, with a terminator; returns the
// position of the terminator.
char* xWriteDecimal(char* at, unsigned long value);
