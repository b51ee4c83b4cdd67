// What the session and process enumerations share: the platform's buffer,
// the lists, and how a block of them is packed.
#pragma once
#include <windows.h>

#include "support/list.h"

// Copies the finished lists one after another behind a header of
// `headerBytes`; `pointers[i]` receives the address of text `order[i]`.
void xPackLists(char* block, size_t headerBytes, ListText* const* texts, int count, LPSTR* const* pointers);

// Total length of the finished lists, terminators included.
size_t xListsBytes(ListText* const* texts, int count);

// Releases every list.
void xReleaseLists(ListText* const* texts, int count);

// The state word of a connect state.
const char* xStateWord(DWORD state);

// SID text without recording a rejection; `rejected` receives the error of
// a SID the platform's check refused (0 when none was refused).
BOOL xSidToText(PSID sid, LPSTR buffer, DWORD size, DWORD* rejected, bool* wasRejected);
