// The allocating formatter: printf-style texts in exactly sized C-heap allocations.
#pragma once
#include <cstdarg>

// Formats into a new allocation of exactly the needed size, then frees the
// text *textPointer held before and stores the new one there (so the old text
// may be an argument). Returns the allocation's size (characters + 1); 0 when
// textPointer or format is null (nothing changes) or when memory runs out
// (the old text is freed and *textPointer becomes null).
int xAllocPrintf(char** textPointer, const char* format, ...);
int xAllocVPrintf(char** textPointer, const char* format, va_list arguments);

// Number of characters the C runtime's formatting writes for `format` and
// `arguments`, terminator excluded. Allocates nothing; "%n" stores its count.
int xFormatLength(const char* format, va_list arguments);

// The last multi-byte character of `text`, or `text` itself when it is empty.
char* xLastChar(char* text);
