// UTF-8 texts on the platform's wide-character services: each conversion
// is made once, at the edge, with the platform's own converters.
#pragma once
#include <windows.h>

#include "support/list.h"

// The UTF-8 form of the first `units` UTF-16 units of `text` (or of the
// whole of it up to its terminator when `units` is -1), in a new C-heap
// allocation that replaces (and frees) what *out held. Null text is the
// empty text. False when memory ran out: *out is then null.
bool xAllocUtf8(char** out, const WCHAR* text, int units);

// Appends the UTF-8 form of `text` (null as empty) and the delimiter; on a
// failed allocation the list is released, as xListAppendText does.
bool xListAppendWide(ListText* list, const WCHAR* text);

// The UTF-16 form of the UTF-8 text `text` (null as empty) in a new C-heap
// allocation; its length in units goes to `units`. Null when memory ran
// out or when the text is not UTF-8 (`*invalid` then true).
WCHAR* xAllocWide(const char* text, int* units, bool* invalid);

// Copies the UTF-8 form of the text `ansi`, in the process's ANSI code
// page, into `buffer` of `size` bytes, cut at a character's end; returns
// the bytes copied, terminator excluded.
int xAnsiToUtf8(const char* ansi, char* buffer, DWORD size);

// Converts the UTF-8 text `text` into `buffer` of `size` units, terminator
// included; returns its length in units, or one of these.
const int kTooLong = -1;
const int kNotUtf8 = -2;
int xUtf8ToWideIn(const char* text, WCHAR* buffer, int size);
